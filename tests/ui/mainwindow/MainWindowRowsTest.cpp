// Track rows and mixer strips on the stepped virtual interface: the fader
// law as the engine, the label and a hardware fader see it, the Arm box,
// the automix groups, PFL, the strip names, a changing track count, the
// bitbucket faders, the channel strip, and the strip clicks of the window's
// event filter.

#include "MainWindowTestSupport.h"

#include "controllers/MidiControllerManager.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "engine/render/AutomixEngine.h"
#include "ui/common/FaderSlider.h"
#include "ui/common/MeterWidget.h"
#include "ui/mixer/ChannelStripDialog.h"
#include "ui/tools/ModalAnswerer.h"

#include <QCheckBox>
#include <QColorDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QSlider>
#include <QTest>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>

#include <cmath>

namespace {

class MainWindowRowsTest : public MainWindowTest {
protected:
    ConfigManager* config() const { return ConfigManager::getInstance(); }


    const MainWindow::MixerStrip& strip(int track) const { return window_->mixerStrips()[static_cast<size_t>(track)]; }
    const MainWindow::TrackRow& row(int track) const { return window_->trackRows()[static_cast<size_t>(track)]; }

    // The last line of the log that starts with `prefix`.
    std::string lastLogLine(const std::string& prefix) const
    {
        const std::string log = home_.logText();
        const size_t at = log.rfind(prefix);
        if (at == std::string::npos)
            return {};
        return log.substr(at, log.find('\n', at) - at);
    }
};

// Pitch-bend positions sent to a plain MIDI fader box, 14 bits each.
std::vector<int> pitchBendValues(const std::vector<std::vector<uint8_t>>& packets)
{
    std::vector<int> values;
    for (const std::vector<uint8_t>& packet : packets) {
        if (packet.size() == 3 && (packet[0] & 0xF0) == 0xE0)
            values.push_back(packet[1] | (packet[2] << 7));
    }
    return values;
}

TEST_F(MainWindowRowsTest, FaderLawReachesEngineLabelHardwareAndTheSavedKey)
{
    midi_->addSource("Fader Box");
    midi_->addDestination("Fader Box");
    MainWindow& window = makeDeviceWindow();
    MidiControllerManager* manager = window.controllerManager();
    ASSERT_NE(manager, nullptr);
    ASSERT_TRUE(manager->addController("Fader Box", false));
    ASSERT_TRUE(manager->assignFader("Fader Box", 0, 2));
    const MidiEndpointRef box = midi_->findDestination("Fader Box");
    midi_->takeSent(box);

    struct Case {
        int tenthsDb;
        float gain;
        const char* label;
        int hardware;
    };
    const Case cases[] = {
        {0, 1.0f, "0.0 dB", 14893},
        {-589, static_cast<float>(std::pow(10.0, -58.9 / 20.0)), "-58.9 dB", 273},
        {-590, 0.0f, "-∞ dB", 248},
        {60, 1.9952624f, "6.0 dB", 16383},
        {-125, static_cast<float>(std::pow(10.0, -12.5 / 20.0)), "-12.5 dB", 11790},
        {-600, 0.0f, "-∞ dB", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.tenthsDb);
        strip(2).fader->setValue(c.tenthsDb);
        EXPECT_NEAR(window.engine()->getTargetTrackGain(2), c.gain, 1e-6f);
        EXPECT_EQ(strip(2).gainLabel->text(), QString::fromUtf8(c.label));
        EXPECT_EQ(pitchBendValues(midi_->takeSent(box)), std::vector<int>{c.hardware});
        EXPECT_EQ(config()->getInt("fader.2", 1), c.tenthsDb);
    }
    EXPECT_TRUE(logHas("Fader 2 at 0dB: sliderValue=0 dB=0.000000 gain=1.000000"));
    EXPECT_TRUE(logHas("Fader 2 at +6dB: sliderValue=60 dB=6.000000 calculatedGain=1.995262 expectedGain=1.995262"));
    EXPECT_FALSE(logHas("ERROR: Gain mismatch!"));

    // The file is written 2 s after the last move, not at each move.
    QTimer* save = window.configSaveTimer();
    ASSERT_NE(save, nullptr);
    EXPECT_TRUE(save->isActive());
    EXPECT_TRUE(save->isSingleShot());
    EXPECT_EQ(save->interval(), 2000);
    strip(4).fader->setValue(-33);
    EXPECT_GE(save->remainingTime(), 1800) << "a later move starts the wait again";
    EXPECT_FALSE(home_.configText().contains("fader.4=-33"));
    QMetaObject::invokeMethod(save, "timeout");
    EXPECT_TRUE(home_.configText().contains("fader.4=-33"));
    EXPECT_TRUE(home_.configText().contains("fader.2=-600"));
}

TEST_F(MainWindowRowsTest, ArmReachesEngineKeyRowColourAndMeter)
{
    MainWindow& window = makeDeviceWindow();
    for (bool armed : {true, false}) {
        SCOPED_TRACE(armed);
        row(5).armButton->setChecked(armed);
        EXPECT_EQ(window.engine()->isTrackArmed(5), armed);
        EXPECT_EQ(config()->getBool("arm.5", !armed), armed);
        EXPECT_EQ(home_.configText().contains(armed ? "arm.5=true" : "arm.5=false"), true) << "saved at once";
        EXPECT_TRUE(row(5).rowWidget->styleSheet().contains(armed ? "#2d352d" : "#252525"));
        EXPECT_EQ(row(5).meter->isArmed(), armed);
    }
    EXPECT_FALSE(window.engine()->isTrackArmed(4));
}

TEST_F(MainWindowRowsTest, AutomixButtonCyclesFiveGroupsIntoTheAutomixer)
{
    MainWindow& window = makeDeviceWindow({{"arm.1", true}});
    window.show();
    window.updateAutomixUiState();
    AutomixEngine* automixer = coreEngine()->getAutomixEngine();
    ASSERT_NE(automixer, nullptr);
    EXPECT_TRUE(automixer->isGlobalEnabled());
    QToolButton* button = row(1).automixButton;
    ASSERT_NE(button, nullptr);
    EXPECT_TRUE(button->isVisible());
    EXPECT_TRUE(button->isEnabled());
    EXPECT_FALSE(row(2).automixButton->isEnabled()) << "an unarmed track takes no group";

    struct Step {
        int group;
        const char* colour;
        const char* tooltip;
    };
    const Step steps[] = {{1, "#9B59B6", "Automix Purple — same color tracks share gain"},
                          {2, "#3a7bd5", "Automix Blue — same color tracks share gain"},
                          {3, "#34C759", "Automix Green — same color tracks share gain"},
                          {4, "#ff8c00", "Automix Orange — same color tracks share gain"},
                          {0, "#2d2d2d", "Automix off — click to assign Purple group"}};
    for (const Step& step : steps) {
        SCOPED_TRACE(step.group);
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_EQ(config()->getString("automix.1", ""), std::to_string(step.group));
        EXPECT_EQ(row(1).automixGroup, step.group);
        EXPECT_EQ(button->text(), QString("AMix"));
        EXPECT_EQ(button->toolTip(), QString::fromUtf8(step.tooltip));
        EXPECT_TRUE(button->styleSheet().contains(step.colour));
        EXPECT_EQ(automixer->getTrackGroup(1), step.group);
        EXPECT_EQ(row(1).automixShareLabel->isVisible(), step.group != 0);
    }

    // Disarming takes the track out of its group; the stored group stays.
    QTest::mouseClick(button, Qt::LeftButton);
    ASSERT_EQ(automixer->getTrackGroup(1), 1);
    row(1).armButton->setChecked(false);
    EXPECT_EQ(automixer->getTrackGroup(1), 0);
    EXPECT_FALSE(button->isEnabled());
    EXPECT_EQ(config()->getString("automix.1", ""), "1");
}

TEST_F(MainWindowRowsTest, StoredAutomixTextsReadAsGroups)
{
    struct Case {
        const char* stored;
        int group;
    };
    const Case cases[] = {{"", 0},    {"no", 0},   {"false", 0}, {"yes", 1}, {"true", 1},   {"TRUE", 0},
                          {"3", 3},   {"7", 4},    {"-2", 0},    {"2x", 0},  {"purple", 0}};
    for (const Case& c : cases) {
        config()->setString("automix.9", c.stored);
        EXPECT_EQ(MainWindow::readAutomixGroupFromConfig(9), c.group) << '"' << c.stored << '"';
    }
    EXPECT_EQ(MainWindow::automixButtonStyle(9), MainWindow::automixButtonStyle(0)) << "outside 0 to 4 is off";
}

TEST_F(MainWindowRowsTest, PflIsExclusive)
{
    makeDeviceWindow();
    // The engine's PFL track as its last PFL log line tells it.
    const auto lastPfl = [this] {
        const std::string log = home_.logText();
        const size_t enabled = log.rfind("PFL enabled for track ");
        const size_t disabled = log.rfind("PFL disabled");
        if (enabled == std::string::npos || (disabled != std::string::npos && disabled > enabled))
            return std::string("off");
        return lastLogLine("PFL enabled for track ").substr(std::string("PFL enabled for track ").size());
    };
    strip(0).pflButton->click();
    EXPECT_EQ(lastPfl(), "0");
    strip(2).pflButton->click();
    EXPECT_FALSE(strip(0).pflButton->isChecked());
    EXPECT_TRUE(strip(2).pflButton->isChecked());
    EXPECT_EQ(lastPfl(), "2");
    strip(2).pflButton->click();
    EXPECT_EQ(lastPfl(), "off");
    for (const MainWindow::MixerStrip& each : window_->mixerStrips())
        EXPECT_FALSE(each.pflButton->isChecked());
}

TEST_F(MainWindowRowsTest, StripNamesAreShortenedAndTheFullNameIsTheTooltip)
{
    struct Case {
        const char* name;
        const char* shown;
    };
    const Case cases[] = {{"Boom Mic Left", "Boom M L"},
                          {"Lavalier", "Lavalier"},
                          {"Boom Mic", "Boom Mic"},
                          {"Wireless1", "Wireles…"},
                          {"  Boom  ", "Boom"},
                          {"", ""},
                          {"Microphone array left", "Micr A L"},
                          {"A b c d e f", "A B C D"},
                          {"Boom   plant", "Boom P"}};
    for (const Case& c : cases)
        EXPECT_EQ(shortStripName(QString::fromUtf8(c.name)), QString::fromUtf8(c.shown)) << c.name;

    MainWindow& window = makeDeviceWindow({{"track.count", 10}, {"track.name.9", std::string("Wireless1")}});
    EXPECT_EQ(strip(9).nameLabel->text(), QString::fromUtf8("Wireles…"));
    EXPECT_EQ(strip(9).nameLabel->toolTip(), QString("Wireless1"));
    // Typing shows at once; the key is written when the edit is finished.
    row(3).nameEdit->setText("Plant Mic Right");
    EXPECT_EQ(strip(3).nameLabel->text(), QString("Plan M R"));
    EXPECT_NE(config()->getString("track.name.3", ""), "Plant Mic Right");
    emit row(3).nameEdit->editingFinished();
    EXPECT_EQ(config()->getString("track.name.3", ""), "Plant Mic Right");
    row(3).nameEdit->setText("   ");
    EXPECT_EQ(strip(3).nameLabel->text(), QString("4")) << "a blank name shows the track number";
    (void)window;
}

// Fewer tracks hide rows and strips and disarm their tracks in the engine
// while their boxes and keys stay; more tracks show the same widgets again,
// armed from their boxes, without reading the keys a second time.
TEST_F(MainWindowRowsTest, TrackCountChangesReuseTheWidgetsAndDisarmHiddenTracks)
{
    std::vector<std::pair<std::string, Value>> keys{{"track.count", 24}, {"arm.20", true}, {"arm.3", true},
                                                    {"fader.20", -60}};
    MainWindow& window = makeDeviceWindow(keys);
    window.show();
    ASSERT_EQ(window.shownTrackCount(), 24);
    ASSERT_EQ(window.trackRows().size(), 24u);
    std::vector<QWidget*> rows;
    std::vector<QWidget*> strips;
    for (int track = 0; track < 24; ++track) {
        rows.push_back(row(track).rowWidget);
        strips.push_back(strip(track).stripWidget);
    }
    QWidget* rightColumn = row(20).rowWidget->parentWidget();
    EXPECT_TRUE(rightColumn->isVisible());
    EXPECT_TRUE(window.engine()->isTrackArmed(20));
    EXPECT_EQ(strip(20).fader->value(), -60);

    window.rebuildTracksForTest(8, {});
    EXPECT_EQ(window.shownTrackCount(), 8);
    EXPECT_EQ(window.trackRows().size(), 24u) << "rows are hidden, never destroyed";
    EXPECT_FALSE(rightColumn->isVisible());
    for (int track = 0; track < 24; ++track) {
        SCOPED_TRACE(track);
        EXPECT_EQ(row(track).rowWidget->isHidden(), track >= 8);
        EXPECT_EQ(strip(track).stripWidget->isHidden(), track >= 8);
    }
    EXPECT_FALSE(window.engine()->isTrackArmed(20)) << "a hidden track is not recorded";
    EXPECT_TRUE(row(20).armButton->isChecked());
    EXPECT_TRUE(config()->getBool("arm.20", false));
    EXPECT_TRUE(window.engine()->isTrackArmed(3));

    // Keys changed meanwhile are not read again: the widgets keep their state.
    config()->setBool("arm.21", true);
    config()->setInt("fader.20", -300);
    window.rebuildTracksForTest(24, {});
    for (int track = 0; track < 24; ++track) {
        EXPECT_EQ(row(track).rowWidget, rows[static_cast<size_t>(track)]);
        EXPECT_EQ(strip(track).stripWidget, strips[static_cast<size_t>(track)]);
        EXPECT_FALSE(row(track).rowWidget->isHidden());
    }
    EXPECT_TRUE(rightColumn->isVisible());
    EXPECT_TRUE(window.engine()->isTrackArmed(20)) << "armed again from its box";
    EXPECT_FALSE(row(21).armButton->isChecked());
    EXPECT_FALSE(window.engine()->isTrackArmed(21));
    EXPECT_EQ(strip(20).fader->value(), -60);
    EXPECT_TRUE(logHas("Rebuilding tracks and mixer for 8 tracks"));
    EXPECT_TRUE(logHas("Track rebuild complete: 24 tracks visible"));

    // Arming a row while it is hidden keeps the engine out of it too.
    window.rebuildTracksForTest(8, {});
    row(22).armButton->setChecked(true);
    EXPECT_FALSE(window.engine()->isTrackArmed(22));
    EXPECT_TRUE(config()->getBool("arm.22", false));
}

// A restart with fewer tracks than the set-up built: the stored boxes of
// the hidden rows arm nothing in the engine.
TEST_F(MainWindowRowsTest, RestoredArmOfAHiddenTrackStaysOutOfTheEngine)
{
    MainWindow& window = makeDeviceWindow({{"track.count", 4}, {"arm.1", true}, {"arm.6", true}});
    EXPECT_TRUE(window.engine()->isTrackArmed(1));
    EXPECT_TRUE(row(6).armButton->isChecked());
    EXPECT_FALSE(window.engine()->isTrackArmed(6));
    window.rebuildTracksForTest(8, {});
    EXPECT_TRUE(window.engine()->isTrackArmed(6));
}

TEST_F(MainWindowRowsTest, BitbucketFadersStayDownAndDisabledForNewStrips)
{
    MainWindow& window =
        makeDeviceWindow({{"audio.bitbucketMode", true}, {"fader.2", -100}, {"fader.20", 0}, {"track.count", 8}});
    window.show();
    window.rebuildTracksForTest(24, {});
    for (const MainWindow::MixerStrip& each : window.mixerStrips()) {
        SCOPED_TRACE(each.trackIndex);
        EXPECT_EQ(each.fader->value(), FaderSlider::kMinimumTenthsDb);
        EXPECT_FALSE(each.fader->isEnabled());
        EXPECT_EQ(each.gainLabel->text(), QString::fromUtf8("-∞ dB"));
    }
    EXPECT_FALSE(window.mixMeter()->isVisible());
    EXPECT_FALSE(window.automixAction()->isEnabled());
}

TEST_F(MainWindowRowsTest, TrackButtonOpensAModelessChannelStrip)
{
    MainWindow& window = makeDeviceWindow({{"track.name.3", std::string("Boom Mic Left")}});
    window.show();
    QTest::mouseClick(strip(3).trackButton, Qt::LeftButton);
    ChannelStripDialog* dialog = nullptr;
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (auto* found = qobject_cast<ChannelStripDialog*>(widget); found != nullptr && found->isVisible())
            dialog = found;
    }
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->trackIndex(), 3);
    EXPECT_FALSE(dialog->isModal());
    EXPECT_TRUE(dialog->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_TRUE(logHas("ColorBox clicked for track 3"));
    EXPECT_TRUE(window.isEnabled()) << "the window stays usable beside it";
    QTest::qWait(50);
    keepPicture(*dialog, "channel-strip-from-window");
    QPointer<ChannelStripDialog> watched(dialog);
    dialog->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 5000)) << "the closed dialog was not deleted";
}

// COPY in one track's strip dialog is there for PASTE in another's, even
// after the first is closed: the window keeps the clipboard they share.
TEST_F(MainWindowRowsTest, ChannelStripsOpenedFromTheWindowShareOneClipboard)
{
    MainWindow& window = makeDeviceWindow();
    window.show();
    const auto openStrip = [&](int track) -> ChannelStripDialog* {
        QTest::mouseClick(strip(track).trackButton, Qt::LeftButton);
        for (QWidget* widget : QApplication::topLevelWidgets())
            if (auto* found = qobject_cast<ChannelStripDialog*>(widget);
                found != nullptr && found->isVisible() && found->trackIndex() == track)
                return found;
        return nullptr;
    };
    const auto button = [](QWidget* dialog, const QString& text) -> QPushButton* {
        for (QPushButton* each : dialog->findChildren<QPushButton*>())
            if (each->text() == text)
                return each;
        return nullptr;
    };

    ChannelStripDialog* source = openStrip(2);
    ASSERT_NE(source, nullptr);
    source->findChild<QSlider*>("trimSlider")->setValue(-55);
    source->findChild<QSlider*>("eq.mid.gain")->setValue(45);
    QTest::mouseClick(button(source, "📋 COPY"), Qt::LeftButton);
    QPointer<ChannelStripDialog> watched(source);
    source->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return watched.isNull(); }, 5000));

    ChannelStripDialog* target = openStrip(5);
    ASSERT_NE(target, nullptr);
    ASSERT_TRUE(button(target, "📄 PASTE")->isEnabled());
    QTest::mouseClick(button(target, "📄 PASTE"), Qt::LeftButton);
    EXPECT_EQ(target->findChild<QSlider*>("trimSlider")->value(), -55);
    EXPECT_EQ(target->findChild<QSlider*>("eq.mid.gain")->value(), 45);
    EXPECT_NEAR(window.engine()->getTrackDigitalGain(5), -5.5f, 1e-6f);
    target->close();
}

TEST_F(MainWindowRowsTest, StripClicksResetFadersPickColoursAndLockCantaremFaders)
{
    MainWindow& window = makeDeviceWindow({{"midi.faderAssignments", std::string("Cantarem 2:0:3")},
                                           {"fader.1", -200},
                                           {"fader.3", -200}});
    window.show();
    ASSERT_TRUE(window.controllerManager()->isTrackMappedToCantarem(3));

    // Ctrl+click on the gain label: 0 dB, applied as a move of the fader.
    QTest::mouseClick(strip(1).gainLabel, Qt::LeftButton);
    EXPECT_EQ(strip(1).fader->value(), -200) << "a plain click does nothing";
    QTest::mouseClick(strip(1).gainLabel, Qt::LeftButton, Qt::ControlModifier);
    EXPECT_EQ(strip(1).fader->value(), 0);
    EXPECT_EQ(strip(1).gainLabel->text(), QString("0.0 dB"));
    EXPECT_NEAR(window.engine()->getTargetTrackGain(1), 1.0f, 1e-6f);
    QTest::mouseClick(strip(0).gainLabel, Qt::RightButton, Qt::ControlModifier);
    EXPECT_EQ(strip(0).fader->value(), 0) << "any button with Ctrl";

    // A fader a Cantarem 2 drives takes neither wheel nor press.
    const auto wheel = [](QWidget* target) {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    };
    wheel(strip(3).fader);
    QTest::mouseClick(strip(3).fader, Qt::LeftButton, Qt::NoModifier, QPoint(strip(3).fader->width() / 2, 2));
    EXPECT_EQ(strip(3).fader->value(), -200);
    wheel(strip(1).fader);
    EXPECT_NE(strip(1).fader->value(), 0) << "other faders follow the wheel";

    // Right click on the track button: the colour dialog, stored on a choice.
    QString title;
    {
        OnShow<QColorDialog> pick([&title](QColorDialog& dialog) {
            title = dialog.windowTitle();
            dialog.setCurrentColor(QColor("#12ab34"));
            dialog.accept();
        });
        QTest::mouseClick(strip(2).trackButton, Qt::RightButton);
    }
    EXPECT_EQ(title, QString("Select Color for Track 3"));
    EXPECT_EQ(strip(2).color.name(), QString("#12ab34"));
    EXPECT_TRUE(strip(2).trackButton->styleSheet().contains("background-color: #12ab34"));
    EXPECT_TRUE(home_.configText().contains("track.color.2=#12ab34"));
    {
        OnShow<QColorDialog> cancel([](QColorDialog& dialog) { dialog.reject(); });
        QTest::mouseClick(strip(2).trackButton, Qt::RightButton);
    }
    EXPECT_EQ(strip(2).color.name(), QString("#12ab34")) << "a cancel changes nothing";
    EXPECT_FALSE(logHas("ColorBox clicked for track 2")) << "a right press opens no channel strip";
}

} // namespace
