#include "MainWindowTestSupport.h"

#include "engine/AudioEngineBase.h"
#include "ui/mainwindow/AppearanceDialog.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/MeterWidget.h"
#include "ui/mixer/AuxSendsDialog.h"
#include "ui/tools/ModalAnswerer.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QApplication>
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSlider>
#include <QSplitter>
#include <QTest>

#include <cmath>
#include <filesystem>
#include <fstream>

namespace {

constexpr int kSeededTracks = 24;

// One recordist's day: 24 named tracks, some armed, routing saved by an
// older version, faders either side of minus infinity, colours, aux sends,
// a splitter position, the mixer shown, take 7 and theme 2.
std::vector<std::pair<std::string, MainWindowTest::Value>> seededDay()
{
    std::vector<std::pair<std::string, MainWindowTest::Value>> keys = {
        {"audio.device", std::string("Virtual Interface")},
        {"track.count", kSeededTracks},
        {"track.input.0", std::string("Tone 440 Hz -12 dB")},
        {"track.input.1", std::string("system:capture_2")},
        {"track.input.2", std::string("(None)")},
        {"mix.output", std::string(" Virtual Interface Output 1 ,, Virtual Interface Output 2")},
        {"coms.output", std::string("Virtual Interface Output 3")},
        {"slate.input", std::string("system:capture_3")},
        {"fader.0", -590},
        {"fader.1", -589},
        {"fader.2", 0},
        {"fader.3", 60},
        {"track.color.1", std::string("#aa3355")},
        {"track.color.2", std::string("not a colour")},
        {"aux.level.1", 0.5},
        {"aux.output.1", std::string("Virtual Interface Output 4")},
        {"aux.send.2.1", 0.25},
        {"aux.send.prefader.2.1", true},
        {"ui.split.tracks", 500},
        {"ui.split.mixer", 300},
        {"window.x", 40},
        {"window.y", 30},
        {"window.width", 1500},
        {"window.height", 950},
        {"mixer.visible", true},
        {"metadata.take", std::string("7")},
        {"metadata.scene", std::string("12A")},
        {"metadata.soundroll", std::string("")},
        {"lastRecording.soundRoll", std::string("004")},
        {"lastRecording.scene", std::string("12A")},
        {"lastRecording.take", std::string("06")},
        {"media.externalEnabled", true},
        {"media.externalPaths", std::string("/nonexistent/A||/nonexistent/B|")},
        {"media.externalFormats", std::string("1")},
        {"appearance.theme", 2},
    };
    for (int track = 0; track < kSeededTracks; ++track) {
        keys.emplace_back("track.name." + std::to_string(track), "Mic " + std::to_string(track + 1));
        keys.emplace_back("arm." + std::to_string(track), track % 3 == 0);
    }
    return keys;
}

TEST_F(MainWindowTest, SeededDayComesBackOnScreenAndInTheEngine)
{
    seed(seededDay());
    ModalBoxAnswerer boxes;
    MainWindow& window = makeWindow();
    AudioEngineBase* engine = window.engine();
    ASSERT_EQ(window.trackRows().size(), static_cast<size_t>(kSeededTracks));
    ASSERT_EQ(window.mixerStrips().size(), static_cast<size_t>(kSeededTracks));
    for (int track = 0; track < kSeededTracks; ++track) {
        SCOPED_TRACE(track);
        const auto& row = window.trackRows()[static_cast<size_t>(track)];
        EXPECT_EQ(row.nameEdit->text(), QString("Mic %1").arg(track + 1));
        EXPECT_EQ(window.mixerStrips()[static_cast<size_t>(track)].nameLabel->text(), QString("Mic %1").arg(track + 1));
        EXPECT_EQ(row.armButton->isChecked(), track % 3 == 0);
        EXPECT_EQ(row.meter->isArmed(), track % 3 == 0);
        EXPECT_EQ(engine->isTrackArmed(track), track % 3 == 0);
    }

    struct FaderCase {
        int track;
        int position;
        const char* label;
        float gain;
    };
    const FaderCase faders[] = {
        {0, -590, "-∞ dB", 0.0f},
        {1, -589, "-58.9 dB", static_cast<float>(std::pow(10.0, -58.9 / 20.0))},
        {2, 0, "0.0 dB", 1.0f},
        {3, 60, "6.0 dB", static_cast<float>(std::pow(10.0, 6.0 / 20.0))},
        {4, -600, "-∞ dB", 0.0f},
    };
    for (const FaderCase& fader : faders) {
        SCOPED_TRACE(fader.track);
        const auto& strip = window.mixerStrips()[static_cast<size_t>(fader.track)];
        EXPECT_EQ(strip.fader->value(), fader.position);
        EXPECT_EQ(strip.gainLabel->text(), QString::fromUtf8(fader.label));
        EXPECT_NEAR(engine->getTargetTrackGain(fader.track), fader.gain, 1e-6);
    }
    EXPECT_EQ(window.mixerStrips()[1].color.name(), QString("#aa3355"));
    EXPECT_TRUE(window.mixerStrips()[1].trackButton->styleSheet().contains("#aa3355"));
    EXPECT_EQ(window.mixerStrips()[2].color.name(), QString("#505050")) << "a bad colour changes nothing";

    EXPECT_FLOAT_EQ(engine->getAuxLevel(1), 0.5f);
    EXPECT_EQ(engine->getAuxOutputIndices(1), std::vector<int>{3});
    EXPECT_FLOAT_EQ(engine->getTrackAuxSend(2, 1), 0.25f);
    EXPECT_TRUE(engine->getTrackAuxSendPreFader(2, 1));
    EXPECT_EQ(engine->getMixOutputIndices(), (std::vector<int>{0, 1}));
    EXPECT_EQ(engine->getComsOutputIndices(), std::vector<int>{2});

    EXPECT_TRUE(logHas("Migrated old port name to: system:in_2"));
    EXPECT_TRUE(logHas("Restored input routing for 24 tracks"));
    EXPECT_TRUE(logHas("  Track 0: Tone 440 Hz -12 dB"));
    EXPECT_FALSE(logHas("  Track 2:")) << "\"(None)\" is no input";
    EXPECT_TRUE(logHas("Restored slate mic input: system:in_3 (disabled)"));
    EXPECT_TRUE(logHas("Restored backup media paths: enabled=true paths=2"));
    // Neither saved drive is mounted: one box each, in order, none for the empty parts.
    ASSERT_EQ(boxes.count(), 2);
    const char* const unmounted[] = {"/nonexistent/A", "/nonexistent/B"};
    for (int drive = 0; drive < 2; ++drive) {
        SCOPED_TRACE(drive);
        const ModalBoxAnswerer::Box& box = boxes.boxes()[static_cast<size_t>(drive)];
        EXPECT_EQ(box.title, QString("Drive Access Required"));
        EXPECT_TRUE(box.text.startsWith(QString("Cannot access external drive:\n") + unmounted[drive]));
        EXPECT_TRUE(logHas(std::string("WARNING: Drive not mounted: ") + unmounted[drive]));
    }
    audio_->renderBlocks(8, 256);
    EXPECT_GT(engine->getTrackPeakLevel(0), 0.1f) << "track 1 hears the 440 Hz tone at -12 dB";

    EXPECT_TRUE(action("&Controller", "Show Mixer")->isChecked());
    EXPECT_FALSE(window.mixerStrips()[0].stripWidget->isHidden());
    EXPECT_EQ(window.findChild<QLineEdit*>() != nullptr, true);
    const auto edits = window.findChildren<QLineEdit*>();
    const auto fieldWithPlaceholder = [&edits](const QString& placeholder) -> QLineEdit* {
        for (QLineEdit* edit : edits) {
            if (edit->placeholderText() == placeholder)
                return edit;
        }
        return nullptr;
    };
    EXPECT_EQ(fieldWithPlaceholder("e.g., 01")->text(), QString("07"));
    EXPECT_EQ(ConfigManager::getInstance()->getString("metadata.take", ""), "07");
    EXPECT_EQ(fieldWithPlaceholder("e.g., Scene01")->text(), QString("12A"));
    EXPECT_EQ(window.findChild<QPushButton*>("lastRecordingLabel")->text(), QString("Last: 004 / 12A / T06"));
    EXPECT_EQ(window.pos(), QPoint(40, 30));
    EXPECT_EQ(window.size(), QSize(1500, 950));
    EXPECT_EQ(qApp->styleSheet(), AppearanceDialog::getThemeStyleSheet(AppearanceDialog::HighVisibility));

    window.show();
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.findChild<QSplitter*>()->sizes().value(0) > 0; }, 2000))
        << "the splitter was never laid out";
    const QList<int> sizes = window.findChild<QSplitter*>()->sizes();
    EXPECT_NEAR(sizes.value(0) * 1.0 / (sizes.value(0) + sizes.value(1)), 500.0 / 800.0, 0.02);
}

TEST_F(MainWindowTest, TrackCountIsLimitedForRowsAndRouting)
{
    struct Case {
        int stored;
        size_t rows;
        const char* routingLog;
    };
    const Case cases[] = {{0, 8, "Restored input routing for 0 tracks"},
                          {40, 32, "Restored input routing for 32 tracks"},
                          {8, 8, "Restored input routing for 8 tracks"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        resetConfig();
        seed({{"audio.device", std::string("Virtual Interface")}, {"track.count", c.stored}});
        MainWindow& window = makeWindow();
        EXPECT_EQ(window.trackRows().size(), c.rows);
        EXPECT_EQ(window.mixerStrips().size(), c.rows);
        EXPECT_EQ(logHas("Restoring track count: " + std::to_string(c.rows)), c.rows != 8);
        if (c.stored >= 1) {
            EXPECT_TRUE(logHas(c.routingLog));
        }
        window_.reset();
    }
}

// After a crash in scene 12A take 2 (and its repair), or with fields from an
// older snapshot, the window numbers the next take past every take of the
// scene already in the roll folder; other scenes do not count.
TEST_F(MainWindowTest, TakeFieldMovesPastTakesAlreadyInTheRollFolder)
{
    const std::string folder = home_.pathStd() + "/Takes/Feature/003";
    std::filesystem::create_directories(folder);
    for (const char* name : {"ABC0001_Feature_003_12A_T01.wav", "ABC0002_Feature_003_12A_T02.wav",
                             "ABC0003_Feature_003_14_T06.wav"})
        std::ofstream(folder + "/" + name) << "x";
    struct Case {
        const char* scene;
        const char* storedTake;
        const char* shownTake;
    };
    const Case cases[] = {{"12A", "02", "03"}, {"12A", "01", "03"}, {"12A", "05", "05"}, {"14", "02", "07"},
                          {"15", "01", "01"},  {"12A", "1A", "1A"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.scene) + " T" + c.storedTake);
        resetConfig();
        seed({{"media.saveLocation", home_.pathStd() + "/Takes"},
              {"metadata.project", std::string("Feature")},
              {"metadata.soundroll", std::string("003")},
              {"metadata.scene", std::string(c.scene)},
              {"metadata.take", std::string(c.storedTake)}});
        MainWindow& window = makeWindow();
        QLineEdit* takeEdit = nullptr;
        for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
            if (edit->placeholderText() == "e.g., 01")
                takeEdit = edit;
        }
        ASSERT_NE(takeEdit, nullptr);
        EXPECT_EQ(takeEdit->text(), QString(c.shownTake));
        EXPECT_EQ(ConfigManager::getInstance()->getString("metadata.take", ""), c.shownTake);
        window_.reset();
    }
}

TEST_F(MainWindowTest, TakeTextsOutsideOneToNinetyNineAreShownAsStored)
{
    for (const char* take : {"100", "1A", "A"}) {
        SCOPED_TRACE(take);
        resetConfig();
        seed({{"metadata.take", std::string(take)}});
        MainWindow& window = makeWindow();
        bool found = false;
        for (QLineEdit* edit : window.findChildren<QLineEdit*>()) {
            if (edit->placeholderText() == "e.g., 01") {
                EXPECT_EQ(edit->text(), QString(take));
                found = true;
            }
        }
        EXPECT_TRUE(found);
        window_.reset();
    }
}

// Mix sends set in the AUX Sends dialog, then a new process: the window's
// start-up restore gives them back to the engine, and the dialog opened
// from the menu shows them.
TEST_F(MainWindowTest, MixSendsAndTheirPreFaderFlagsComeBackAfterARestart)
{
    struct Send {
        int bus;
        int percent;
        bool preFader;
    };
    const Send sends[] = {{0, 0, true}, {1, 40, true}, {3, 75, false}};
    const auto openAuxSends = [this](const std::function<void(AuxSendsDialog&)>& act) {
        OnShow<AuxSendsDialog> onShow([&act](AuxSendsDialog& dialog) {
            act(dialog);
            dialog.accept();
        });
        action("&Routing", "AUX Sends")->trigger();
        EXPECT_EQ(onShow.times(), 1);
    };

    makeDeviceWindow();
    openAuxSends([&sends](AuxSendsDialog& dialog) {
        for (const Send& send : sends) {
            const QString name = QString("mixSend%1").arg(send.bus);
            dialog.findChild<QSlider*>(name)->setValue(send.percent);
            dialog.findChild<QCheckBox*>(name + "Pre")->setChecked(send.preFader);
        }
    });

    window_.reset();
    ConfigManager::getInstance()->resetForTests();
    ASSERT_TRUE(ConfigManager::getInstance()->loadConfig(""));
    AudioEngineBase* engine = makeWindow().engine();
    ASSERT_NE(engine, nullptr);
    for (const Send& send : sends) {
        SCOPED_TRACE(send.bus);
        EXPECT_FLOAT_EQ(engine->getMixSendLevel(send.bus), send.percent / 100.0f);
        EXPECT_EQ(engine->getMixSendPreFader(send.bus), send.preFader);
    }
    EXPECT_FLOAT_EQ(engine->getMixSendLevel(2), 0.0f);
    EXPECT_FALSE(engine->getMixSendPreFader(2));

    openAuxSends([&sends](AuxSendsDialog& dialog) {
        for (const Send& send : sends) {
            SCOPED_TRACE(send.bus);
            const QString name = QString("mixSend%1").arg(send.bus);
            EXPECT_EQ(dialog.findChild<QSlider*>(name)->value(), send.percent);
            EXPECT_EQ(dialog.findChild<QCheckBox*>(name + "Pre")->isChecked(), send.preFader);
            EXPECT_EQ(dialog.findChild<QLabel*>(name + "Label")->text(), QString("%1%").arg(send.percent));
        }
    });
}

TEST_F(MainWindowTest, BitbucketModeOnAndOffLeavesEveryFaderAtMinusInfinity)
{
    seed({{"fader.0", 0}, {"fader.1", -100}});
    MainWindow& window = makeWindow();
    QAction* bitbucket = action("&Routing", "Bitbucket Mode");
    bitbucket->setChecked(true);
    EXPECT_TRUE(window.engine()->isBitbucketMode());
    EXPECT_TRUE(ConfigManager::getInstance()->getBool("audio.bitbucketMode", false));
    for (const auto& strip : window.mixerStrips()) {
        EXPECT_EQ(strip.fader->value(), -600);
        EXPECT_FALSE(strip.fader->isEnabled());
        EXPECT_EQ(strip.gainLabel->text(), QString("-∞ dB"));
    }
    EXPECT_TRUE(logHas("Bitbucket Mode ENABLED"));
    bitbucket->setChecked(false);
    EXPECT_FALSE(window.engine()->isBitbucketMode());
    for (const auto& strip : window.mixerStrips()) {
        EXPECT_EQ(strip.fader->value(), -600);
        EXPECT_TRUE(strip.fader->isEnabled());
        EXPECT_FLOAT_EQ(window.engine()->getTargetTrackGain(strip.trackIndex), 0.0f);
    }
    EXPECT_TRUE(logHas("Bitbucket Mode DISABLED"));
}

TEST_F(MainWindowTest, BitbucketModeStoredOnComesBackCheckedAndInTheEngine)
{
    seed({{"audio.device", std::string("Virtual Interface")}, {"audio.bitbucketMode", true}});
    MainWindow& window = makeWindow();
    EXPECT_TRUE(action("&Routing", "Bitbucket Mode")->isChecked());
    EXPECT_TRUE(window.engine()->isBitbucketMode());
}

} // namespace
