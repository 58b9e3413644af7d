#include "ui/tools/SoundReportWriters.h"

#include "ui/common/Theme.h"

#include <QAbstractTextDocumentLayout>
#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPrinter>
#include <QTemporaryFile>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextTable>
#include <QUrl>

#include <sys/stat.h>

#include <cmath>
#include <filesystem>
#include <system_error>

namespace {

constexpr double kAleFallbackFps = 30.0;
constexpr double kFrameEpsilon = 1e-6;
const char* const kCsvHeader =
    "File Number,Filename,Scene,Take,Timecode In,Timecode Out,Duration,Sample Rate,Bit Depth,Frame Rate,Track "
    "Count,Track Names,Notes";

QString withoutWavExtension(const QString& fileName)
{
    return fileName.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive) ? fileName.left(fileName.size() - 4)
                                                                         : fileName;
}

// A TAB or line break inside an ALE field would shift columns or start a row.
QString aleField(QString text)
{
    for (QChar& c : text) {
        if (c == '\t' || c == '\n' || c == '\r')
            c = ' ';
    }
    return text;
}

// ALE timecodes count frame labels: the nominal rate's frames per second
// (24 for 23.976, 30 for 29.97).
int64_t labelsPerSecond(double fps)
{
    return std::max<int64_t>(1, std::llround(fps));
}

QString labelText(int64_t frames, int64_t perSecond)
{
    const int64_t seconds = frames / perSecond;
    return QStringLiteral("%1:%2:%3:%4")
        .arg(seconds / 3600, 2, 10, QChar('0'))
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'))
        .arg(frames % perSecond, 2, 10, QChar('0'));
}

// "HH:MM:SS:FF" as frame labels; -1 when the text is no timecode.
int64_t labelFrames(const QString& timecode, int64_t perSecond)
{
    const QStringList parts = timecode.split(':');
    if (parts.size() != 4)
        return -1;
    int64_t values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toLongLong(&ok);
        if (!ok || values[i] < 0)
            return -1;
    }
    return ((values[0] * 60 + values[1]) * 60 + values[2]) * perSecond + values[3];
}

const SoundReportTake* firstTakeWithRate(const std::vector<SoundReportTake>& takes)
{
    for (const SoundReportTake& take : takes) {
        if (take.frameRate > 0.0)
            return &take;
    }
    return nullptr;
}

QTextCharFormat reportFont(double pointSize, bool bold)
{
    QFont font(QStringLiteral("Calibri"));
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    font.setStyleStrategy(QFont::PreferAntialias);
    QTextCharFormat format;
    format.setFont(font, QTextCharFormat::FontPropertiesAll);
    return format;
}

struct ReportSummary {
    QString date;
    QString fileType;
    uint32_t sampleRate = 0;
    uint16_t bitDepth = 0;
    double frameRate = 0.0;
};

ReportSummary summarize(const std::vector<SoundReportTake>& takes)
{
    ReportSummary summary;
    QDateTime earliest;
    bool anyPoly = false;
    bool anyMono = false;
    for (const SoundReportTake& take : takes) {
        if (take.fileDate.isValid() && (!earliest.isValid() || take.fileDate < earliest))
            earliest = take.fileDate;
        (take.isPolyphonic ? anyPoly : anyMono) = true;
        if (take.sampleRate != 0)
            summary.sampleRate = take.sampleRate;
        if (take.bitDepth != 0)
            summary.bitDepth = take.bitDepth;
        if (take.frameRate > 0.0)
            summary.frameRate = take.frameRate;
    }
    summary.date = (earliest.isValid() ? earliest.toLocalTime().date() : QDate::currentDate()).toString(QStringLiteral("yyyy-MM-dd"));
    summary.fileType = anyPoly && anyMono ? QStringLiteral("Mono BWF / Poly BWF")
                       : anyPoly          ? QStringLiteral("Poly BWF")
                                          : QStringLiteral("Mono BWF");
    return summary;
}

void insertHead(QTextDocument& document, QTextCursor& cursor, const QString& logoPath)
{
    const QTextCharFormat title = reportFont(14, true);
    QImage logo;
    if (!logoPath.isEmpty() && logo.load(logoPath)) {
        if (logo.width() > 120 || logo.height() > 60)
            logo = logo.scaled(120, 60, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        QTextTableFormat format;
        format.setBorder(0);
        format.setCellPadding(0);
        format.setCellSpacing(0);
        format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
        format.setColumnWidthConstraints(
            {QTextLength(QTextLength::PercentageLength, 70), QTextLength(QTextLength::PercentageLength, 30)});
        QTextTable* table = cursor.insertTable(1, 2, format);
        QTextCursor left = table->cellAt(0, 0).firstCursorPosition();
        QTextBlockFormat leftBlock;
        leftBlock.setAlignment(Qt::AlignLeft);
        left.setBlockFormat(leftBlock);
        left.insertText(QStringLiteral("Sound Report"), title);
        QTextCursor right = table->cellAt(0, 1).firstCursorPosition();
        QTextBlockFormat rightBlock;
        rightBlock.setAlignment(Qt::AlignRight);
        right.setBlockFormat(rightBlock);
        document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("companylogo")), logo);
        QTextImageFormat image;
        image.setName(QStringLiteral("companylogo"));
        image.setWidth(logo.width());
        image.setHeight(logo.height());
        right.insertImage(image);
        cursor.movePosition(QTextCursor::End);
        cursor.insertBlock();
        return;
    }
    QTextBlockFormat centred;
    centred.setAlignment(Qt::AlignCenter);
    centred.setBottomMargin(10);
    cursor.setBlockFormat(centred);
    cursor.insertText(QStringLiteral("Sound Report"), title);
    cursor.insertBlock();
}

void insertProduction(QTextCursor& cursor, const SoundReportProduction& production, const ReportSummary& summary,
                      const QString& rollName)
{
    QTextTableFormat format;
    format.setBorder(0);
    format.setCellPadding(2);
    format.setCellSpacing(5);
    format.setColumnWidthConstraints({QTextLength(QTextLength::PercentageLength, 33),
                                      QTextLength(QTextLength::PercentageLength, 33),
                                      QTextLength(QTextLength::PercentageLength, 34)});
    // The head block's alignment must not centre the table's cells.
    QTextBlockFormat left;
    left.setAlignment(Qt::AlignLeft);
    cursor.setBlockFormat(left);
    QTextTable* table = cursor.insertTable(4, 3, format);
    const QString cells[4][3] = {
        {"Project: " + production.projectName, "File Type: " + summary.fileType, "Date: " + summary.date},
        {"Sound Mixer: " + production.soundMixer, "Sound Roll: " + rollName,
         "Frame Rate: " + SoundReportTakes::formatFramerate(summary.frameRate)},
        {"Mixer Phone: " + production.mixerPhone, "Director: " + production.director,
         QStringLiteral("Bit Depth: %1 bits").arg(summary.bitDepth)},
        {"Mixer Email: " + production.mixerEmail, QStringLiteral("Producer:"),
         QStringLiteral("Sample Rate: %1 Hz").arg(summary.sampleRate)},
    };
    const QTextCharFormat text = reportFont(9, false);
    for (int row = 0; row < 4; ++row) {
        for (int column = 0; column < 3; ++column)
            table->cellAt(row, column).firstCursorPosition().insertText(cells[row][column], text);
    }
    cursor.movePosition(QTextCursor::End);
    cursor.insertBlock();
    cursor.insertBlock();
}

// HH:MM:SS of a length.
QString durationWithoutFrames(const SoundReportTake& take)
{
    const QString duration = SoundReportTakes::formatDuration(take.durationSeconds, take.frameRate);
    return duration.count(':') == 3 ? duration.left(duration.lastIndexOf(':')) : duration;
}

void insertTakeTable(QTextCursor& cursor, const std::vector<SoundReportTake>& takes, const ReportSummary& summary)
{
    QTextTableFormat format;
    format.setBorder(1);
    format.setBorderStyle(QTextFrameFormat::BorderStyle_Solid);
    format.setCellPadding(4);
    format.setCellSpacing(0);
    format.setAlignment(Qt::AlignLeft);
    format.setWidth(QTextLength(QTextLength::PercentageLength, 100));
    format.setColumnWidthConstraints(
        {QTextLength(QTextLength::PercentageLength, 35), QTextLength(QTextLength::PercentageLength, 12),
         QTextLength(QTextLength::PercentageLength, 8), QTextLength(QTextLength::PercentageLength, 12),
         QTextLength(QTextLength::PercentageLength, 10), QTextLength(QTextLength::PercentageLength, 23)});
    const int rows = static_cast<int>(takes.size()) * 2 + 1;
    QTextTable* table = cursor.insertTable(rows, 6, format);

    QTextCharFormat header = reportFont(9, true);
    header.setBackground(QBrush(QColor(Theme::kReportHeaderBg), Qt::SolidPattern));
    const char* const kHeader[] = {"File Name", "Scene", "Take", "FPS", "Dur.", "Start TC"};
    for (int column = 0; column < 6; ++column)
        table->cellAt(0, column).firstCursorPosition().insertText(kHeader[column], header);

    const QTextCharFormat text = reportFont(8, false);
    const QTextCharFormat label = reportFont(8, true);
    const QString rateText = SoundReportTakes::formatFramerate(summary.frameRate);
    for (size_t k = 0; k < takes.size(); ++k) {
        const SoundReportTake& take = takes[k];
        const int row = static_cast<int>(k) * 2 + 1;
        QTextCursor name = table->cellAt(row, 0).firstCursorPosition();
        QTextBlockFormat leftBlock;
        leftBlock.setAlignment(Qt::AlignLeft);
        name.setBlockFormat(leftBlock);
        const QString tracks = take.trackNames.isEmpty() ? QStringLiteral("MIX") : take.trackNames.join(", ");
        name.insertText(withoutWavExtension(take.fileName) + QChar::LineSeparator + "Tracks: " + tracks, text);
        table->cellAt(row, 1).firstCursorPosition().insertText(take.scene, text);
        table->cellAt(row, 2).firstCursorPosition().insertText(take.take, text);
        table->cellAt(row, 3).firstCursorPosition().insertText(rateText, text);
        table->cellAt(row, 4).firstCursorPosition().insertText(durationWithoutFrames(take), text);
        table->cellAt(row, 5).firstCursorPosition().insertText(take.timecodeIn, text);

        table->mergeCells(row + 1, 0, 1, 6);
        QTextCursor notes = table->cellAt(row + 1, 0).firstCursorPosition();
        notes.setBlockFormat(leftBlock);
        notes.insertText(QStringLiteral("Notes: "), label);
        if (!take.notes.isEmpty())
            notes.insertText(take.notes, text);
    }
}

// A PDF whose writing stopped part-way lacks its trailer.
bool isCompletePdf(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly) || file.size() < 64)
        return false;
    const QByteArray head = file.read(5);
    file.seek(std::max<qint64>(0, file.size() - 32));
    return head == "%PDF-" && file.readAll().contains("%%EOF");
}

// 0666 less the process's umask, read without changing it (umask(2) can only
// set it, and another thread could create a file meanwhile); 022 when the
// kernel does not say.
mode_t modeOfANewFile()
{
    mode_t mask = 022;
    QFile status("/proc/self/status");
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray& line : status.readAll().split('\n')) {
            bool ok = false;
            const unsigned value = line.startsWith("Umask:") ? line.mid(6).trimmed().toUInt(&ok, 8) : 0;
            if (ok)
                mask = static_cast<mode_t>(value);
        }
    }
    return 0666 & ~mask;
}

} // namespace

namespace SoundReportWriters {

QString escapeCsv(const QString& text)
{
    if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r'))
        return text;
    QString quoted = text;
    quoted.replace('"', QLatin1String("\"\""));
    return '"' + quoted + '"';
}

QByteArray csvText(const std::vector<SoundReportTake>& takes)
{
    QString text = QString::fromLatin1(kCsvHeader) + '\n';
    for (const SoundReportTake& take : takes) {
        const QStringList fields = {
            escapeCsv(take.fileNumber),
            escapeCsv(take.fileName),
            escapeCsv(take.scene),
            escapeCsv(take.take),
            escapeCsv(take.timecodeIn),
            escapeCsv(take.timecodeOut),
            escapeCsv(SoundReportTakes::formatDuration(take.durationSeconds, take.frameRate)),
            QString::number(take.sampleRate),
            QString::number(take.bitDepth),
            escapeCsv(SoundReportTakes::formatFramerate(take.frameRate)),
            QString::number(take.trackNames.size()),
            escapeCsv(take.trackNames.join("; ")),
            escapeCsv(take.notes),
        };
        text += fields.join(',') + '\n';
    }
    return text.toUtf8();
}

double aleFramesPerSecond(const std::vector<SoundReportTake>& takes)
{
    const SoundReportTake* rated = firstTakeWithRate(takes);
    return rated ? rated->frameRate : kAleFallbackFps;
}

QByteArray aleText(const std::vector<SoundReportTake>& takes)
{
    QString audioFormat = QStringLiteral("48kHz 24-bit");
    QString fpsText = QStringLiteral("23.976");
    const double fps = aleFramesPerSecond(takes);
    if (!takes.empty()) {
        const SoundReportTake* rated = firstTakeWithRate(takes);
        const SoundReportTake& described = rated ? *rated : takes.front();
        audioFormat = QStringLiteral("%1kHz %2-bit").arg(described.sampleRate / 1000).arg(described.bitDepth);
        fpsText = QString::number(fps, 'f', 3);
    }
    QString text = QStringLiteral("Heading\nFIELD_DELIM\tTABS\nAUDIO_FORMAT\t") + audioFormat + "\nFPS\t" + fpsText +
                   "\n\nColumn\n"
                   "Name\tTape\tStart\tEnd\tDuration\tTracks\tScene\tTake\tSoundRoll\tNotes\tSampleRate\tBitDepth\t"
                   "FrameRate\n\nData\n";
    const int64_t perSecond = labelsPerSecond(fps);
    const int64_t labelsPerDay = perSecond * 24 * 3600;
    for (const SoundReportTake& take : takes) {
        const auto durationFrames =
            static_cast<int64_t>(std::floor(std::max(0.0, take.durationSeconds) * fps + kFrameEpsilon));
        const int64_t startFrames = labelFrames(take.timecodeIn, perSecond);
        QString start;
        QString end;
        if (startFrames >= 0) {
            start = labelText(startFrames % labelsPerDay, perSecond);
            end = labelText((startFrames + durationFrames) % labelsPerDay, perSecond);
        }
        const QStringList fields = {
            aleField(withoutWavExtension(take.fileName)),
            aleField(take.soundRoll),
            start,
            end,
            labelText(durationFrames, perSecond),
            QString::number(take.trackNames.size()),
            aleField(take.scene),
            aleField(take.take),
            aleField(take.soundRoll),
            aleField(take.notes),
            QString::number(take.sampleRate),
            QString::number(take.bitDepth),
            SoundReportTakes::formatFramerate(take.frameRate),
        };
        text += fields.join('\t') + '\n';
    }
    return text.toUtf8();
}

bool writeFileSafely(const QString& path, const std::function<bool(const QString&, QString&)>& produce,
                     QString& reason)
{
    std::error_code error;
    const std::filesystem::path target = path.toStdString();
    if (std::filesystem::exists(target, error) && !std::filesystem::is_regular_file(target, error)) {
        reason = "Not a regular file: " + path;
        return false;
    }
    const QFileInfo info(path);
    QTemporaryFile temporary(info.absolutePath() + "/." + info.fileName() + ".XXXXXX.partial");
    if (!temporary.open()) {
        reason = "Cannot create a file in " + info.absolutePath() + ": " + temporary.errorString();
        return false;
    }
    const QString temporaryPath = temporary.fileName();
    // A temporary file is made 0600; the report is for others to read, so it
    // gets the mode any new file of the user gets.
    temporary.close();
    ::chmod(QFile::encodeName(temporaryPath).constData(), modeOfANewFile());
    if (!produce(temporaryPath, reason))
        return false;  // the temporary file is removed with `temporary`
    std::filesystem::rename(temporaryPath.toStdString(), target, error);
    if (error) {
        reason = "Cannot move the report into place: " + QString::fromStdString(error.message());
        return false;
    }
    temporary.setAutoRemove(false);
    return true;
}

bool writeFileSafely(const QString& path, const QByteArray& bytes, QString& reason)
{
    return writeFileSafely(
        path,
        [&bytes](const QString& temporaryPath, QString& why) {
            QFile file(temporaryPath);
            if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size() ||
                !file.flush()) {
                why = "Writing the report failed: " + file.errorString();
                return false;
            }
            file.close();
            if (file.error() != QFileDevice::NoError) {
                why = "Closing the report failed: " + file.errorString();
                return false;
            }
            return true;
        },
        reason);
}

bool writeCsv(const QString& path, const std::vector<SoundReportTake>& takes, const SoundReportProduction&,
              const QString&, QString& reason)
{
    return writeFileSafely(path, csvText(takes), reason);
}

bool writeAle(const QString& path, const std::vector<SoundReportTake>& takes, const SoundReportProduction&,
              const QString&, QString& reason)
{
    return writeFileSafely(path, aleText(takes), reason);
}

bool writePdf(const QString& path, const std::vector<SoundReportTake>& takes, const SoundReportProduction& production,
              const QString& rollName, QString& reason)
{
    if (takes.empty()) {
        reason = QStringLiteral("There are no takes to report");
        return false;
    }
    const ReportSummary summary = summarize(takes);
    return writeFileSafely(
        path,
        [&](const QString& temporaryPath, QString& why) {
            QPrinter printer(QPrinter::HighResolution);
            printer.setOutputFormat(QPrinter::PdfFormat);
            printer.setOutputFileName(temporaryPath);
            printer.setPageSize(QPageSize(QPageSize::A4));
            printer.setPageMargins(QMarginsF(0.5, 0.5, 0.5, 0.5), QPageLayout::Inch);
            printer.setResolution(300);

            QTextDocument document;
            document.setPageSize(QSizeF(648, 864));
            QFont base(QStringLiteral("Calibri"), 10);
            base.setStyleStrategy(QFont::PreferAntialias);
            document.setDefaultFont(base);
            QTextCursor cursor(&document);
            insertHead(document, cursor, production.companyLogoPath);
            insertProduction(cursor, production, summary, rollName);
            insertTakeTable(cursor, takes, summary);
            document.print(&printer);
            if (!isCompletePdf(temporaryPath)) {
                why = QStringLiteral("The PDF could not be written completely");
                return false;
            }
            return true;
        },
        reason);
}

} // namespace SoundReportWriters
