// The sound report files: the CSV read back by Python's csv module in strict
// mode, the ALE by a checker of the ALE layout, the PDF by poppler's tools;
// failed writes leave an earlier report intact.

#include "SoundReportTestTakes.h"
#include "support/ChildProcess.h"
#include "support/ExternalTool.h"
#include "support/ScopedUmask.h"
#include "support/TempHome.h"
#include "ui/tools/SoundReportWriters.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QPainter>

#include <gtest/gtest.h>

namespace {

using namespace SoundReportWriters;

SoundReportTake reportTake(const QString& fileName, const QString& scene, const QString& take, double fps,
                           const QString& timecodeIn, double seconds)
{
    SoundReportTake t;
    t.fileName = fileName;
    t.fileNumber = fileName.left(7);
    t.scene = scene;
    t.take = take;
    t.soundRoll = "R012";
    t.project = "Feature";
    t.frameRate = fps;
    t.timecodeIn = timecodeIn;
    t.timecodeOut = timecodeIn;
    t.durationSeconds = seconds;
    t.sampleRate = 48000;
    t.bitDepth = 24;
    t.trackNames = {"MIX", "Boom"};
    t.fileDate = QDateTime(QDate(2026, 3, 4), QTime(10, 0));
    t.isPolyphonic = true;
    return t;
}

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

class SoundReportWritersTest : public TempHomeTest {
protected:
    QString pathFor(const QString& name) const { return home_.path() + "/" + name; }
};

TEST_F(SoundReportWritersTest, CsvReadsBackInStrictModeFieldForField)
{
    TONVALE_REQUIRE_TOOL("python3");
    std::vector<SoundReportTake> takes = {reportTake("ABC0001_S1_T1.wav", "1", "1", 25, "10:00:00:05", 3725.5),
                                          reportTake("ABC0002_S1_T2.wav", "1, \"2\"", "2", 0, "", 1.5)};
    takes[0].notes = QString::fromUtf8("Lav, \"boom\"\r\nwind été ✓\nend");
    takes[1].trackNames = {};
    const QString path = pathFor("report.csv");
    QString reason;
    ASSERT_TRUE(writeFileSafely(path, csvText(takes), reason)) << reason.toStdString();

    QFile raw(path);
    ASSERT_TRUE(raw.open(QIODevice::ReadOnly));
    const QByteArray bytes = raw.readAll();
    EXPECT_FALSE(bytes.startsWith("\xEF\xBB\xBF"));
    EXPECT_TRUE(bytes.startsWith("File Number,Filename,Scene,Take,Timecode In,Timecode Out,Duration,Sample Rate,"
                                 "Bit Depth,Frame Rate,Track Count,Track Names,Notes\n"));
    EXPECT_TRUE(bytes.endsWith("\n"));

    const char* const kReader =
        "import csv, json, sys\n"
        "with open(sys.argv[1], newline='', encoding='utf-8') as f:\n"
        "    print(json.dumps(list(csv.reader(f, strict=True))))\n";
    const ToolResult result = runTool(findTool("python3"), {"-c", kReader, path});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
    const QJsonArray rows = QJsonDocument::fromJson(result.standardOutput.toUtf8()).array();
    ASSERT_EQ(rows.size(), 3);
    for (const auto& row : rows)
        EXPECT_EQ(row.toArray().size(), 13);
    const QJsonArray first = rows[1].toArray();
    EXPECT_EQ(first[0].toString(), "ABC0001");
    EXPECT_EQ(first[4].toString(), "10:00:00:05");
    EXPECT_EQ(first[6].toString(), "01:02:05:12");
    EXPECT_EQ(first[7].toString(), "48000");
    EXPECT_EQ(first[9].toString(), "25nd-C");
    EXPECT_EQ(first[10].toString(), "2");
    EXPECT_EQ(first[11].toString(), "MIX; Boom");
    EXPECT_EQ(first[12].toString(), takes[0].notes);
    const QJsonArray second = rows[2].toArray();
    EXPECT_EQ(second[2].toString(), "1, \"2\"");
    EXPECT_EQ(second[4].toString(), "");
    EXPECT_EQ(second[5].toString(), "");
    EXPECT_EQ(second[6].toString(), "00:00:01:15");  // 30 fps without a rate
    EXPECT_EQ(second[9].toString(), "");
    EXPECT_EQ(second[10].toString(), "0");
}

// The ALE layout rules, checked line by line; returns the data rows.
std::vector<QStringList> checkAle(const QString& text, double& fps)
{
    std::vector<QStringList> rows;
    QStringList lines = text.split('\n');
    EXPECT_TRUE(text.endsWith('\n'));
    EXPECT_FALSE(text.contains('\r'));
    lines.removeLast();
    EXPECT_GE(lines.size(), 9);
    if (lines.size() < 9)
        return rows;
    EXPECT_EQ(lines[0], "Heading");
    EXPECT_EQ(lines[1], "FIELD_DELIM\tTABS");
    EXPECT_TRUE(lines[2].startsWith("AUDIO_FORMAT\t")) << lines[2].toStdString();
    EXPECT_TRUE(lines[3].startsWith("FPS\t"));
    fps = lines[3].mid(4).toDouble();
    EXPECT_GT(fps, 0.0) << lines[3].toStdString();
    EXPECT_EQ(lines[4], "");
    EXPECT_EQ(lines[5], "Column");
    EXPECT_EQ(lines[6].split('\t').size(), 13);
    EXPECT_EQ(lines[7], "");
    EXPECT_EQ(lines[8], "Data");
    for (int i = 9; i < lines.size(); ++i) {
        rows.push_back(lines[i].split('\t'));
        EXPECT_EQ(rows.back().size(), 13) << lines[i].toStdString();
    }
    return rows;
}

int64_t aleFrames(const QString& timecode, int64_t perSecond)
{
    const QStringList parts = timecode.split(':');
    if (parts.size() != 4)
        return -1;
    return ((parts[0].toLongLong() * 60 + parts[1].toLongLong()) * 60 + parts[2].toLongLong()) * perSecond +
           parts[3].toLongLong();
}

TEST_F(SoundReportWritersTest, AleRowsHoldThirteenFieldsAndEndIsStartPlusDuration)
{
    struct Case {
        const char* name;
        std::vector<SoundReportTake> takes;
        const char* fpsLine;
    };
    SoundReportTake unrated = reportTake("ABC0000_S1_T1.WAV", "1\t2", "3\n4", 0, "", 2.0);
    unrated.soundRoll = "R\r1";
    unrated.notes = "a\tb\nc\"d";
    std::vector<SoundReportTake> pulled = {unrated, reportTake("ABC0001_S1_T1.wav", "1", "1", 29.97, "10:00:00:00", 600),
                                           reportTake("ABC0002_S1_T1.wav", "1", "1", 29.97, "23:59:59:29", 1.0)};
    std::vector<SoundReportTake> film = {reportTake("ABC0003_S1_T1.wav", "1", "1", 24000.0 / 1001, "01:00:00:23", 61.7)};
    std::vector<SoundReportTake> none = {unrated};
    const Case kCases[] = {
        {"first rated take gives the rate", pulled, "FPS\t29.970"},
        {"23.976", film, "FPS\t23.976"},
        {"no take with a rate", none, "FPS\t30.000"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const QString text = QString::fromUtf8(aleText(c.takes));
        EXPECT_TRUE(text.contains(QString(c.fpsLine) + "\n"));
        double fps = 0;
        const std::vector<QStringList> rows = checkAle(text, fps);
        ASSERT_EQ(rows.size(), c.takes.size());
        const int64_t perSecond = std::llround(fps);
        for (size_t i = 0; i < rows.size(); ++i) {
            const QStringList& row = rows[i];
            const int64_t duration = aleFrames(row[4], perSecond);
            EXPECT_EQ(duration, static_cast<int64_t>(std::floor(c.takes[i].durationSeconds * fps + 1e-6)));
            if (row[2].isEmpty()) {
                EXPECT_TRUE(row[3].isEmpty());
                continue;
            }
            const int64_t day = perSecond * 86400;
            EXPECT_EQ((aleFrames(row[2], perSecond) + duration) % day, aleFrames(row[3], perSecond))
                << row.join(" | ").toStdString();
        }
    }
    double fps = 0;
    const std::vector<QStringList> pulledRows = checkAle(QString::fromUtf8(aleText(pulled)), fps);
    ASSERT_EQ(pulledRows.size(), 3u);
    const QStringList& unratedRow = pulledRows[0];
    EXPECT_EQ(unratedRow[0], "ABC0000_S1_T1");
    EXPECT_EQ(unratedRow[1], "R 1");
    EXPECT_EQ(unratedRow[6], "1 2");
    EXPECT_EQ(unratedRow[7], "3 4");
    EXPECT_EQ(unratedRow[9], "a b c\"d");
    EXPECT_EQ(unratedRow[12], "");
    // 10 minutes at 29.97: 17982 frames, not 18000.
    EXPECT_EQ(pulledRows[1][3], "10:09:59:12");
    EXPECT_TRUE(QString::fromUtf8(aleText(pulled)).contains("AUDIO_FORMAT\t48kHz 24-bit\n"));
}

TEST_F(SoundReportWritersTest, PdfHoldsTheHeadEveryTakeAndTheLogo)
{
    TONVALE_REQUIRE_TOOL("pdfinfo");
    TONVALE_REQUIRE_TOOL("pdffonts");
    TONVALE_REQUIRE_TOOL("pdftotext");
    std::vector<SoundReportTake> takes;
    for (int i = 0; i < 150; ++i) {
        SoundReportTake take = reportTake(QStringLiteral("ABC%1_S1_T%2.wav").arg(i + 1, 4, 10, QChar('0')).arg(i + 1),
                                          "1", QString::number(i + 1), i == 1 ? 0.0 : 25.0, "10:00:00:00", 12.0);
        take.isPolyphonic = i % 2 == 0;
        take.notes = QStringLiteral("note of take %1").arg(i + 1);
        if (i == 3) {
            take.trackNames = {};
            take.durationSeconds = 3725.5;
        }
        takes.push_back(take);
    }
    QImage logo(600, 200, QImage::Format_RGB32);
    logo.fill(Qt::white);
    QPainter painter(&logo);
    painter.setBrush(QColor(30, 90, 160));
    painter.drawEllipse(20, 20, 160, 160);
    painter.setFont(QFont("Carlito", 60));
    painter.drawText(QRect(200, 0, 400, 200), Qt::AlignCenter, "Tonvale");
    painter.end();
    SoundReportProduction production;
    production.projectName = "Feature";
    production.soundMixer = "Sam Mixer";
    production.companyLogoPath = home_.path() + "/logo.png";
    ASSERT_TRUE(logo.save(production.companyLogoPath));

    const QString path = pathFor("report.pdf");
    QString reason;
    ASSERT_TRUE(writePdf(path, takes, production, "R012", reason)) << reason.toStdString();

    const QString info = runTool(findTool("pdfinfo"), {path}).standardOutput;
    EXPECT_TRUE(info.contains("(A4)")) << info.toStdString();
    const int pages = info.section("Pages:", 1).trimmed().section('\n', 0, 0).toInt();
    EXPECT_GE(pages, 3) << info.toStdString();
    const QString fonts = runTool(findTool("pdffonts"), {path}).standardOutput;
    EXPECT_TRUE(fonts.contains("Carlito")) << fonts.toStdString();
    for (const QString& line : fonts.split('\n').mid(2)) {
        const QStringList columns = line.simplified().split(' ');
        if (columns.size() >= 7) {
            EXPECT_EQ(columns[columns.size() - 5], "yes") << "not embedded: " << line.toStdString();
        }
    }
    const QString text = runTool(findTool("pdftotext"), {"-layout", path, "-"}).standardOutput;
    for (const char* expected : {"Sound Report", "Project: Feature", "Sound Roll: R012", "Frame Rate: 25nd-C",
                                 "Mono BWF / Poly BWF", "Tracks: MIX", "01:02:05", "Sound Mixer: Sam Mixer",
                                 "Sample Rate: 48000 Hz", "Date: 2026-03-04"})
        EXPECT_TRUE(text.contains(expected)) << expected;
    for (const SoundReportTake& take : takes) {
        EXPECT_TRUE(text.contains(take.fileName.left(take.fileName.size() - 4))) << take.fileName.toStdString();
        EXPECT_TRUE(text.contains(take.notes + "\n") || text.contains(take.notes + " ")) << take.notes.toStdString();
    }
    if (!findTool("pdfimages").isEmpty()) {
        // page num type width height ...: the 600 x 200 logo drawn at 120 x 40.
        const QStringList images = runTool(findTool("pdfimages"), {"-list", path}).standardOutput.split('\n');
        ASSERT_GE(images.size(), 3);
        const QStringList columns = images[2].simplified().split(' ');
        ASSERT_GE(columns.size(), 5);
        EXPECT_EQ(columns[3], "120");
        EXPECT_EQ(columns[4], "40");
    }
    if (!findTool("pdftoppm").isEmpty()) {
        const ToolResult render =
            runTool(findTool("pdftoppm"), {"-png", "-r", "60", "-f", "1", "-l", "1", path, pathFor("page")});
        EXPECT_EQ(render.exitCode, 0);
    }
    EXPECT_FALSE(writePdf(pathFor("empty.pdf"), {}, production, "R012", reason));
    EXPECT_FALSE(QFile::exists(pathFor("empty.pdf")));
}

// A report that cannot be written says so and leaves the earlier one.
// A report is for others to read: it gets the mode the user's umask gives a
// new file, not the 0600 of the temporary file it is written through.
TEST_F(SoundReportWritersTest, ReportsFollowTheUmask)
{
    const std::vector<SoundReportTake> takes = {reportTake("ABC0001_S1_T1.wav", "1", "1", 25.0, "10:00:00:00", 2.0)};
    for (const UmaskCase& c : kUmaskCases) {
        SCOPED_TRACE(c.mask);
        const ScopedUmask umask(c.mask);
        QString reason;
        const QString pdf = pathFor("report.pdf");
        const QString csv = pathFor("report.csv");
        QFile::remove(pdf);
        QFile::remove(csv);
        ASSERT_TRUE(writePdf(pdf, takes, {}, "R012", reason)) << reason.toStdString();
        ASSERT_TRUE(writeFileSafely(csv, QByteArray("a,b\n"), reason)) << reason.toStdString();
        EXPECT_EQ(fileModeBits(QFile::encodeName(pdf).constData()), c.mode);
        EXPECT_EQ(fileModeBits(QFile::encodeName(csv).constData()), c.mode);
    }
}

TEST_F(SoundReportWritersTest, FailedWritesReportErrorsAndKeepTheEarlierReport)
{
    const std::vector<SoundReportTake> takes = {reportTake("ABC0001_S1_T1.wav", "1", "1", 25, "10:00:00:00", 1)};
    const QString path = pathFor("report.csv");
    QString reason;
    ASSERT_TRUE(writeFileSafely(path, QByteArray("earlier report\n"), reason));

    QByteArray big(64 * 1024, 'x');
    const int exitCode = runChildWithFileSizeLimit(4096, [&] {
        QString why;
        return writeFileSafely(path, big, why) ? 0 : 1;
    });
    EXPECT_EQ(exitCode, 1);
    EXPECT_EQ(readText(path), "earlier report\n");
    EXPECT_EQ(QDir(home_.path()).entryList({".report.csv.*"}, QDir::Hidden | QDir::Files).size(), 0);

    const int pdfExit = runChildWithFileSizeLimit(4096, [&] {
        QString why;
        return writePdf(pathFor("report.pdf"), takes, {}, "R", why) ? 0 : 1;
    });
    EXPECT_EQ(pdfExit, 1);
    EXPECT_FALSE(QFile::exists(pathFor("report.pdf")));

    for (const QString& bad : {QStringLiteral("/dev/full"), home_.path() + "/missing/report.csv"}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_FALSE(writeFileSafely(bad, csvText(takes), reason));
        EXPECT_FALSE(reason.isEmpty());
        EXPECT_FALSE(writePdf(bad, takes, {}, "R", reason));
    }
    EXPECT_TRUE(QDir("/dev").entryList({".full.*"}, QDir::Hidden | QDir::System | QDir::Files).isEmpty());
}

} // namespace
