#pragma once

#include <QDateTime>
#include <QFileInfo>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <vector>

// One take of a sound roll as the sound report lists it, read from the
// broadcast-wave metadata of its file.
struct SoundReportTake {
    QString fileNumber;   // the take name from the file name; empty when it has none
    QString fileName;     // with extension, without folder
    QString scene;
    QString take;
    QString project;
    QString soundRoll;    // the file's tape
    QString timecodeIn;   // "HH:MM:SS:FF", empty without timecode
    QString timecodeOut;
    double durationSeconds = 0.0;
    QString notes;
    QStringList trackNames;  // one per channel, in channel order
    QDateTime fileDate;      // last modification; the scan gives it in UTC
    double frameRate = 0.0;
    uint32_t sampleRate = 0;
    uint16_t bitDepth = 0;
    bool isPolyphonic = false;
    // Samples since midnight and the rate they count in (0 without timecode).
    uint64_t timeReference = 0;
    uint32_t timestampSampleRate = 0;
};

// The scan of a sound-roll folder and the text forms every report shares.
// The scan reads files and may run on any thread (the dialog runs it in the
// background); the formatters are pure.
namespace SoundReportTakes {

// Every regular file of the folder whose name ends in ".wav" in any case
// (no subfolders, no hidden files), sorted by file number, scene and take as
// byte strings. A file that vanishes while it is read is left out; one that
// cannot be read gives a take with empty texts and zero numbers.
// `progress`, when given, is called before each file is read with the files
// read and the files listed, and once more at the end; when it answers false
// the scan stops and returns the takes read so far.
using ScanProgress = std::function<bool(int done, int total)>;
std::vector<SoundReportTake> scanFolder(const QString& folder, const ScanProgress& progress = {});

// One file, as listed (its cached file type decides whether it is read; the
// date is the open file's own); false when it is not a regular file or no
// longer exists.
bool readTake(const QFileInfo& file, SoundReportTake& take);

// "AAD" names up to their first "_" (AAD_1 gives AAD), and any take name of
// three capital letters and four digits followed by "_" (XYZ0012_S3_T4
// gives XYZ0012); empty otherwise.
QString fileNumberOf(const QString& baseName);

// The folder the report opens with, from the recorder's keys; empty when
// none of them names an existing folder.
QString openingFolder();
// The start folder of "Select Folder...": the current roll's folder from the
// keys (whether it exists or not), else empty.
QString currentRollFolder();

// Time of day, wrapped at 24 h; "--:--:--:--" without rate or fps.
QString formatTimecode(uint64_t samples, uint32_t rate, double fps);
// A length as HH:MM:SS:FF, not wrapped; 30 fps when fps is not above 0.
QString formatDuration(double seconds, double fps);
// "25nd-C", "23.98nd-C", "29.97df-C"; empty when fps is not above 0.
QString formatFramerate(double fps);

} // namespace SoundReportTakes
