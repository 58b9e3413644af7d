// The sound report's take scan and text forms: a folder with takes of two
// machines and everything else a roll folder may hold, the formatters, the
// shared timecode helper and the opening-folder rule.

#include "SoundReportTestTakes.h"
#include "core/ConfigManager.h"
#include "support/TempHome.h"
#include "ui/tools/SoundReportTakes.h"
#include "ui/tools/TimecodeText.h"

#include <QDir>
#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace SoundReportTakes;

class SoundReportTakesTest : public TempHomeTest {
protected:
    QString makeFolder(const QString& name)
    {
        const QString folder = home_.path() + "/" + name;
        QDir().mkpath(folder);
        return folder;
    }
    static void writeBytes(const QString& path, const QByteArray& bytes)
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
    }
};

TEST_F(SoundReportTakesTest, ScanListsTakesAsTheFilesCarryThem)
{
    const QString folder = makeFolder("Feature/R012");
    const ReportTake kTakes[] = {
        {"ABC0001_S1_T1.wav", 2, 10.0, true, samplesAt25(10, 0, 0, 5), 25.0, 48000, "1", "1", "Feature", "R012",
         "wind", {"MIX", "Boom"}},
        {"ABC0002_S1_T9.wav", 1, 0.2, true, samplesAt25(11, 0, 0, 0), 25.0, 48000, "1", "9", "Feature", "R012", "", {"Boom"}},
        {"ABC0002_S1_T10.wav", 1, 0.2, true, samplesAt25(11, 1, 0, 0), 25.0, 48000, "1", "10", "Feature", "R012", "", {"Boom"}},
        {"XYZ0012_S3_T4.wav", 1, 0.2, true, samplesAt25(12, 0, 0, 0), 25.0, 48000, "3", "4", "", "", "", {"Lav"}},
        {"AAD0010_S1_T1.wav", 1, 0.2, true, 0, 25.0, 48000, "1", "1", "", "", "", {}},
        {"AAD0002_S1_T1.wav", 1, 0.2, true, 0, 25.0, 48000, "1", "1", "", "", "", {}},
        {"AAD_1.WAV", 1, 0.2, true, 0, 25.0, 48000, "", "", "", "", "", {}},
        {"aad0012_S3_T4.wav", 2, 0.2, false},
        {"AAD0012.wav", 1, 0.2, false},
        {"midnight.wav", 1, 15.0, true, samplesAt25(23, 59, 55, 0), 25.0, 48000, "9", "1", "", "", "", {"Boom"}},
        {"notimecode.wav", 1, 0.2, true, 0, 25.0, 48000, "8", "1", "", "", "", {"Boom"}},
    };
    for (const ReportTake& take : kTakes)
        ASSERT_TRUE(writeReportTake(folder, take)) << take.name;
    writeBytes(folder + "/zero.wav", {});
    QFile whole(folder + "/ABC0001_S1_T1.wav");
    ASSERT_TRUE(whole.open(QIODevice::ReadOnly));
    writeBytes(folder + "/truncated.wav", whole.read(100));
    writeBytes(folder + "/text.wav", "not a wave file at all");
    writeBytes(folder + "/.hidden.wav", whole.readAll());
    QDir().mkpath(folder + "/sub");
    ASSERT_TRUE(writeReportTake(folder + "/sub", {"inner.wav"}));
    ASSERT_EQ(::mkfifo((folder + "/take.wav").toLocal8Bit().constData(), 0644), 0);

    const std::vector<SoundReportTake> takes = scanFolder(folder);

    struct Expected {
        const char* fileName;
        const char* fileNumber;
        const char* timecodeIn;
        const char* timecodeOut;
        QStringList tracks;
    };
    // Empty file numbers first (listing order among equal keys), then by
    // number, scene and take as strings.
    const Expected kExpected[] = {
        {"AAD0012.wav", "", "", "", {"Mix"}},
        {"aad0012_S3_T4.wav", "", "", "", {"Mix", "Track1"}},
        {"text.wav", "", "", "", {}},
        {"truncated.wav", "", "", "", {}},
        {"zero.wav", "", "", "", {}},
        {"notimecode.wav", "", "", "", {"Boom"}},
        {"midnight.wav", "", "23:59:55:00", "00:00:10:00", {"Boom"}},
        {"AAD_1.WAV", "AAD", "", "", {"Mix"}},
        {"AAD0002_S1_T1.wav", "AAD0002", "", "", {"Mix"}},
        {"AAD0010_S1_T1.wav", "AAD0010", "", "", {"Mix"}},
        {"ABC0001_S1_T1.wav", "ABC0001", "10:00:00:05", "10:00:10:05", {"MIX", "Boom"}},
        {"ABC0002_S1_T10.wav", "ABC0002", "11:01:00:00", "11:01:00:05", {"Boom"}},
        {"ABC0002_S1_T9.wav", "ABC0002", "11:00:00:00", "11:00:00:05", {"Boom"}},
        {"XYZ0012_S3_T4.wav", "XYZ0012", "12:00:00:00", "12:00:00:05", {"Lav"}},
    };
    ASSERT_EQ(takes.size(), std::size(kExpected));
    for (size_t i = 0; i < takes.size(); ++i) {
        SCOPED_TRACE(kExpected[i].fileName);
        EXPECT_EQ(takes[i].fileName, kExpected[i].fileName);
        EXPECT_EQ(takes[i].fileNumber, kExpected[i].fileNumber);
        EXPECT_EQ(takes[i].timecodeIn, kExpected[i].timecodeIn);
        EXPECT_EQ(takes[i].timecodeOut, kExpected[i].timecodeOut);
        EXPECT_EQ(takes[i].trackNames, kExpected[i].tracks);
        EXPECT_TRUE(takes[i].fileDate.isValid());
    }
    // ScanListsTakesAsTheFilesCarryThem: the values of one whole record.
    const SoundReportTake& first = takes[10];
    EXPECT_EQ(first.scene, "1");
    EXPECT_EQ(first.take, "1");
    EXPECT_EQ(first.project, "Feature");
    EXPECT_EQ(first.soundRoll, "R012");
    EXPECT_EQ(first.notes, "wind");
    EXPECT_DOUBLE_EQ(first.durationSeconds, 10.0);
    EXPECT_EQ(first.frameRate, 25.0);
    EXPECT_EQ(first.sampleRate, 48000u);
    EXPECT_EQ(first.bitDepth, 16);
    EXPECT_TRUE(first.isPolyphonic);
    EXPECT_EQ(takes[4].sampleRate, 0u);  // zero.wav: a record with nothing filled
    EXPECT_DOUBLE_EQ(takes[4].durationSeconds, 0.0);

    EXPECT_TRUE(scanFolder(home_.path() + "/absent").empty());
}

// Scenes sort by their UTF-8 bytes also beyond ASCII: a character above
// U+FFFF (two UTF-16 units from U+D800) comes after one from U+E000.
TEST_F(SoundReportTakesTest, SortFollowsUtf8BytesBeyondAscii)
{
    const QString folder = makeFolder("utf8");
    const char* const kScenes[] = {"\xF0\x9F\x98\x80", "\xEF\xBC\xA1", "\xC3\xA9", "Z", "\xC3\xA9" "b", ""};
    int number = 0;
    for (const char* scene : kScenes) {
        ReportTake take{"take" + std::to_string(++number) + ".wav"};
        take.scene = scene;
        ASSERT_TRUE(writeReportTake(folder, take)) << scene;
    }
    const std::vector<SoundReportTake> takes = scanFolder(folder);
    QStringList scenes;
    for (const SoundReportTake& take : takes)
        scenes << take.scene;
    const QStringList expected = {"", "Z", QString::fromUtf8("\xC3\xA9"), QString::fromUtf8("\xC3\xA9" "b"),
                                  QString::fromUtf8("\xEF\xBC\xA1"), QString::fromUtf8("\xF0\x9F\x98\x80")};
    EXPECT_EQ(scenes, expected);
}

// The scan reports before each file and once at the end, counting only the
// takes, and stops where it is told to with the takes read so far.
TEST_F(SoundReportTakesTest, ScanReportsProgressAndStopsWhenTold)
{
    const QString folder = makeFolder("progress");
    for (int i = 1; i <= 5; ++i)
        ASSERT_TRUE(writeReportTake(folder, ReportTake{"ABC000" + std::to_string(i) + "_S1_T1.wav"}));
    writeBytes(folder + "/notes.txt", "not a take");
    struct Case {
        int stopAt;  // the call that answers false; -1 never
        size_t takes;
        QStringList calls;
    };
    const Case cases[] = {
        {-1, 5, {"0/5", "1/5", "2/5", "3/5", "4/5", "5/5"}},
        {0, 0, {"0/5", "5/5"}},
        {3, 3, {"0/5", "1/5", "2/5", "3/5", "5/5"}},
    };
    for (const Case& c : cases) {
        QStringList calls;
        const std::vector<SoundReportTake> takes = scanFolder(folder, [&](int done, int total) {
            calls << QString("%1/%2").arg(done).arg(total);
            return calls.size() - 1 != c.stopAt;
        });
        EXPECT_EQ(takes.size(), c.takes) << c.stopAt;
        EXPECT_EQ(calls, c.calls) << c.stopAt;
    }
}

// A file listed but gone before it is read is left out instead of ending
// the program with the reader's exception.
TEST_F(SoundReportTakesTest, TakeVanishingAfterTheListingIsLeftOut)
{
    const QString folder = makeFolder("roll");
    ASSERT_TRUE(writeReportTake(folder, {"ABC0001_S1_T1.wav"}));
    const QFileInfo listed(folder + "/ABC0001_S1_T1.wav");
    ASSERT_TRUE(listed.isFile());  // the listing's cached view
    ASSERT_TRUE(QFile::remove(listed.absoluteFilePath()));
    SoundReportTake take;
    EXPECT_FALSE(readTake(listed, take));
}

// What the listing takes for a take when it reads the folder itself: links
// count as what they lead to, a name that is not UTF-8 is no take, and the
// date is the file's own, shown in local time.
TEST_F(SoundReportTakesTest, ListingFollowsLinksAndSkipsNamesThatAreNotText)
{
    const QString folder = makeFolder("links");
    ASSERT_TRUE(writeReportTake(folder, {"ABC0001_S1_T1.wav"}));
    const QByteArray native = QFile::encodeName(folder);
    ASSERT_EQ(::symlink("ABC0001_S1_T1.wav", (native + "/ABC0002_S1_T1.wav").constData()), 0);
    ASSERT_EQ(::symlink("missing.wav", (native + "/ABC0003_S1_T1.wav").constData()), 0);
    ASSERT_EQ(::mkfifo((native + "/pipe.wav").constData(), 0644), 0);
    ASSERT_EQ(::symlink("pipe.wav", (native + "/ABC0004_S1_T1.wav").constData()), 0);
    QDir().mkpath(folder + "/folder.wav");
    ASSERT_EQ(::symlink("folder.wav", (native + "/ABC0005_S1_T1.wav").constData()), 0);
    // A second name for the first take, with a byte that is no UTF-8.
    ASSERT_EQ(::link((native + "/ABC0001_S1_T1.wav").constData(), (native + "/ABC0006_\xff.wav").constData()), 0);

    const std::vector<SoundReportTake> takes = scanFolder(folder);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[0].fileName, "ABC0001_S1_T1.wav");
    EXPECT_EQ(takes[1].fileName, "ABC0002_S1_T1.wav");
    EXPECT_EQ(takes[1].scene, takes[0].scene);
    EXPECT_DOUBLE_EQ(takes[1].durationSeconds, 0.2);
    const QDateTime modified = QFileInfo(folder + "/ABC0001_S1_T1.wav").lastModified();
    EXPECT_EQ(takes[0].fileDate, modified);
    EXPECT_EQ(takes[0].fileDate.toLocalTime().toString(Qt::ISODateWithMs), modified.toString(Qt::ISODateWithMs));
}

TEST_F(SoundReportTakesTest, FileNumbersFromTakeNames)
{
    const std::pair<const char*, const char*> kCases[] = {
        {"AAD0012_S3_T4", "AAD0012"}, {"aad0012_S3_T4", ""}, {"XYZ0012_S3_T4", "XYZ0012"}, {"AAD0012", ""},
        {"AAD_1", "AAD"},             {"ABC0042_x", "ABC0042"}, {"AB0042_x", ""},          {"ABCD042_x", ""},
        {"ABC00421_x", ""},           {"ABC0042", ""},
    };
    for (const auto& [name, number] : kCases)
        EXPECT_EQ(fileNumberOf(name), number) << name;
}

TEST_F(SoundReportTakesTest, Formatters)
{
    EXPECT_EQ(formatDuration(3725.5, 25), "01:02:05:12");
    EXPECT_EQ(formatDuration(1.5, 0), "00:00:01:15");
    EXPECT_EQ(formatDuration(0.2, 25), "00:00:00:05");
    EXPECT_EQ(formatDuration(90000, 25), "25:00:00:00");  // lengths are not wrapped
    const std::pair<double, const char*> kRates[] = {{0, ""},           {25, "25nd-C"},     {23.976, "23.98nd-C"},
                                                     {29.97, "29.97df-C"}, {30, "30nd-C"},  {59.94, "59.94df-C"},
                                                     {29.976, "29.98df-C"}, {24, "24nd-C"}};
    for (const auto& [fps, text] : kRates)
        EXPECT_EQ(formatFramerate(fps), text) << fps;
    EXPECT_EQ(formatTimecode(1'728'000'000, 48000, 25), "10:00:00:00");
    EXPECT_EQ(formatTimecode(1'728'000'000, 0, 25), "--:--:--:--");
    EXPECT_EQ(formatTimecode(1'728'000'000, 48000, 0), "--:--:--:--");
}

// Every frame typed in the metadata manager reads back as the same text.
TEST_F(SoundReportTakesTest, TimecodeTextIsTheExactInverseOfItsParse)
{
    struct Rate {
        uint32_t rate;
        double fps;
        int labels;
    };
    const Rate kRates[] = {{48000, 25, 25}, {48000, 24, 24}, {48000, 30, 30}, {48048, 29.97, 30},
                           {48048, 24000.0 / 1001, 24}, {44100, 29.97, 30}, {96000, 60000.0 / 1001, 60}};
    for (const Rate& r : kRates) {
        SCOPED_TRACE(r.fps);
        for (const int hour : {0, 10, 23}) {
            for (int second = 0; second < 3; ++second) {
                for (int frame = 0; frame < r.labels; ++frame) {
                    const QString text = QStringLiteral("%1:59:%2:%3")
                                             .arg(hour, 2, 10, QChar('0'))
                                             .arg(57 + second, 2, 10, QChar('0'))
                                             .arg(frame, 2, 10, QChar('0'));
                    const uint64_t samples = parseTimecodeToSamples(text, r.rate, r.fps);
                    ASSERT_EQ(formatSamplesAsTimecode(samples, r.rate, r.fps), text);
                    ASSERT_EQ(formatSamplesAsTimecode(samples + 1, r.rate, r.fps), text);
                }
            }
        }
    }
    EXPECT_EQ(parseTimecodeToSamples("24:00:00:00", 48000, 25), 0u);
    EXPECT_EQ(parseTimecodeToSamples("10:00:00", 48000, 25), 0u);
    EXPECT_EQ(parseTimecodeToSamples("10:00:00:x", 48000, 25), 0u);
    EXPECT_EQ(formatSamplesAsTimecode(samplesAt25(24, 0, 10, 0), 48000, 25), "00:00:10:00");
}

TEST_F(SoundReportTakesTest, OpeningFolderFromTheRecordersKeys)
{
    const QString last = makeFolder("last");
    const QString roll = makeFolder("save/Film/R3");
    const QString project = makeFolder("save/Doc");
    struct Case {
        const char* name;
        QString lastFolder;
        QString save;
        QString projectName;
        QString soundRoll;
        QString expected;
    };
    const QString save = home_.path() + "/save";
    const Case kCases[] = {
        {"last take's folder", last, save, "Film", "R3", last},
        {"missing last folder falls to the roll", home_.path() + "/gone", save, "Film", "R3", roll},
        {"project without a roll", "", save, "Doc", "", project},
        {"roll folder missing", "", save, "Film", "R9", ""},
        {"no project", "", save, "", "R3", ""},
        {"nothing set", "", "", "", "", ""},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ConfigManager* config = ConfigManager::getInstance();
        config->setString("lastRecording.folderPath", c.lastFolder.toStdString());
        config->setString("media.saveLocation", c.save.toStdString());
        config->setString("metadata.project", c.projectName.toStdString());
        config->setString("lastRecording.soundRoll", c.soundRoll.toStdString());
        EXPECT_EQ(openingFolder(), c.expected);
    }
}

} // namespace
