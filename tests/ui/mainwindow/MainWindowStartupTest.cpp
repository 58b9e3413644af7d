#include "MainWindowTestSupport.h"

#include "engine/AudioEngineBase.h"
#include "ui/mainwindow/BackupDriveList.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/MeterWidget.h"
#include "ui/tools/LtcGeneratorDialog.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTest>

#include <cmath>

namespace {

TEST_F(MainWindowTest, WithoutAConfigurationFileTheWindowOpensWithTheDefaults)
{
    ModalBoxAnswerer boxes;
    MainWindow& window = makeWindow();
    ASSERT_EQ(window.trackRows().size(), 8u);
    ASSERT_EQ(window.mixerStrips().size(), 8u);
    for (int track = 0; track < 8; ++track) {
        const auto& row = window.trackRows()[static_cast<size_t>(track)];
        const auto& strip = window.mixerStrips()[static_cast<size_t>(track)];
        EXPECT_EQ(row.nameEdit->text(), QString("Track %1").arg(track + 1));
        EXPECT_FALSE(row.armButton->isChecked());
        EXPECT_EQ(strip.fader->value(), -600);
        EXPECT_EQ(strip.gainLabel->text(), QString("-∞ dB"));
        EXPECT_EQ(strip.color.name(), QString("#505050"));
        EXPECT_FLOAT_EQ(window.engine()->getTargetTrackGain(track), 0.0f);
    }
    EXPECT_EQ(window.size(), QSize(1024, 768)) << "900 x 700 is below the window's minimum size";
    EXPECT_FALSE(action("&Controller", "Show Mixer")->isChecked());
    EXPECT_EQ(window.findChild<QLineEdit*>(), window.findChild<QLineEdit*>()); // fields exist
    EXPECT_TRUE(window.engine()->getCurrentDeviceName().empty());
    EXPECT_TRUE(logHas("initializeEngines: no saved device - user should select from Audio menu"));
    EXPECT_TRUE(logHas("No audio device configured - deferring routing restore to avoid permission prompt"));
    EXPECT_TRUE(logHas("User should select device from Audio > Select Audio Device..."));
    QTest::qWait(700);
    EXPECT_EQ(boxes.count(), 0);
}

TEST_F(MainWindowTest, SavedDeviceRunsAudioThroughTheVirtualSystemTheTestKeeps)
{
    seed({{"audio.device", std::string("Virtual Interface")}, {"audio.bufferSize", 512}});
    MainWindow& window = makeWindow();
    EXPECT_EQ(window.engine()->getCurrentDeviceName(), "Virtual Interface");
    EXPECT_TRUE(window.engine()->isRunning());
    EXPECT_EQ(window.engine()->getBufferSize(), 512);
    EXPECT_TRUE(logHas("initializeEngines: successfully switched to saved device: Virtual Interface"));
    EXPECT_TRUE(logHas("initializeEngines: applied saved buffer size: 512"));
    EXPECT_TRUE(audio_->renderBlocks(4, 512));
}

TEST_F(MainWindowTest, SavedBufferSizeEqualToTheCurrentOneIsNotAppliedAgain)
{
    seed({{"audio.device", std::string("Virtual Interface")}});
    makeWindow();
    EXPECT_FALSE(logHas("applied saved buffer size"));
}

TEST_F(MainWindowTest, MissingSavedDeviceGivesOneLogLineAndOneBoxHalfASecondLater)
{
    seed({{"audio.device", std::string("Gone Interface")}});
    ModalBoxAnswerer boxes;
    QElapsedTimer clock;
    clock.start();
    MainWindow& window = makeWindow();
    EXPECT_EQ(boxes.count(), 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes.count() == 1; }, 3000)) << "boxes shown: " << boxes.count();
    EXPECT_GE(clock.elapsed(), 450);
    EXPECT_EQ(boxes.boxes()[0].title, QString("Audio Device Not Found"));
    EXPECT_EQ(boxes.boxes()[0].text,
              QString("The saved audio device \"Gone Interface\" is not available.\n\nNo audio device is active - "
                      "recording is disabled until you select one from Audio > Select Audio Device..."));
    EXPECT_EQ(logCount("initializeEngines: failed to switch to saved device: Gone Interface"), 1u);
    QTest::qWait(600);
    EXPECT_EQ(boxes.count(), 1);
    EXPECT_EQ(boxes.maxOpenAtOnce(), 1);
    EXPECT_TRUE(window.engine()->getCurrentDeviceName().empty());
}

struct MediaCase {
    const char* name;
    std::vector<std::pair<std::string, std::variant<std::string, int, bool, double>>> keys;
    int fileFormat;
    int bitDepth;
    BwfFileWriter::SampleFormat sampleFormat;
    int storedBitDepth; // -1: not stored
};

TEST_F(MainWindowTest, MediaSettingsReachTheEngineAsStoredOrConverted)
{
    const std::vector<MediaCase> cases = {
        {"defaults", {}, 0, 24, BwfFileWriter::Int24, -1},
        {"old index 0", {{"media.bitDepth", 0}}, 0, 16, BwfFileWriter::Int16, 16},
        {"old index 1", {{"media.bitDepth", 1}}, 0, 24, BwfFileWriter::Int24, 24},
        {"old index 2", {{"media.bitDepth", 2}}, 0, 32, BwfFileWriter::Float32, 32},
        {"32 is float", {{"media.bitDepth", 32}, {"media.fileFormat", 1}}, 1, 32, BwfFileWriter::Float32, 32},
        {"unknown layout", {{"media.fileFormat", 7}}, 0, 24, BwfFileWriter::Int24, -1},
    };
    for (const MediaCase& media : cases) {
        SCOPED_TRACE(media.name);
        resetConfig();
        seed(media.keys);
        MainWindow& window = makeWindow();
        EXPECT_EQ(window.engine()->getFileFormat(), media.fileFormat);
        EXPECT_EQ(window.engine()->getBitDepth(), media.bitDepth);
        EXPECT_EQ(window.engine()->getSampleFormat(), media.sampleFormat);
        EXPECT_EQ(ConfigManager::getInstance()->getInt("media.bitDepth", -1), media.storedBitDepth);
        window_.reset();
    }
}

TEST_F(MainWindowTest, RollsAndForcedRateReachTheEngine)
{
    seed({{"media.prerollSeconds", 10}, {"media.postrollSeconds", 3}, {"ltc.forcedFramerate", 25.0}});
    MainWindow& window = makeWindow();
    EXPECT_EQ(window.engine()->getPrerollDuration(), 10);
    EXPECT_EQ(window.engine()->getPostrollDuration(), 3);
    EXPECT_DOUBLE_EQ(window.engine()->getForcedFramerate(), 25.0);
    EXPECT_TRUE(logHas("Restored forced framerate: 25.000000"));
}

TEST_F(MainWindowTest, NoForcedRateForZeroOrNegative)
{
    seed({{"ltc.forcedFramerate", -1.0}});
    MainWindow& window = makeWindow();
    EXPECT_FALSE(window.engine()->isFramerateForced());
    EXPECT_FALSE(logHas("Restored forced framerate"));
}

TEST(BackupDriveList, PiecesAndLettersAsStored)
{
    struct Case {
        const char* paths;
        const char* formats;
        std::vector<std::pair<std::string, int>> drives;
    };
    const std::vector<Case> cases = {
        {"", "", {}},
        {"/media/A||/media/B|", "1", {{"/media/A", 1}, {"/media/B", 0}}},
        {"/media/A|/media/B", "x,1", {{"/media/A", 0}, {"/media/B", 1}}},
        {"/media/A|/media/B", "1,", {{"/media/A", 1}, {"/media/B", 0}}},
        {"/media/A|/media/B", ",1", {{"/media/A", 0}, {"/media/B", 1}}},
        {" /media/A", " 1x", {{" /media/A", 1}}},
        {"/media/A", "99999999999999999999", {{"/media/A", 0}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.paths) + " / " + c.formats);
        const auto drives = parseBackupDrives(c.paths, c.formats);
        ASSERT_EQ(drives.size(), c.drives.size());
        for (size_t index = 0; index < drives.size(); ++index) {
            EXPECT_EQ(drives[index].path, c.drives[index].first);
            EXPECT_EQ(drives[index].format, c.drives[index].second);
        }
    }
}

TEST_F(MainWindowTest, MeterIntervalFollowsTheBackendWordExactly)
{
    const std::vector<std::pair<const char*, int>> cases = {{"", 50}, {"ASIO", 50}, {"JACK", 100}, {"jack", 50}};
    for (const auto& [backend, intervalMs] : cases) {
        SCOPED_TRACE(backend);
        resetConfig();
        if (*backend != '\0')
            seed({{"audio.backend", std::string(backend)}});
        MainWindow& window = makeWindow();
        EXPECT_EQ(window.meterIntervalMs(), intervalMs);
        window_.reset();
    }
}

TEST_F(MainWindowTest, StartupTimelineHoldsOffControllerFadersUntilAfterTheSync)
{
    MainWindow& window = makeWindow();
    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(window.isControllerFaderHoldOff());
    window.onMidiFaderChanged(0, 0);
    EXPECT_EQ(window.mixerStrips()[0].fader->value(), -600) << "a controller move during the restore is ignored";
    ASSERT_TRUE(QTest::qWaitFor([&] { return !window.isControllerFaderHoldOff(); }, 3000))
        << "controller faders still held off";
    EXPECT_GE(clock.elapsed(), 550);
    EXPECT_TRUE(logHas("MIDI fader input now ENABLED"));
    window.onMidiFaderChanged(0, 14893); // 0 dB on the controller scale
    EXPECT_EQ(window.mixerStrips()[0].fader->value(), 0);
    EXPECT_EQ(window.ltcGeneratorDialog(), nullptr) << "no generator dialog unless it was running";
}

TEST_F(MainWindowTest, GeneratorDialogIsMadeHalfASecondAfterTheRestoreWhenItWasRunning)
{
    seed({{"audio.device", std::string("Virtual Interface")}, {"ltcgen.running", true}});
    MainWindow& window = makeWindow();
    EXPECT_EQ(window.ltcGeneratorDialog(), nullptr);
    EXPECT_TRUE(logHas("LTC Generator was running, restoring in background..."));
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.ltcGeneratorDialog() != nullptr; }, 3000))
        << "the generator dialog was never made";
    EXPECT_TRUE(logHas("QTimer fired for LTC Generator init"));
    EXPECT_FALSE(window.ltcGeneratorDialog()->isVisible());
}

TEST_F(MainWindowTest, WindowDestroyedRightAfterConstructionRunsNoneOfItsSingleShots)
{
    seed({{"audio.device", std::string("Gone Interface")}, {"ltcgen.running", true}});
    ModalBoxAnswerer boxes;
    makeWindow();
    window_.reset();
    QTest::qWait(1000);
    EXPECT_EQ(boxes.count(), 0);
    EXPECT_FALSE(logHas("MIDI fader input now ENABLED"));
    EXPECT_FALSE(logHas("QTimer fired for LTC Generator init"));
}

TEST_F(MainWindowTest, FiveFaderMovesWithinTwoSecondsGiveOneSaveTwoSecondsAfterTheLast)
{
    MainWindow& window = makeWindow();
    const auto fileHolds = [this](const QString& text) { return home_.configText().contains(text); };
    QElapsedTimer sinceLast;
    for (int move = 1; move <= 5; ++move) {
        window.mixerStrips()[0].fader->setValue(-100 * move);
        sinceLast.start();
        QTest::qWait(100);
    }
    EXPECT_FALSE(fileHolds("fader.0=-500"));
    ASSERT_TRUE(QTest::qWaitFor([&] { return fileHolds("fader.0=-500"); }, 4000))
        << "the last fader value never reached the settings file";
    EXPECT_GE(sinceLast.elapsed(), 1900);
}

} // namespace
