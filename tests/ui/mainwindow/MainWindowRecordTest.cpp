// The record road from the window on the stepped virtual interface: a click
// on the image's halves starts and stops a take, the files are read back by
// libsndfile and ffprobe, and the window moves the take on.

#include "MainWindowRecordTestSupport.h"

#include "core/ConfigManager.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "engine/take/TakeFiles.h"
#include "support/ExternalTool.h"
#include "ui/tools/ModalBoxAnswerer.h"
#include "ui/tools/PlaybackDialog.h"
#include "ui/tools/SparseTake.h"
#include "ui/tools/WaveformWidget.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <QTimer>
#include <QPushButton>
#include <QFileInfo>
#include <QTime>

#include <sndfile.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <functional>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

std::string ffprobeTimeReference(const std::string& path)
{
    const ToolResult r = runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_format",
                                                       QString::fromStdString(path)});
    EXPECT_EQ(r.exitCode, 0) << r.standardError.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.standardOutput.toUtf8()).object();
    return root["format"].toObject()["tags"].toObject()["time_reference"].toString().toStdString();
}

class MainWindowRecordLayoutTest : public MainWindowRecordTest, public ::testing::WithParamInterface<int> {};

TEST_P(MainWindowRecordLayoutTest, ClickedTakeLandsInTheRollFolderAndMovesTheTakeOn)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    const int fileFormat = GetParam();
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(fileFormat);
    ASSERT_TRUE(window.engine()->isRunning());
    render(1.5);

    clickHalf(true);
    ASSERT_TRUE(window.isRecording());
    auto* group = window.findChild<QGroupBox*>();
    ASSERT_NE(group, nullptr);
    EXPECT_TRUE(group->property("recording").toBool());
    render(2.0);
    clickHalf(false);
    ASSERT_FALSE(window.isRecording());
    EXPECT_FALSE(group->property("recording").toBool());
    render(0.2);
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));

    const std::vector<std::string> files = coreEngine()->getLastClosedTakeFiles();
    ASSERT_FALSE(files.empty());
    // Polyphonic: one file, mix + 3 tracks; mono: the mix and 3 track files.
    EXPECT_EQ(files.size(), fileFormat == kFileFormatPolyphonic ? 1u : 4u);
    const std::string folder = ConfigManager::getInstance()->getString("lastRecording.folderPath", "");
    EXPECT_EQ(folder, saveLocation() + "/Film/003");
    const int64_t expectedFrames = 3 * kRate; // 1 s pre-roll + 2 s take, no post-roll
    for (const std::string& file : files) {
        SCOPED_TRACE(file);
        EXPECT_EQ(fs::path(file).parent_path().string(), folder);
        EXPECT_NE(fs::path(file).filename().string().find("_T04"), std::string::npos);
        const SndInfo info = sndInfo(file);
        EXPECT_EQ(info.channels, fileFormat == kFileFormatPolyphonic ? 4 : 1);
        EXPECT_NEAR(static_cast<double>(info.frames), static_cast<double>(expectedFrames), 2.0 * kBlock);
    }

    EXPECT_EQ(window.takeField()->text(), QString("05"));
    EXPECT_EQ(ConfigManager::getInstance()->getString("metadata.take", ""), "05");
    EXPECT_EQ(window.lastRecordingText(), QString("Last: 003 / 12A / T04"));
    EXPECT_EQ(ConfigManager::getInstance()->getString("previousRecording.soundRoll", "none"), "none");

    // A second take moves the first into the previous keys.
    recordTake(0.5);
    ConfigManager* config = ConfigManager::getInstance();
    EXPECT_EQ(config->getString("previousRecording.take", ""), "04");
    EXPECT_EQ(config->getString("previousRecording.scene", ""), "12A");
    EXPECT_EQ(config->getString("previousRecording.soundRoll", ""), "003");
    EXPECT_EQ(config->getString("previousRecording.folderPath", ""), folder);
    EXPECT_EQ(config->getString("lastRecording.take", ""), "05");
    EXPECT_EQ(window.lastRecordingText(), QString("Last: 003 / 12A / T05"));
    EXPECT_EQ(window.takeField()->text(), QString("06"));
    EXPECT_EQ(boxes.count(), 0);
    // ffprobe runs once both takes are closed: Qt starts a child with vfork,
    // whose descriptor work ThreadSanitizer books to the main thread, so a
    // child between two takes reads as a race on the next take's file.
    for (const std::string& file : files)
        EXPECT_FALSE(ffprobeTimeReference(file).empty()) << file;
    EXPECT_TRUE(logHas("Left half clicked (Record)"));
    EXPECT_TRUE(logHas("Right half clicked (Stop)"));
}

INSTANTIATE_TEST_SUITE_P(BothLayouts, MainWindowRecordLayoutTest, ::testing::Values(0, 1),
                         [](const auto& info) { return info.param == 0 ? "Polyphonic" : "Mono"; });

// What the take field becomes after a stop, and the button's text.
TEST_F(MainWindowRecordTest, StopTableMovesTheTakeOnOnlyForOneTo98)
{
    struct Case {
        const char* take;
        const char* next;
    };
    const Case cases[] = {{"9", "10"}, {"98", "99"}, {"99", "99"}, {"0", "0"}, {"1A", "1A"}, {"007", "08"}};
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    render(1.2);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.take);
        window.takeField()->setText(c.take);
        recordTake(0.1);
        EXPECT_EQ(window.takeField()->text(), QString(c.next));
        EXPECT_EQ(window.lastRecordingText(), QString("Last: 003 / 12A / T%1").arg(c.take));
    }
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(MainWindowRecordTest, StopWithEmptyFieldsUsesTheDefaultsAndClearsUnkeptNotes)
{
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    render(1.2);
    // The metadata fields, found by their placeholders.
    for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
        const QString placeholder = edit->placeholderText();
        if (placeholder == "Click to set" || placeholder == "e.g., Scene01" || placeholder == "e.g., 01")
            edit->clear();
        if (placeholder == "Recording notes...")
            edit->setText("wind");
    }
    recordTake(0.1);
    ConfigManager* config = ConfigManager::getInstance();
    EXPECT_EQ(config->getString("metadata.soundroll", ""), "001");
    EXPECT_EQ(config->getString("metadata.project", ""), "Project");
    EXPECT_EQ(config->getString("lastRecording.take", ""), "01");
    EXPECT_EQ(window.lastRecordingText(), QString("Last: 001 / T01"));
    EXPECT_EQ(window.takeField()->text(), QString("02"));
    EXPECT_EQ(config->getString("lastRecording.folderPath", ""), saveLocation() + "/Project/001");
    for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
        if (edit->placeholderText() == "Recording notes...") {
            EXPECT_TRUE(edit->text().isEmpty());
        }
    }
}

// Pressed 2 s into a 10 s post-roll: the previous take is cut, the new one
// starts from the drain poll with the press's metadata; two presses, one take.
TEST_F(MainWindowRecordTest, RecordDuringPostrollCutsItAndStartsOnce)
{
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic, 10);
    render(1.2);
    clickHalf(true);
    render(1.0);
    clickHalf(false);
    render(2.0);
    ASSERT_TRUE(window.engine()->isWriterDraining());
    clickHalf(true);
    clickHalf(true);
    for (int i = 0; i < 200 && !window.isRecording(); ++i) {
        render(0.02);
        QTest::qWait(10);
    }
    ASSERT_TRUE(window.isRecording());
    render(0.5);
    clickHalf(false);
    window.engine()->cancelPendingPostroll();
    render(0.2);
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
    QTest::qWait(200); // a stray drain tick would start a third take here
    EXPECT_FALSE(window.engine()->isRecording());
    std::vector<std::string> t04;
    std::vector<std::string> t05;
    for (const auto& entry : fs::directory_iterator(saveLocation() + "/Film/003")) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".wav")
            continue;
        if (name.find("_T04") != std::string::npos)
            t04.push_back(entry.path().string());
        else if (name.find("_T05") != std::string::npos)
            t05.push_back(entry.path().string());
        else
            ADD_FAILURE() << "unexpected file " << name;
    }
    ASSERT_EQ(t04.size(), 1u);
    ASSERT_EQ(t05.size(), 1u);
    // 1 s pre-roll + 1 s take + 2 s of post-roll before the cut.
    EXPECT_NEAR(static_cast<double>(sndInfo(t04[0]).frames), 4.0 * kRate, 0.1 * kRate);
    EXPECT_GT(sndInfo(t05[0]).frames, kRate);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(MainWindowRecordTest, RecordWithoutADeviceShowsTheNoDeviceBox)
{
    ModalBoxAnswerer boxes;
    MainWindow& window = makeWindow();
    window.onRecordClicked();
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.boxes()[0].title, QString("No Audio Device"));
    EXPECT_FALSE(window.isRecording());
    EXPECT_TRUE(logHas("onRecordClicked: no audio device active (device='', running=no)"));
}

// A start the engine refuses says why in one box; the record button stays
// dark and the log keeps the engine's line.
TEST_F(MainWindowRecordTest, RefusedTakeStartShowsWhyInOneBox)
{
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(0);
    ASSERT_TRUE(window.engine()->isRunning());
    render(0.5);
    std::ofstream(home_.pathStd() + "/plainfile") << "x";
    ConfigManager::getInstance()->setString("media.saveLocation", home_.pathStd() + "/plainfile");

    clickHalf(true);
    EXPECT_FALSE(window.isRecording());
    EXPECT_FALSE(window.engine()->isRecording());
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.boxes()[0].title, QString("Recording Not Started"));
    EXPECT_TRUE(boxes.boxes()[0].text.contains("Failed to create recording directory: ")) << boxes.boxes()[0].text.toStdString();
    EXPECT_TRUE(logHas("CoreAudio: Failed to create recording directory: "));
}

TEST_F(MainWindowRecordTest, UnpluggedDeviceStopsTheTakeWithOneBox)
{
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic, 5);
    render(1.2);
    clickHalf(true);
    render(0.5);
    ASSERT_TRUE(audio_->unplugDevice(audio_->findDevice("Virtual Interface")));
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isRecording(); }, 2500)) << "still recording after the unplug";
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.count() == 1; }, 2000)) << "boxes shown: " << boxes.count();
    EXPECT_EQ(boxes.boxes()[0].title, QString("Audio Device Disconnected"));
    ASSERT_TRUE(coreEngine()->waitForWriterIdle(std::chrono::seconds(30)));
    const std::vector<std::string> files = coreEngine()->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(sndInfo(files[0]).frames, 0);
    QTest::qWait(1200);
    EXPECT_EQ(boxes.count(), 1);
}

} // namespace

namespace {

// Answers every message box itself; on the first box it sees, it first runs
// `whileOpen` (a take clock tick arriving while the box waits for the user).
class NestedTickAnswerer {
public:
    explicit NestedTickAnswerer(std::function<void()> whileOpen) : whileOpen_(std::move(whileOpen))
    {
        timer_.setInterval(0);
        QObject::connect(&timer_, &QTimer::timeout, [this] { answer(); });
        timer_.start();
    }
    std::vector<QString> texts;
    int maxOpen = 0;

private:
    void answer()
    {
        std::vector<QMessageBox*> open;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box != nullptr && box->isVisible() && !box->property("answered").toBool())
                open.push_back(box);
        }
        maxOpen = std::max(maxOpen, static_cast<int>(open.size()));
        if (open.empty())
            return;
        QMessageBox* box = open.back();
        if (whileOpen_) {
            auto run = std::move(whileOpen_);
            whileOpen_ = nullptr;
            run(); // may open a nested box, answered by a later timeout
            return;
        }
        box->setProperty("answered", true);
        texts.push_back(box->windowTitle() + "|" + box->text());
        box->button(QMessageBox::Ok)->click();
    }

    std::function<void()> whileOpen_;
    QTimer timer_;
};

QString errorText(const QString& lines)
{
    return "Recording Error|RECORDING ERROR DETECTED!\n\n" + lines +
           "\nRecording may be corrupted or incomplete!\nStop recording and check drives.";
}

} // namespace

// 0 to 3 write errors: one box with the write-error line only; none while
// they stay at 3; a new one at 4. A tick while the box is open opens no
// second box; the growth it saw is reported once the first box is closed.
TEST_F(MainWindowRecordTest, TakeClockReportsEachGrowthOnceWithOneBoxOpen)
{
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    std::pair<int64_t, int64_t> counts{0, 0};
    window.setTakeErrorCountsSourceForTest([&counts] { return counts; });
    render(1.2);
    clickHalf(true);
    ASSERT_TRUE(window.isRecording());

    NestedTickAnswerer boxes([&] {
        counts = {5, 0};
        window.onTakeClockTick();
    });
    counts = {3, 0};
    window.onTakeClockTick();
    ASSERT_EQ(boxes.texts.size(), 2u);
    EXPECT_EQ(boxes.texts[0], errorText("Write Errors: 3 (disk write failing)\n"));
    EXPECT_EQ(boxes.texts[1], errorText("Write Errors: 5 (disk write failing)\n"));
    EXPECT_EQ(boxes.maxOpen, 1);

    window.onTakeClockTick();
    window.onTakeClockTick();
    EXPECT_EQ(boxes.texts.size(), 2u);
    counts = {6, 100};
    window.onTakeClockTick();
    ASSERT_EQ(boxes.texts.size(), 3u);
    EXPECT_EQ(boxes.texts[2], errorText("Write Errors: 6 (disk write failing)\nDropped Samples: 100 (buffer overflow)\n"));
    EXPECT_TRUE(window.isRecording()) << "the take goes on";
    clickHalf(false);
}

namespace {

TEST(FramerateBadge, TextForEachRate)
{
    struct Case {
        double rate;
        bool dropFrame;
        const char* text;
    };
    const Case cases[] = {{0.0, false, "--"},       {-1.0, false, "--"},        {24.0, false, "24"},
                          {25.005, false, "25"},    {30.0, true, "30"},         {23.976, false, "23.976"},
                          {23.95, false, "23.976"}, {29.97, true, "29.97 DF"},  {29.97, false, "29.97 NDF"},
                          {29.95, false, "29.97 NDF"}, {48.0, false, "48.00"}, {12.345, false, "12.35"}};
    for (const Case& c : cases)
        EXPECT_EQ(framerateBadgeText(c.rate, c.dropFrame), QString(c.text)) << c.rate;
}

// The timecode label follows the LTC on input 8 (the stepped device sends
// the local time of day its clock started at, advanced by what was
// rendered), the badge reads "25" in red, the take time counts.
TEST_F(MainWindowRecordTest, TimecodePanelFollowsTheLtcAndTheTake)
{
    const int started = QTime::currentTime().msecsSinceStartOfDay() / 1000;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    render(2.0);
    window.updateTimecode();
    const QStringList parts = window.timecodeLabel()->text().split(':');
    ASSERT_EQ(parts.size(), 3) << window.timecodeLabel()->text().toStdString();
    const int shown = parts[0].toInt() * 3600 + parts[1].toInt() * 60 + parts[2].toInt();
    EXPECT_LE(std::abs(shown - (started + 2)) % (24 * 3600), 1) << window.timecodeLabel()->text().toStdString();
    EXPECT_EQ(window.framerateLabel()->text(), QString("25"));
    EXPECT_TRUE(window.framerateLabel()->styleSheet().contains("#ff3333"));
    EXPECT_EQ(window.takeTimeLabel()->text(), QString("--:--"));

    clickHalf(true);
    window.updateTimecode();
    EXPECT_EQ(window.takeTimeLabel()->text(), QString("00:00"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.takeTimeLabel()->text() == QString("00:01"); }, 3000))
        << "take time: " << window.takeTimeLabel()->text().toStdString();
    clickHalf(false);
    window.updateTimecode();
    EXPECT_EQ(window.takeTimeLabel()->text(), QString("--:--"));

    window.engine()->setForcedFramerate(29.97);
    window.updateTimecode();
    EXPECT_TRUE(window.framerateLabel()->styleSheet().contains("#ffcc00"));
}

} // namespace

namespace {

// The last-take button opens playback on the newest file of the take's folder.
TEST_F(MainWindowRecordTest, LastTakeButtonOpensPlaybackOnTheNewestTake)
{
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    render(1.2);
    recordTake(0.3);
    const std::vector<std::string> second = recordTake(0.3);
    ASSERT_EQ(second.size(), 1u);
    QString selected;
    bool opened = false;
    QTimer::singleShot(100, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<PlaybackDialog*>(widget); dialog != nullptr && dialog->isVisible()) {
                opened = true;
                selected = dialog->currentFile();
                dialog->reject();
            }
        }
    });
    QTest::mouseClick(window.lastRecordingButton(), Qt::LeftButton);
    EXPECT_TRUE(opened);
    EXPECT_EQ(QFileInfo(selected).absoluteFilePath(), QFileInfo(QString::fromStdString(second[0])).absoluteFilePath());
    EXPECT_TRUE(logHas("Looking for files in folder: " + saveLocation() + "/Film/003"));
}

// While the playback window reads the waveform of a 2 GiB take, the record
// and stop halves still start and end a take.
TEST_F(MainWindowRecordTest, RecordAndStopWorkWhileAWaveformIsRead)
{
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    render(1.2);
    const std::string big = home_.pathStd() + "/big.wav";
    ASSERT_TRUE(writeSparseTake(big, 1u << 31, 1000));
    PlaybackDialog playback(window.engine(), &window);
    playback.show();
    playback.selectFile(QString::fromStdString(big));
    ASSERT_TRUE(playback.waveform()->isLoading());
    const std::vector<std::string> files = recordTake(0.3);
    EXPECT_TRUE(playback.waveform()->isLoading()) << "the take was made while the waveform was read";
    ASSERT_EQ(files.size(), 1u);
    EXPECT_GT(sndInfo(files[0]).frames, kRate / 10);
    playback.reject();
    std::remove(big.c_str());
}

} // namespace

namespace {

std::vector<std::string> wavNames(const std::string& folder)
{
    std::vector<std::string> names;
    if (!fs::exists(folder))
        return names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".wav")
            names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

// Two takes a few seconds apart: the false take moves only the last take's
// file (the earlier one is also less than a minute old and stays), steps the
// label, keys and take number back; a second one in a row empties the label
// and keys. Refused while a take records.
TEST_F(MainWindowRecordTest, FalseTakeMovesOnlyTheLastTakeAndStepsBack)
{
    ModalBoxAnswerer boxes(QMessageBox::Yes);
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic);
    render(1.2);
    recordTake(0.3);
    recordTake(0.3);
    const std::string folder = saveLocation() + "/Film/003";
    ASSERT_EQ(wavNames(folder).size(), 2u);
    ASSERT_EQ(window.takeField()->text(), QString("06"));

    window.confirmFalseTake();
    ASSERT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.boxes()[0].title, QString("False Take"));
    const std::vector<std::string> left = wavNames(folder);
    ASSERT_EQ(left.size(), 1u);
    EXPECT_NE(left[0].find("_T04"), std::string::npos);
    const std::vector<std::string> moved = wavNames(folder + "/FALSETAKES");
    ASSERT_EQ(moved.size(), 1u);
    EXPECT_EQ(moved[0].rfind("F-", 0), 0u);
    EXPECT_NE(moved[0].find("_T05"), std::string::npos);
    auto* toast = window.findChild<QLabel*>("falseTakeToast");
    ASSERT_NE(toast, nullptr);
    EXPECT_EQ(toast->text(), QString("Moved 1 file(s) to FALSETAKES"));
    EXPECT_EQ(window.lastRecordingText(), QString("Last: 003 / 12A / T04"));
    EXPECT_EQ(window.takeField()->text(), QString("05"));
    ConfigManager* config = ConfigManager::getInstance();
    EXPECT_EQ(config->getString("metadata.take", ""), "05");
    EXPECT_EQ(config->getString("lastRecording.take", ""), "04");
    EXPECT_EQ(config->getString("lastRecording.folderPath", ""), folder);
    EXPECT_EQ(config->getString("previousRecording.soundRoll", "x"), "");

    // The engine's list names moved files now: the newest file is taken.
    EXPECT_EQ(window.markLastTakeFalse(), 1);
    EXPECT_TRUE(wavNames(folder).empty());
    EXPECT_EQ(wavNames(folder + "/FALSETAKES").size(), 2u);
    EXPECT_EQ(window.lastRecordingText(), QString());
    EXPECT_EQ(config->getString("lastRecording.soundRoll", "x"), "");
    EXPECT_EQ(window.takeField()->text(), QString("04"));

    // During a take nothing moves.
    clickHalf(true);
    render(0.2);
    window.lastRecordingButton()->setText("Last: 003 / 12A / T03");
    config->setString("lastRecording.soundRoll", "003");
    EXPECT_EQ(window.markLastTakeFalse(), 0);
    EXPECT_EQ(boxes.boxes().back().title, QString("False Take"));
    EXPECT_EQ(boxes.boxes().back().text, QString("A take is recording or finishing. Mark the false take once it has ended."));
    clickHalf(false);
}

} // namespace
