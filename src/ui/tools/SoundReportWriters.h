#pragma once

#include "ui/tools/SoundReportTakes.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <vector>

// What heads a PDF sound report (the production company is kept but
// printed by no report).
struct SoundReportProduction {
    QString productionCompany;
    QString projectName;
    QString director;
    QString soundMixer;
    QString mixerPhone;
    QString mixerEmail;
    QString companyLogoPath;
};

// The sound report formats. Text builders are pure; the file writers
// write into a temporary file beside the target and rename it over the
// target only when every byte was written, so a failed report leaves the
// earlier one intact. GUI thread (the PDF uses Qt's text layout).
namespace SoundReportWriters {

// Every format's file writer takes the same arguments, whether it prints them
// all or not, so the formats can sit in one table (SoundReportFormats.h).
// False with a reason when the file was not written.
using Writer = bool (*)(const QString& path, const std::vector<SoundReportTake>& takes,
                        const SoundReportProduction& production, const QString& rollName, QString& reason);

// Quoted, with quotes doubled, when the text holds a comma, quote, LF or CR.
QString escapeCsv(const QString& text);
// Header and one line per take, 13 fields, UTF-8 without BOM, LF line ends.
QByteArray csvText(const std::vector<SoundReportTake>& takes);
// Heading, Column and Data sections, TAB-separated, 13 fields a row. The
// FPS line is the first take's rate that is above 0 (30 when none is);
// durations count in it and End = Start + Duration in frames.
QByteArray aleText(const std::vector<SoundReportTake>& takes);

// The FPS the ALE declares for these takes.
double aleFramesPerSecond(const std::vector<SoundReportTake>& takes);

// Writes `bytes` to `path` through a temporary file; false with a reason.
bool writeFileSafely(const QString& path, const QByteArray& bytes, QString& reason);
// The same for a producer that writes the file named by its argument.
bool writeFileSafely(const QString& path, const std::function<bool(const QString& tempPath, QString& reason)>& produce,
                     QString& reason);

// csvText and aleText written through a temporary file.
bool writeCsv(const QString& path, const std::vector<SoundReportTake>& takes, const SoundReportProduction& production,
              const QString& rollName, QString& reason);
bool writeAle(const QString& path, const std::vector<SoundReportTake>& takes, const SoundReportProduction& production,
              const QString& rollName, QString& reason);

// A4 PDF: head (title, logo), production block, two table rows per take.
// False with a reason when there are no takes or the file was not written.
bool writePdf(const QString& path, const std::vector<SoundReportTake>& takes, const SoundReportProduction& production,
              const QString& rollName, QString& reason);

} // namespace SoundReportWriters
