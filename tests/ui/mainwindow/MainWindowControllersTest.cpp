// Control surfaces driving the window, offscreen, through the real manager
// and drivers on virtual MIDI, HID and USB systems: controller fader values
// on the strips, the start-up hold-off and fader sync, the Cantarem 2's keys
// with real takes on the stepped virtual interface, transports, a replugged
// surface brought back by the watchdog, the assignment dialog opened from the
// menu, and the CL-12's instructions box.

#include "EngineDouble.h"
#include "MainWindowRecordTestSupport.h"

#include "controllers/HidController_CL12.h"
#include "controllers/HidController_Cantarem2.h"
#include "controllers/MidiControllerManager.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "engine/take/TakeSettings.h"
#include "platform/hid/VirtualHidSystem.h"
#include "platform/usb/VirtualUsbSystem.h"
#include "support/UdpPorts.h"
#include "ui/common/FaderSlider.h"
#include "ui/mixer/FaderAssignmentDialog.h"
#include "ui/tools/ModalAnswerer.h"
#include "ui/tools/ModalBoxAnswerer.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QTest>
#include <QTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <thread>

namespace {

const char* const kNano = "nanoKONTROL2";
const std::string kCantarem = "Cantarem 2";

using Bytes = std::vector<uint8_t>;

Bytes pitchBend(int channel, int lsb, int msb)
{
    return {static_cast<uint8_t>(0xE0 | channel), static_cast<uint8_t>(lsb), static_cast<uint8_t>(msb)};
}
Bytes pitchBend(int channel, int value)
{
    return pitchBend(channel, value & 0x7F, (value >> 7) & 0x7F);
}
Bytes controlChange(int number, int value)
{
    return {0xB0, static_cast<uint8_t>(number), static_cast<uint8_t>(value)};
}

// Report 12 of the Cantarem 2: raw 12-bit positions from byte 8, low byte first.
Bytes cantaremFaders(const std::array<int, 12>& raw)
{
    Bytes report(33, 0);
    report[0] = 12;
    for (size_t i = 0; i < raw.size(); ++i) {
        report[8 + 2 * i] = static_cast<uint8_t>(raw[i] & 0xFF);
        report[9 + 2 * i] = static_cast<uint8_t>((raw[i] >> 8) & 0x0F);
    }
    return report;
}

// Report 11 with these keys down (key n is bit n % 8 of byte 4 + n / 8).
Bytes cantaremKeys(const std::set<int>& down)
{
    Bytes report{11, 0, 0, 0, 0, 0, 0};
    for (int key : down)
        report[4 + key / 8] |= static_cast<uint8_t>(1 << (key % 8));
    return report;
}

enum Key { kShift1 = 12, kShift2 = 13, kC1 = 14, kC2 = 15 };

class MainWindowControllersTest : public MainWindowRecordTest {
protected:
    void SetUp() override
    {
        MainWindowRecordTest::SetUp();
        hid_ = std::make_shared<VirtualHidSystem>();
        usb_ = std::make_shared<VirtualUsbSystem>();
        setDefaultHidSystem(hid_);
        setDefaultUsbSystem(usb_);
        HidController_Cantarem2::resetButtonStateForTests();
    }

    void TearDown() override
    {
        MainWindowRecordTest::TearDown();
        EngineDouble::uninstall();
        HidController_CL12::setRunningAsRootForTests(-1); // here, so a test stopped by an assertion does not leave it set
        setDefaultHidSystem(nullptr);
        setDefaultUsbSystem(nullptr);
    }

    void plugNano()
    {
        midi_->addSource(kNano);
        midi_->addDestination(kNano);
    }

    // Delivers one MIDI packet from the source and runs the queued call it
    // leaves for the window.
    void injectMidi(const std::string& source, const Bytes& bytes)
    {
        ASSERT_TRUE(midi_->inject(midi_->findSource(source), bytes));
        midi_->waitForDeliveries();
        QCoreApplication::processEvents();
    }
    void injectHid(const Bytes& report)
    {
        ASSERT_TRUE(hid_->inject(cantaremPath_, report));
        hid_->waitUntilDrained(cantaremPath_);
        QCoreApplication::processEvents();
    }
    std::vector<Bytes> sentToNano() { return midi_->takeSent(midi_->findDestination(kNano)); }

    void waitForInputEnabled()
    {
        ASSERT_TRUE(QTest::qWaitFor([this] { return !window_->isControllerFaderHoldOff(); }, 5000));
    }

    std::shared_ptr<VirtualHidSystem> hid_;
    std::shared_ptr<VirtualUsbSystem> usb_;
    std::string cantaremPath_;
};

} // namespace

// Controller values against the strip, its label, the engine gain and the
// stored fader, as pitch bends from the nanoKONTROL2's first fader.
TEST_F(MainWindowControllersTest, ControllerFaderValuesSetStripLabelGainAndStoredFader)
{
    plugNano();
    seed({{"track.count", 8},
          {"midi.controllers", std::string(kNano)},
          {"midi.faderAssignments", std::string("nanoKONTROL2:0:2")}});
    MainWindow& window = makeWindow();
    waitForInputEnabled();
    const MainWindow::MixerStrip& strip = window.mixerStrips()[2];
    sentToNano();

    const struct {
        int lsb;
        int msb;
        int fader;
        const char* label;
        float gain;
    } cases[] = {
        {0, 0, -600, "-∞ dB", 0.0f},
        {127, 127, 60, "6.0 dB", 1.9953f},
        {14893 & 0x7F, 14893 >> 7, 0, "0.0 dB", 0.99969f},
        {261 & 0x7F, 261 >> 7, -589, "-58.9 dB", 0.001127f},
        {260 & 0x7F, 260 >> 7, -590, "-∞ dB", 0.0f},
        // Data bytes above 127 would make 65535: held at the top.
        {0xFF, 0xFF, 60, "6.0 dB", 1.9953f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.lsb + 128 * c.msb);
        window.onMidiFaderChanged(2, 8192); // a different start for every case
        injectMidi(kNano, pitchBend(0, c.lsb, c.msb));
        EXPECT_EQ(strip.fader->value(), c.fader);
        EXPECT_EQ(strip.gainLabel->text(), QString::fromUtf8(c.label));
        EXPECT_NEAR(window.engine()->getTargetTrackGain(2), c.gain, 1e-4f * std::max(1.0f, c.gain));
        EXPECT_EQ(ConfigManager::getInstance()->getInt("fader.2", 12345), c.fader);
    }
    // The move is not echoed back to the surface it came from.
    EXPECT_TRUE(sentToNano().empty());

    // Values past either end are held there; channels outside the strips do nothing.
    window.onMidiFaderChanged(2, 1 << 20);
    EXPECT_EQ(strip.fader->value(), 60);
    window.onMidiFaderChanged(2, -5);
    EXPECT_EQ(strip.fader->value(), -600);
    window.onMidiFaderChanged(8, 16383);
    window.onMidiFaderChanged(-1, 16383);
    EXPECT_EQ(strip.fader->value(), -600);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("fader.8", 12345), 12345);
}

// Before the settings are restored until 600 ms after, controller moves are
// dropped; at 100 ms the screen faders go to the motorised faders: the 0 dB
// fader on the nanoKONTROL2's first fader as control change 82 value 115.
TEST_F(MainWindowControllersTest, HoldOffDropsMovesAndTheFirstSyncSendsTheRestoredMix)
{
    plugNano();
    seed({{"track.count", 4},
          {"fader.0", 0},
          {"fader.1", -600},
          {"fader.3", 60},
          {"midi.controllers", std::string(kNano)},
          {"midi.faderAssignments", std::string("nanoKONTROL2:0:0|nanoKONTROL2:1:1|nanoKONTROL2:7:3")}});
    QElapsedTimer sinceStart;
    sinceStart.start();
    MainWindow& window = makeWindow();
    EXPECT_TRUE(window.isControllerFaderHoldOff());
    // Restoring a fader that moves runs its change handler, which already
    // sends its position (fader 1 stays at -60 dB, so nothing for it); the
    // sync at 100 ms sends the whole mix.
    EXPECT_EQ(sentToNano(), (std::vector<Bytes>{controlChange(82, 115), controlChange(89, 127)}));
    const std::vector<Bytes> restoredMix{controlChange(82, 115), controlChange(83, 0), controlChange(89, 127)};

    injectMidi(kNano, pitchBend(0, 16383));
    EXPECT_EQ(window.mixerStrips()[0].fader->value(), 0);

    std::vector<Bytes> sent;
    ASSERT_TRUE(QTest::qWaitFor([&] { return !(sent = sentToNano()).empty(); }, 5000));
    EXPECT_GE(sinceStart.elapsed(), 100);
    EXPECT_EQ(sent, restoredMix);
    EXPECT_TRUE(logHas("Syncing faders to hardware controllers"));

    // Still held off between the sync and 600 ms.
    EXPECT_TRUE(window.isControllerFaderHoldOff());
    injectMidi(kNano, pitchBend(1, 16383));
    EXPECT_EQ(window.mixerStrips()[1].fader->value(), -600);

    waitForInputEnabled();
    EXPECT_GE(sinceStart.elapsed(), 600);
    EXPECT_TRUE(logHas("MIDI fader input now ENABLED"));
    injectMidi(kNano, pitchBend(1, 16383));
    EXPECT_EQ(window.mixerStrips()[1].fader->value(), 60);
}

// The Cantarem 2's Shift keys against real takes on the virtual interface:
// Shift 1 alone starts a take and does nothing during one; stopping takes
// both Shift keys, in either order.
TEST_F(MainWindowControllersTest, CantaremShiftKeysStartAndStopRealTakes)
{
    cantaremPath_ = hid_->attach(HidController_Cantarem2::kVendorId, HidController_Cantarem2::kProductId);
    hid_->setReportOnOpen(cantaremPath_, cantaremFaders({}));
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic, 0, {{"midi.controllers", kCantarem}});
    ASSERT_TRUE(window.controllerManager()->isDeviceConnected(kCantarem));
    ASSERT_TRUE(window.engine()->isRunning());
    render(0.5);

    const struct {
        int key;
        bool down;
        bool recordingAfter;
        const char* why;
    } steps[] = {
        {kShift1, true, true, "Shift 1 while idle starts a take"},
        {kShift1, false, true, "its release does nothing"},
        {kShift1, true, true, "Shift 1 alone during a take does nothing"},
        {kShift1, false, true, ""},
        {kShift2, true, true, "Shift 2 alone is a modifier"},
        {kShift1, true, false, "Shift 2 held, then Shift 1: stop"},
        {kShift1, false, false, ""},
        {kShift1, true, true, "Shift 2 held and Shift 1 while idle: a take starts"},
        {kShift2, false, true, ""},
        {kShift2, true, false, "Shift 1 held, then Shift 2: stop"},
        {kShift2, false, false, ""},
        {kShift1, false, false, ""},
    };
    std::set<int> down;
    int takes = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(step.why);
        const bool wasRecording = window.isRecording();
        if (step.down)
            down.insert(step.key);
        else
            down.erase(step.key);
        injectHid(cantaremKeys(down));
        EXPECT_EQ(window.isRecording(), step.recordingAfter);
        EXPECT_EQ(window.engine()->isRecording(), step.recordingAfter);
        if (step.recordingAfter && !wasRecording)
            ++takes;
        if (wasRecording && !step.recordingAfter)
            expectClosedTake();
        render(0.3);
    }
    EXPECT_EQ(takes, 2);
    EXPECT_EQ(logCount("  -> Shift 1 START RECORD"), 2u);
    EXPECT_EQ(logCount("  -> Shift 1+2 STOP RECORD (safety)"), 1u);
    EXPECT_EQ(logCount("  -> Shift 2+1 STOP RECORD (safety)"), 1u);
    EXPECT_EQ(boxes.count(), 0);
}

// C1 opens the recorded slate, or with Shift 2 held the monitor slate, and
// its release ends the slate it opened even when Shift 2 changed in between;
// C2 holds COM open.
TEST_F(MainWindowControllersTest, CantaremC1AndC2HoldSlateAndCom)
{
    cantaremPath_ = hid_->attach(HidController_Cantarem2::kVendorId, HidController_Cantarem2::kProductId);
    hid_->setReportOnOpen(cantaremPath_, cantaremFaders({}));
    seed({{"midi.controllers", kCantarem}});
    MainWindow& window = makeWindow();
    ASSERT_TRUE(window.controllerManager()->isDeviceConnected(kCantarem));

    const struct {
        std::set<int> down;
        bool slate;
        bool monitor;
        bool com;
    } steps[] = {
        {{kC1}, true, false, false},          // C1 alone: slate into the take
        {{}, false, false, false},
        {{kShift2}, false, false, false},
        {{kShift2, kC1}, false, true, false}, // with Shift 2: monitor only
        {{kC1}, false, true, false},          // Shift 2 let go first ...
        {{}, false, false, false},            // ... the monitor slate still ends
        {{kC1}, true, false, false},
        {{kC1, kShift2}, true, false, false}, // Shift 2 pressed during a slate
        {{kShift2}, false, false, false},
        {{}, false, false, false},
        {{kC2}, false, false, true},
        {{}, false, false, false},
    };
    int index = 0;
    for (const auto& step : steps) {
        SCOPED_TRACE(index++);
        injectHid(cantaremKeys(step.down));
        EXPECT_EQ(window.isSlateActive(), step.slate);
        EXPECT_EQ(window.isMonitorSlateActive(), step.monitor);
        EXPECT_EQ(window.isComActive(), step.com);
    }
    EXPECT_TRUE(logHas("  -> C1 SLATE MONITOR ON"));
    EXPECT_TRUE(logHas("  -> C1 SLATE MONITOR OFF"));
    EXPECT_TRUE(logHas("  -> C2 COM ON"));
}

// The nanoKONTROL2's transport keys: Rec (10) starts a take while idle and
// Stop (8) ends it; Rec during a take and Stop while idle are logged only.
// Its CC 25 (button 12) and a note 12 are the Cantarem 2's Shift 1 number
// but start nothing from it.
TEST_F(MainWindowControllersTest, NanoTransportsActAndItsGlobalNumbersDoNot)
{
    plugNano();
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic, 0, {{"midi.controllers", std::string(kNano)}});
    ASSERT_TRUE(window.controllerManager()->isDeviceConnected(kNano));
    render(0.5);

    const struct {
        Bytes message;
        bool recordingAfter;
        const char* why;
    } steps[] = {
        {controlChange(25, 127), false, "button 12 of a MIDI surface"},
        {Bytes{0x90, 12, 100}, false, "note 12"},
        {controlChange(78, 127), false, "Stop while idle"},
        {controlChange(80, 127), true, "Rec while idle"},
        {controlChange(80, 127), true, "Rec during a take"},
        {controlChange(78, 127), false, "Stop during a take"},
    };
    for (const auto& step : steps) {
        SCOPED_TRACE(step.why);
        const bool wasRecording = window.isRecording();
        injectMidi(kNano, step.message);
        QCoreApplication::processEvents();
        EXPECT_EQ(window.isRecording(), step.recordingAfter);
        if (wasRecording && !step.recordingAfter)
            expectClosedTake();
        render(0.3);
    }
    EXPECT_EQ(logCount("MIDI Transport: button=10"), 2u);
    EXPECT_EQ(logCount("MIDI Transport: button=8"), 2u);
    EXPECT_TRUE(logHas("ignored: global buttons act only from the Cantarem 2"));
    EXPECT_FALSE(logHas("Cantarem Button: index=12"));
    EXPECT_EQ(boxes.count(), 0);
}

// A strip key is the PFL of the track its fader drives: key 4 under a fader
// on track 8 is track 8's, not track 4's.
TEST_F(MainWindowControllersTest, StripKeyTogglesThePflOfTheAssignedTrack)
{
    plugNano();
    seed({{"track.count", 8},
          {"midi.controllers", std::string(kNano)},
          {"midi.faderAssignments", std::string("nanoKONTROL2:3:7")}});
    MainWindow& window = makeWindow();
    injectMidi(kNano, controlChange(36, 127)); // button 3
    EXPECT_TRUE(logHas("Controller track key: track=8 PRESSED"));
    EXPECT_FALSE(logHas("Cantarem Button: index=3"));
    injectMidi(kNano, controlChange(37, 127)); // button 4: its fader drives nothing
    EXPECT_FALSE(logHas("Controller track key: track=5"));

    QPushButton* pfl8 = window.mixerStrips()[7].pflButton;
    QPushButton* pfl4 = window.mixerStrips()[3].pflButton;
    ASSERT_NE(pfl8, nullptr);
    ASSERT_NE(pfl4, nullptr);
    const bool before8 = pfl8->isChecked();
    const bool before4 = pfl4->isChecked();
    injectMidi(kNano, controlChange(36, 127));
    EXPECT_NE(pfl8->isChecked(), before8);
    EXPECT_EQ(pfl4->isChecked(), before4);
}

// The Cantarem 2 sends its fader state when opened: the screen faders of the
// tracks it drives start where the hardware stands, the others from the file.
TEST_F(MainWindowControllersTest, CantaremFirstReportSetsTheScreenFaders)
{
    cantaremPath_ = hid_->attach(HidController_Cantarem2::kVendorId, HidController_Cantarem2::kProductId);
    std::array<int, 12> raw{};
    raw[0] = 3830; // top
    raw[1] = 0;
    raw[5] = 1915; // half way: 8191 of 16383, -27.0 dB
    hid_->setReportOnOpen(cantaremPath_, cantaremFaders(raw));
    seed({{"track.count", 4},
          {"fader.0", -200},
          {"fader.1", 0},
          {"fader.2", -123},
          {"fader.3", -300},
          {"midi.controllers", kCantarem},
          {"midi.faderAssignments", std::string("Cantarem 2:0:0|Cantarem 2:1:1|Cantarem 2:5:3")}});
    MainWindow& window = makeWindow();
    const std::vector<MainWindow::MixerStrip>& strips = window.mixerStrips();
    EXPECT_EQ(strips[0].fader->value(), 60);
    EXPECT_EQ(strips[1].fader->value(), -600);
    EXPECT_EQ(strips[2].fader->value(), -123);
    EXPECT_EQ(strips[3].fader->value(), -270);
    EXPECT_TRUE(logHas("Got 12 fader positions from Cantarem 2"));
}

// Saved surfaces absent at start come back with the watchdog once they are
// plugged in, and their assignments act; an unplugged Cantarem 2 is reopened
// when it returns and drives its track again.
TEST_F(MainWindowControllersTest, WatchdogBringsBackSurfacesPluggedInLater)
{
    seed({{"track.count", 4},
          {"midi.controllers", std::string("nanoKONTROL2|Cantarem 2")},
          {"midi.faderAssignments", std::string("nanoKONTROL2:0:0|Cantarem 2:2:1")}});
    MainWindow& window = makeWindow();
    MidiControllerManager* manager = window.controllerManager();
    EXPECT_TRUE(manager->getControllers().empty());
    waitForInputEnabled();

    plugNano();
    cantaremPath_ = hid_->attach(HidController_Cantarem2::kVendorId, HidController_Cantarem2::kProductId);
    hid_->setReportOnOpen(cantaremPath_, cantaremFaders({}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager->getControllers().size() == 2; }, 6000));
    injectMidi(kNano, pitchBend(0, 16383));
    EXPECT_EQ(window.mixerStrips()[0].fader->value(), 60);
    std::array<int, 12> raw{};
    raw[2] = 3830;
    injectHid(cantaremFaders(raw));
    EXPECT_EQ(window.mixerStrips()[1].fader->value(), 60);

    // Unplugged and plugged in again: same record, same assignment.
    ASSERT_TRUE(hid_->detach(cantaremPath_));
    cantaremPath_ = hid_->attach(HidController_Cantarem2::kVendorId, HidController_Cantarem2::kProductId);
    hid_->setReportOnOpen(cantaremPath_, cantaremFaders(raw));
    // Adopted on the GUI thread once the watchdog's worker has opened it.
    ASSERT_TRUE(QTest::qWaitFor([&] { return logHas("Successfully reopened controller: Cantarem 2"); }, 6000));
    EXPECT_EQ(hid_->openHandleCount(cantaremPath_), 1);
    raw[2] = 0;
    injectHid(cantaremFaders(raw));
    EXPECT_EQ(window.mixerStrips()[1].fader->value(), -600);
    EXPECT_EQ(manager->getControllers().size(), 2u);

    // A MIDI source that goes and comes back under its name keeps its track.
    ASSERT_TRUE(midi_->removeEndpoint(midi_->findSource(kNano)));
    midi_->addSource(kNano);
    injectMidi(kNano, pitchBend(0, 0));
    EXPECT_EQ(window.mixerStrips()[0].fader->value(), -600);
    EXPECT_EQ(ConfigManager::getInstance()->getString("midi.controllers", ""), "nanoKONTROL2|Cantarem 2");
}

// A CL-12 in the list is unplugged and plugged in again, and its USB start
// answers slowly: the record and stop keys act while the watchdog brings it
// back, and afterwards it drives its track again.
TEST_F(MainWindowControllersTest, RecordAndStopActWhileASlowSurfaceReconnects)
{
    const std::string cl12 = "Sound Devices CL-12";
    auto plugCl12 = [&] {
        usb_->attach(HidController_CL12::kVendorId, HidController_CL12::kProductId,
                     {VirtualUsbSystem::InterfaceState::Free});
        for (int i = 0; i < 4; ++i)
            usb_->queueReply(Bytes{0x01}); // the start sequence's reads
    };
    // A poll reply with fader 3 at this raw 12-bit position.
    auto moveFader3 = [&](int raw) {
        Bytes reply(38, 0);
        reply[0] = 0x26;
        reply[1] = 0x5A;
        reply[18] = static_cast<uint8_t>(raw & 0xFF);
        reply[19] = static_cast<uint8_t>(raw >> 8);
        usb_->waitUntilReaderWaits();
        usb_->queueReply(reply);
        usb_->waitUntilReaderWaits();
    };
    plugCl12();
    ModalBoxAnswerer boxes;
    MainWindow& window = makeRecordingWindow(kFileFormatPolyphonic, 0,
                                             {{"midi.controllers", cl12},
                                              {"midi.faderAssignments", cl12 + ":2:1"}});
    MidiControllerManager* manager = window.controllerManager();
    ASSERT_TRUE(manager->isDeviceConnected(cl12));
    waitForInputEnabled();
    moveFader3(4095);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.mixerStrips()[1].fader->value() == 60; }, 5000));
    render(0.5);

    usb_->unplug();
    auto* lost = dynamic_cast<HidController_CL12*>(manager->getControllers()[0].controller.get());
    ASSERT_NE(lost, nullptr);
    ASSERT_TRUE(QTest::qWaitFor([&] { return lost->isDeviceLost(); }, 5000));
    usb_->setOpenDelay(std::chrono::milliseconds(3000));
    plugCl12();
    ASSERT_TRUE(QTest::qWaitFor([&] { return manager->isWatchdogRunning(); }, 5000));
    clickHalf(true);
    EXPECT_TRUE(window.isRecording());
    EXPECT_TRUE(window.engine()->isRecording());
    render(0.5);
    clickHalf(false);
    EXPECT_FALSE(window.isRecording());
    EXPECT_FALSE(window.engine()->isRecording());
    EXPECT_TRUE(manager->isWatchdogRunning()); // all of it while the surface was being started
    expectClosedTake();

    ASSERT_TRUE(QTest::qWaitFor([&] { return logHas("Successfully reopened controller: " + cl12); }, 10000));
    EXPECT_EQ(manager->getControllers().size(), 1u);
    moveFader3(0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.mixerStrips()[1].fader->value() == -600; }, 5000));
    EXPECT_EQ(boxes.count(), 0);
}

// A new user opens Controller > Select Control Surface, adds the
// nanoKONTROL2 and ticks its first fader for tracks 1 and 3: on closing, the
// motorised fader is sent the level of track 1, the track it drives; opened
// again, the dialog shows both checks.
TEST_F(MainWindowControllersTest, SurfaceAddedFromTheMenuTakesTheScreenMix)
{
    plugNano();
    seed({{"track.count", 4}, {"fader.0", 0}, {"fader.2", -600}});
    makeWindow();
    waitForInputEnabled(); // the start-up sync is over: what follows is the dialog's
    QAction* select = action("&Controller", "Select Control Surface");
    ASSERT_NE(select, nullptr);

    // Runs `drive` on the dialog the menu opened, then closes it with its button.
    auto throughDialog = [&](const std::function<void(FaderAssignmentDialog&, QTableWidget&)>& drive) {
        bool driven = false;
        OnShow<FaderAssignmentDialog> answer([&](FaderAssignmentDialog& dialog) {
            auto* table = dialog.findChild<QTableWidget*>();
            drive(dialog, *table);
            driven = true;
            for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
                if (button->text() == "Close")
                    QTest::mouseClick(button, Qt::LeftButton);
            }
        });
        select->trigger();
        EXPECT_TRUE(driven);
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
    };

    throughDialog([&](FaderAssignmentDialog& dialog, QTableWidget& table) {
        auto* combo = dialog.findChild<QComboBox*>();
        combo->setCurrentIndex(combo->findText(kNano));
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->text() == "Add")
                QTest::mouseClick(button, Qt::LeftButton);
        }
        ASSERT_EQ(table.columnCount(), 8);
        table.item(0, 0)->setCheckState(Qt::Checked);
        table.item(2, 0)->setCheckState(Qt::Checked);
    });
    EXPECT_EQ(ConfigManager::getInstance()->getString("midi.faderAssignments", ""),
              "nanoKONTROL2:0:0|nanoKONTROL2:0:2");
    EXPECT_EQ(sentToNano(), std::vector<Bytes>{controlChange(82, 115)});

    throughDialog([&](FaderAssignmentDialog& dialog, QTableWidget& table) {
        ASSERT_EQ(table.columnCount(), 8);
        EXPECT_EQ(table.item(0, 0)->checkState(), Qt::Checked);
        EXPECT_EQ(table.item(2, 0)->checkState(), Qt::Checked);
        EXPECT_EQ(table.item(1, 0)->checkState(), Qt::Unchecked);
        dialog.resize(1000, 700);
        QApplication::processEvents();
        keepPicture(dialog, "fader-assignments-from-menu");
    });
}

// Lines from a CL-12 bridge to a "CL-12 Network (UDP)" receiver added in the
// dialog move the strips of the tracks its faders were ticked for.
TEST_F(MainWindowControllersTest, UdpLinesMoveTheStripsAssignedInTheDialog)
{
    seed({{"track.count", 4}, {"fader.0", 0}});
    MainWindow& window = makeWindow();
    waitForInputEnabled();
    const uint16_t port = freeUdpPort();
    ASSERT_NE(port, 0);
    window.controllerManager()->setNetworkReceiverPort(port);
    OnShow<FaderAssignmentDialog> answer([](FaderAssignmentDialog& dialog) {
        auto* combo = dialog.findChild<QComboBox*>();
        combo->setCurrentIndex(combo->findText("CL-12 Network (UDP)"));
        for (QPushButton* button : dialog.findChildren<QPushButton*>()) {
            if (button->text() == "Add")
                QTest::mouseClick(button, Qt::LeftButton);
        }
        auto* table = dialog.findChild<QTableWidget*>();
        ASSERT_EQ(table->columnCount(), 12);
        table->item(2, 0)->setCheckState(Qt::Checked);  // fader 1 -> track 3
        table->item(0, 4)->setCheckState(Qt::Checked);  // fader 5 -> track 1
        dialog.accept();
    });
    action("&Controller", "Select Control Surface")->trigger();
    EXPECT_EQ(answer.times(), 1);
    ASSERT_EQ(window.controllerManager()->getControllers().size(), 1u);

    sendUdp(port, "F0:255\nF4:0\r\nF1:128\n");
    const std::vector<MainWindow::MixerStrip>& strips = window.mixerStrips();
    ASSERT_TRUE(QTest::qWaitFor([&] { return strips[0].fader->value() == -600; }, 5000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return strips[2].fader->value() == 60; }, 5000));
    EXPECT_EQ(window.mixerStrips()[1].fader->value(), FaderSlider::kMinimumTenthsDb);
    sendUdp(port, "F0:0");
    ASSERT_TRUE(QTest::qWaitFor([&] { return strips[2].fader->value() == -600; }, 5000));
}

// A CL-12 whose interface cannot be claimed without root rights, plugged in
// while the window runs: the watchdog brings up the instructions box once; a
// watchdog run inside the box's modal loop does nothing, and later retries
// show no more boxes.
TEST_F(MainWindowControllersTest, Cl12InstructionsBoxComesOnceFromTheWatchdog)
{
    HidController_CL12::resetInstructionsShownForTests();
    HidController_CL12::setRunningAsRootForTests(0);
    seed({{"track.count", 2}, {"midi.controllers", std::string("Sound Devices CL-12")}});
    MainWindow& window = makeWindow();
    MidiControllerManager* manager = window.controllerManager();

    int boxes = 0;
    int maxOpen = 0;
    QString title;
    QString informative;
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [&] {
        int open = 0;
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* box = qobject_cast<QMessageBox*>(widget);
            if (box == nullptr || !box->isVisible())
                continue;
            ++open;
            maxOpen = std::max(maxOpen, open);
            if (box->property("seen").toBool())
                continue;
            box->setProperty("seen", true);
            ++boxes;
            title = box->windowTitle();
            informative = box->informativeText();
            keepPicture(*box, "cl12-instructions");
            // What a watchdog tick inside the box's loop runs.
            const size_t attempts = logCount("Auto-reconnecting previously configured controller");
            manager->checkAndRestoreControllers();
            manager->checkAndRestoreControllers();
            EXPECT_EQ(logCount("Auto-reconnecting previously configured controller"), attempts);
            box->button(QMessageBox::Ok)->click();
        }
    });
    answerer.start(20);
    usb_->attach(0x10C4, 0x8A87, {VirtualUsbSystem::InterfaceState::HeldSeizeRefused});

    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes == 1; }, 6000));
    ASSERT_TRUE(QTest::qWaitFor([&] { return logHas("CL-12: Instructions already shown in this run"); }, 6000));
    EXPECT_EQ(boxes, 1);
    EXPECT_EQ(maxOpen, 1);
    EXPECT_EQ(title, "CL-12 Requires Administrator Access");
    EXPECT_TRUE(informative.contains("sudo ./"));
    EXPECT_TRUE(manager->getControllers().empty());
}

// A surface streams fader moves and transport presses from its own thread
// while the window starts and stops takes, registers its callbacks again, and
// the assignments and the controller itself change: nothing of the window is
// touched off the GUI thread (run under ThreadSanitizer and AddressSanitizer).
TEST_F(MainWindowControllersTest, EventStreamsWhileTheWindowChangesEverythingStayRaceFree)
{
    EngineDouble::install(audio_);
    plugNano();
    seed({{"audio.device", std::string("Virtual Interface")},
          {"media.saveLocation", home_.pathStd() + "/Takes"},
          {"track.count", 8},
          {"arm.0", true},
          {"midi.controllers", std::string(kNano)},
          {"midi.faderAssignments", std::string("nanoKONTROL2:0:0|nanoKONTROL2:1:1")}});
    ModalBoxAnswerer boxes;
    MainWindow& window = makeWindow();
    MidiControllerManager* manager = window.controllerManager();
    waitForInputEnabled();

    std::atomic<bool> stop{false};
    std::thread surface([&] {
        const MidiEndpointRef source = midi_->findSource(kNano);
        for (int i = 0; !stop.load(std::memory_order_relaxed) && i < 20000; ++i) {
            midi_->inject(source, pitchBend(i % 8, (i * 37) % 16384));
            if (i % 16 == 0)
                midi_->inject(source, controlChange(i % 32 == 0 ? 80 : 78, 127));
            if (i % 64 == 0)
                midi_->waitForDeliveries(); // keeps the queue short
        }
    });
    for (int round = 0; round < 300; ++round) {
        if (round % 3 == 0)
            window.setupMidiCallbacks();
        if (round % 2 == 0)
            manager->assignFader(kNano, round % 8, round % 8);
        else
            manager->removeFaderAssignment(kNano, (round - 1) % 8, (round - 1) % 8);
        if (round % 20 == 0) {
            if (window.isRecording())
                window.onStopClicked();
            else
                window.onRecordClicked();
        }
        if (round % 100 == 50) {
            manager->removeController(kNano);
            manager->addController(kNano, false);
        }
        QCoreApplication::processEvents();
    }
    stop = true;
    surface.join();
    midi_->waitForDeliveries();
    QCoreApplication::processEvents();

    EXPECT_TRUE(manager->isDeviceConnected(kNano));
    EXPECT_EQ(window.isRecording(), window.engine()->isRecording());
    for (const MainWindow::MixerStrip& strip : window.mixerStrips()) {
        EXPECT_GE(strip.fader->value(), FaderSlider::kMinimumTenthsDb);
        EXPECT_LE(strip.fader->value(), FaderSlider::kMaximumTenthsDb);
    }
    EXPECT_EQ(boxes.count(), 0);
}
