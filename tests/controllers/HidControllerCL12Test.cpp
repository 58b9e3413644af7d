#include "controllers/HidController_CL12.h"
#include "controllers/MidiControllerManager.h"
#include "core/ConfigManager.h"

#include "ControllerTestSupport.h"
#include "support/GuiLatenessProbe.h"

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <thread>

namespace {

using State = VirtualUsbSystem::InterfaceState;
using Faders = std::array<int, 12>;

// A poll reply: 0x26 0x5A, the button mark in bytes 5 and 8, fader i at
// bytes 14 + 2i (low) and 15 + 2i (high; above 15 means full scale).
std::vector<uint8_t> reply(const Faders& raw, bool button = false, size_t length = 38)
{
    std::vector<uint8_t> bytes(std::max<size_t>(length, 40), 0);
    bytes[0] = 0x26;
    bytes[1] = 0x5A;
    if (button) {
        bytes[5] = 0x3E;
        bytes[8] = 0x08;
    }
    for (size_t i = 0; i < raw.size() && 15 + 2 * i < bytes.size(); ++i) {
        bytes[14 + 2 * i] = static_cast<uint8_t>(raw[i] & 0xFF);
        bytes[15 + 2 * i] = static_cast<uint8_t>(raw[i] >> 8);
    }
    bytes.resize(length);
    return bytes;
}

std::string line(const char* head, const std::vector<uint8_t>& bytes)
{
    return head + VirtualUsbSystem::hex(bytes.data(), bytes.size());
}

// The device's log without the reads and aborts, which depend on timing.
std::vector<std::string> requestsAndWrites(const VirtualUsbSystem::Log& log)
{
    std::vector<std::string> kept;
    for (const std::string& entry : log) {
        if (entry.rfind("read", 0) != 0 && entry != "abort")
            kept.push_back(entry);
    }
    return kept;
}

size_t occurrences(const std::string& text, const std::string& word)
{
    size_t count = 0;
    for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1))
        ++count;
    return count;
}

// Runs the event loop (the watcher's hand-over comes by it) until the
// watchdog's worker has been adopted.
bool waitForWatchdog(const MidiControllerManager& manager)
{
    const QDeadlineTimer deadline(10000);
    while (manager.isWatchdogRunning() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return !manager.isWatchdogRunning();
}

class CL12Test : public VirtualMidiTest {
protected:
    CL12Test()
    {
        HidController_CL12::resetInstructionsShownForTests();
        HidController_CL12::setRunningAsRootForTests(0);
        HidController_CL12::setInstructionsPresenter([this](const HidController_CL12::Instructions& box) {
            boxes_.push_back(box);
        });
    }
    ~CL12Test() override
    {
        HidController_CL12::setInstructionsPresenter(nullptr);
        HidController_CL12::setRunningAsRootForTests(-1);
    }

    // Plugs the surface in and starts the driver; the four start-up reads
    // get a short answer each.
    void start(std::vector<State> interfaces = {State::Free})
    {
        usb_->attach(0x10C4, 0x8A87, std::move(interfaces));
        for (int i = 0; i < 4; ++i)
            usb_->queueReply(std::vector<uint8_t>{0x01});
        ASSERT_TRUE(driver_.initialize());
        driver_.setFaderCallback([this](int f, int v) { events_.add("F" + std::to_string(f) + "=" + std::to_string(v)); });
        driver_.setButtonCallback([this](int b, bool p) { events_.add("B" + std::to_string(b) + (p ? "+" : "-")); });
        usb_->waitUntilReaderWaits();
    }
    void answer(std::optional<std::vector<uint8_t>> bytes)
    {
        usb_->queueReply(std::move(bytes));
        usb_->waitUntilReaderWaits();
    }

    HidController_CL12 driver_;
    EventLog events_;
    std::vector<HidController_CL12::Instructions> boxes_;
};

}  // namespace

TEST_F(CL12Test, StartSequenceAndPollPacketsAreSentByteForByte)
{
    start();
    const std::vector<std::string> expected = {
        "open",
        "configuration 1",
        "claim 0",
        "control 21 09 0350 0000: 50 00",
        "control 21 09 0341 0000: 41 00",
        "control 21 09 0343 0000: 43 00",
        "control 21 09 0345 0000: 45 00",
        "write 2: 08 5A 01 01 00 03 01 71 2E",
        "write 2: 09 5A 03 02 00 04 D1 04 7E 48",
        "write 2: 0C 5A 03 02 00 07 D8 40 9C 0D 1B 96 25",
        "write 2: 0A 5A 03 02 00 05 D0 02 00 4A 7E",
        line("write 2: ", HidController_CL12::LED_PACKET),
        line("write 2: ", HidController_CL12::POLL_PACKET),
        line("write 2: ", HidController_CL12::ACK_PACKET),
    };
    const std::vector<std::string> got = requestsAndWrites(usb_->log());
    ASSERT_GE(got.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(got.begin(), got.begin() + static_cast<long>(expected.size())), expected);
    EXPECT_EQ(HidController_CL12::LED_PACKET.size(), 22u);
    EXPECT_EQ(HidController_CL12::POLL_PACKET.size(), 64u);
    EXPECT_EQ(HidController_CL12::POLL_PACKET[39], 0xC1);
    for (const auto* packet : {&HidController_CL12::INIT_CMD1, &HidController_CL12::INIT_CMD2, &HidController_CL12::INIT_CMD3,
                               &HidController_CL12::INIT_CMD4, &HidController_CL12::LED_PACKET,
                               &HidController_CL12::POLL_PACKET, &HidController_CL12::ACK_PACKET})
        EXPECT_EQ(packet->front(), packet->size() - 1);
    EXPECT_TRUE(driver_.isInitialized());
}

TEST_F(CL12Test, RepliesAreCheckedScaledBandedAndTheButtonFollowsItsMark)
{
    start();
    Faders raw{};
    const auto with = [&](int fader, int value) {
        raw[static_cast<size_t>(fader)] = value;
        return raw;
    };
    const struct {
        std::optional<std::vector<uint8_t>> reply;
        std::vector<std::string> expected;
    } cases[] = {
        {reply(with(0, 2048), false, 37), {}},                   // one byte short
        {[&] { auto r = reply(with(0, 2048)); r[1] = 0x5B; return r; }(), {}},  // wrong magic
        {std::nullopt, {}},                                      // no answer
        {reply(with(0, 2048)), {"F0=8193"}},
        {reply(with(1, 0x10 * 256 + 7)), {"F1=16383"}},          // high byte 0x10: full scale
        {reply(with(0, 2049)), {}},                              // creeping by 1...
        {reply(with(0, 2050)), {}},
        {reply(with(0, 2051)), {"F0=8205"}},                     // ...arrives 3 from the last passed on
        {reply(with(0, 0)), {"F0=0"}},
        {reply(raw, true), {"B0+"}},                             // the mark appears: press
        {reply(raw, true), {}},                                  // held: no repeat
        {reply(raw, false), {"B0-"}},                            // it goes: release
    };
    for (const auto& c : cases) {
        answer(c.reply);
        EXPECT_EQ(events_.take(), c.expected);
    }
}

TEST_F(CL12Test, ClaimingSeizesBeforeTheBoxWhichShowsOncePerRun)
{
    const struct {
        std::vector<State> interfaces;
        int asRoot;
        bool opens;
        std::vector<std::string> claims;
        size_t boxes;
    } cases[] = {
        {{State::HeldByKernel}, 0, true, {"claim 0", "seize 0"}, 0},
        {{State::Refused, State::Free}, 0, true, {"claim 0", "claim 1"}, 0},
        {{State::HeldSeizeRefused}, 1, false, {"claim 0", "seize 0"}, 0},  // root: no box
        {{State::HeldSeizeRefused, State::Refused}, 0, false, {"claim 0", "seize 0", "claim 1"}, 1},
        {{State::HeldSeizeRefused}, 0, false, {"claim 0", "seize 0"}, 1},  // the box is not shown again
    };
    for (const auto& c : cases) {
        HidController_CL12::setRunningAsRootForTests(c.asRoot);
        usb_->unplug();
        usb_->attach(0x10C4, 0x8A87, c.interfaces);
        usb_->takeLog();
        HidController_CL12 driver;
        for (int i = 0; i < 4 && c.opens; ++i)
            usb_->queueReply(std::vector<uint8_t>{0x01});
        EXPECT_EQ(driver.initialize(), c.opens);
        std::vector<std::string> claims;
        for (const std::string& entry : usb_->log()) {
            if (entry.rfind("claim", 0) == 0 || entry.rfind("seize", 0) == 0)
                claims.push_back(entry);
        }
        EXPECT_EQ(claims, c.claims);
        EXPECT_EQ(boxes_.size(), c.boxes);
        driver.shutdown();
        EXPECT_EQ(usb_->openHandleCount(), 0);
    }
    ASSERT_EQ(boxes_.size(), 1u);
    EXPECT_EQ(boxes_[0].title, "CL-12 Requires Administrator Access");
    EXPECT_NE(boxes_[0].informativeText.find("sudo ./install-cl12-udev-rule.sh"), std::string::npos);
}

TEST_F(CL12Test, AbsentOrRefusedDeviceFailsWithItsReason)
{
    EXPECT_FALSE(driver_.initialize());
    EXPECT_NE(home_.logText().find("CL-12: Device not found (VID:0x10C4 PID:0x8A87)"), std::string::npos);
    EXPECT_TRUE(boxes_.empty());
    EXPECT_TRUE(driver_.openInput("anything"));
    usb_->attach(0x10C4, 0x8A87, {State::Free});
    usb_->refuseOpen(true);
    EXPECT_FALSE(driver_.initialize());
    EXPECT_EQ(boxes_.size(), 1u);  // not root: the same instructions
    EXPECT_TRUE(HidController_CL12::isDeviceConnected());
}

TEST_F(CL12Test, SilentSurfaceDoesNotHoldStartOrShutdown)
{
    usb_->attach(0x10C4, 0x8A87, {State::Free});
    ASSERT_TRUE(driver_.initialize());  // four start-up reads, each bounded
    usb_->waitUntilReaderWaits();
    driver_.shutdown();                 // aborts the pending read
    const VirtualUsbSystem::Log log = usb_->log();
    EXPECT_NE(std::find(log.begin(), log.end(), "abort"), log.end());
    EXPECT_FALSE(driver_.isInitialized());
    EXPECT_EQ(usb_->openHandleCount(), 0);
}

TEST_F(CL12Test, UnplugMidReadThenShutdownAndCallbacksReplacedWhileDelivering)
{
    start();
    std::atomic<int> calls{0};
    std::thread feeder([&] {
        for (int n = 0; n < 60; ++n) {
            Faders raw{};
            raw.fill((n % 2) * 4000);
            usb_->queueReply(reply(raw, n % 3 == 0));
        }
    });
    for (int n = 0; n < 300; ++n) {
        driver_.setFaderCallback([&calls](int, int) { calls.fetch_add(1); });
        driver_.setButtonCallback([&calls](int, bool) { calls.fetch_add(1); });
    }
    feeder.join();
    usb_->waitUntilReaderWaits();
    usb_->unplug();  // the pending read ends with the device gone
    while (!driver_.isDeviceLost())
        std::this_thread::yield();
    driver_.shutdown();
    const int after = calls.load();
    usb_->attach(0x10C4, 0x8A87, {State::Free});
    usb_->queueReply(reply(Faders{}, true));
    EXPECT_EQ(calls.load(), after);
    EXPECT_GT(after, 0);
}

TEST_F(CL12Test, WatchdogReopensAnUnpluggedSurfaceWithItsAssignments)
{
    usb_->attach(0x10C4, 0x8A87, {State::Free});
    for (int i = 0; i < 4; ++i)
        usb_->queueReply(std::vector<uint8_t>{0x01});
    MidiControllerManager manager;
    manager.initialize();
    EventLog window;
    manager.setFaderCallback([&](int t, int v) { window.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
    manager.setControllerRestoredCallback([&](const std::string& name) { window.add("R " + name); });
    ASSERT_TRUE(manager.addController("Sound Devices CL-12", true));
    ASSERT_TRUE(manager.assignFader("Sound Devices CL-12", 2, 7));
    Faders raw{};
    raw[2] = 4095;
    answer(reply(raw));
    EXPECT_EQ(window.take(), std::vector<std::string>{"T7=16383"});

    usb_->unplug();
    auto* driver = dynamic_cast<HidController_CL12*>(manager.getControllers()[0].controller.get());
    ASSERT_NE(driver, nullptr);
    while (!driver->isDeviceLost())
        std::this_thread::yield();
    manager.checkAndRestoreControllers();
    EXPECT_TRUE(window.take().empty());
    usb_->attach(0x10C4, 0x8A87, {State::Free});
    for (int i = 0; i < 4; ++i)
        usb_->queueReply(std::vector<uint8_t>{0x01});
    manager.checkAndRestoreControllers();
    EXPECT_EQ(window.take(), std::vector<std::string>{"R Sound Devices CL-12"});
    usb_->waitUntilReaderWaits();
    raw[2] = 0;
    answer(reply(raw));
    EXPECT_EQ(window.take(), std::vector<std::string>{"T7=0"});
    EXPECT_EQ(manager.getFaderAssignments().size(), 1u);
    manager.shutdown();
}

// The window shows the instructions as a modal box, and its 2 s watchdog
// keeps firing inside that box's loop: the nested watchdog calls do nothing,
// and the box comes once however often the claim fails.
TEST_F(CL12Test, WatchdogInsideTheInstructionsBoxDoesNotReenterOrStackBoxes)
{
    usb_->attach(0x10C4, 0x8A87, {State::HeldSeizeRefused});
    MidiControllerManager manager;
    manager.initialize();
    ConfigManager::getInstance()->setString("midi.controllers", "Sound Devices CL-12");
    int boxes = 0;
    HidController_CL12::setInstructionsPresenter([&](const HidController_CL12::Instructions&) {
        ++boxes;
        manager.checkAndRestoreControllers();
        manager.checkAndRestoreControllers();
    });
    for (int tick = 0; tick < 3; ++tick)
        manager.checkAndRestoreControllers();
    EXPECT_EQ(boxes, 1);
    const std::string log = home_.logText();
    size_t attempts = 0;
    for (size_t at = log.find("Auto-reconnecting previously configured controller"); at != std::string::npos;
         at = log.find("Auto-reconnecting previously configured controller", at + 1))
        ++attempts;
    EXPECT_EQ(attempts, 3u);  // one per outer tick, none from inside the box
    EXPECT_TRUE(manager.getControllers().empty());
    manager.shutdown();
}

// A saved surface whose USB start answers slowly (each open takes 400 ms)
// is plugged in: the watchdog's worker opens it while the GUI thread's
// 10 ms timer keeps its time, a second start meanwhile is ignored, and the
// surface ends up adopted with its assignment working. A manager shut down
// while a worker opens one waits for it and leaves nothing open.
TEST_F(CL12Test, WatchdogOpensASlowSurfaceWithoutHoldingTheGuiThread)
{
    int argc = 1;
    char name[] = "test_controllers";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);
    ConfigManager::getInstance()->setString("midi.controllers", "Sound Devices CL-12");
    ConfigManager::getInstance()->setString("midi.faderAssignments", "Sound Devices CL-12:2:7");
    for (const bool shutDownMidway : {false, true}) {
        SCOPED_TRACE(shutDownMidway ? "shut down midway" : "adopted");
        MidiControllerManager manager;
        manager.initialize();
        ASSERT_TRUE(manager.getControllers().empty());
        EventLog window;
        manager.setFaderCallback([&](int t, int v) { window.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
        manager.setControllerRestoredCallback([&](const std::string& restored) { window.add("R " + restored); });
        usb_->setOpenDelay(std::chrono::milliseconds(400));
        usb_->attach(0x10C4, 0x8A87, {State::Free});
        for (int i = 0; i < 4; ++i)
            usb_->queueReply(std::vector<uint8_t>{0x01});
        GuiLatenessProbe probe;
        probe.start();
        manager.startWatchdogRun();
        ASSERT_TRUE(manager.isWatchdogRunning());
        if (shutDownMidway) {
            manager.shutdown();
            EXPECT_FALSE(manager.isWatchdogRunning());
            EXPECT_TRUE(manager.getControllers().empty());
            EXPECT_EQ(usb_->openHandleCount(), 0);
            EXPECT_TRUE(window.take().empty());
            continue;
        }
        manager.startWatchdogRun();
        manager.checkAndRestoreControllers();
        ASSERT_TRUE(waitForWatchdog(manager));
        probe.stop();

#ifndef TONVALE_SANITIZED_BUILD
        EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
#endif
        EXPECT_GT(probe.ticks(), 5);  // the timer ran during the slow open
        EXPECT_EQ(occurrences(home_.logText(), "Auto-reconnecting previously configured controller"), 1u);
        EXPECT_EQ(window.take(), std::vector<std::string>{"R Sound Devices CL-12"});
        ASSERT_EQ(manager.getControllers().size(), 1u);
        usb_->waitUntilReaderWaits();
        Faders raw{};
        raw[2] = 4095;
        answer(reply(raw));
        EXPECT_EQ(window.take(), std::vector<std::string>{"T7=16383"});
        manager.shutdown();
        usb_->unplug();
    }
}

// A surface in the list is unplugged and plugged in again, and its USB start
// answers slowly: the watchdog's worker starts a fresh driver while the GUI
// thread's 10 ms timer keeps its time, a second start and a synchronous
// check meanwhile do nothing, and the fresh driver takes the place of the
// lost one in the same record, with the same assignment, without reporting
// again the faders that did not move while it was away. A manager shut down
// while the worker starts one waits for it and leaves nothing open.
TEST_F(CL12Test, WatchdogReopensASlowSurfaceWithoutHoldingTheGuiThread)
{
    int argc = 1;
    char name[] = "test_controllers";
    char* argv[] = {name};
    QCoreApplication app(argc, argv);
    for (const bool shutDownMidway : {false, true}) {
        SCOPED_TRACE(shutDownMidway ? "shut down midway" : "adopted");
        usb_->setOpenDelay(std::chrono::milliseconds(0));
        MidiControllerManager manager;
        manager.initialize();
        EventLog window;
        manager.setFaderCallback([&](int t, int v) { window.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
        manager.setControllerRestoredCallback([&](const std::string& restored) { window.add("R " + restored); });
        usb_->attach(0x10C4, 0x8A87, {State::Free});
        for (int i = 0; i < 4; ++i)
            usb_->queueReply(std::vector<uint8_t>{0x01});
        ASSERT_TRUE(manager.addController("Sound Devices CL-12", true));
        ASSERT_TRUE(manager.assignFader("Sound Devices CL-12", 2, 7));
        usb_->waitUntilReaderWaits();
        Faders raw{};
        raw[2] = 4095;
        answer(reply(raw));
        EXPECT_EQ(window.take(), std::vector<std::string>{"T7=16383"});

        usb_->unplug();
        const MidiControllerBase* lost = manager.getControllers()[0].controller.get();
        while (!dynamic_cast<const HidController_CL12*>(lost)->isDeviceLost())
            std::this_thread::yield();
        const size_t reopenedBefore = occurrences(home_.logText(), "Successfully reopened controller");
        usb_->setOpenDelay(std::chrono::milliseconds(400));
        usb_->attach(0x10C4, 0x8A87, {State::Free});
        for (int i = 0; i < 4; ++i)
            usb_->queueReply(std::vector<uint8_t>{0x01});
        GuiLatenessProbe probe;
        probe.start();
        manager.startWatchdogRun();
        ASSERT_TRUE(manager.isWatchdogRunning());
        if (shutDownMidway) {
            manager.shutdown();
            EXPECT_FALSE(manager.isWatchdogRunning());
            EXPECT_TRUE(manager.getControllers().empty());
            EXPECT_EQ(usb_->openHandleCount(), 0);
            EXPECT_TRUE(window.take().empty());
            usb_->unplug();
            continue;
        }
        manager.startWatchdogRun();
        manager.checkAndRestoreControllers();
        ASSERT_TRUE(waitForWatchdog(manager));
        probe.stop();

#ifndef TONVALE_SANITIZED_BUILD
        EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
#endif
        EXPECT_GT(probe.ticks(), 5);  // the timer ran during the slow start
        const std::string log = home_.logText();
        EXPECT_EQ(occurrences(log, "Reopening unplugged controller: Sound Devices CL-12"), 1u);
        EXPECT_EQ(occurrences(log, "Successfully reopened controller: Sound Devices CL-12"), reopenedBefore + 1);
        EXPECT_EQ(window.take(), std::vector<std::string>{"R Sound Devices CL-12"});
        ASSERT_EQ(manager.getControllers().size(), 1u);
        EXPECT_EQ(manager.getFaderAssignments().size(), 1u);
        EXPECT_EQ(usb_->openHandleCount(), 1);
        usb_->waitUntilReaderWaits();
        answer(reply(raw));  // fader 3 stood still while unplugged
        EXPECT_TRUE(window.take().empty());
        raw[2] = 0;
        answer(reply(raw));
        EXPECT_EQ(window.take(), std::vector<std::string>{"T7=0"});
        manager.shutdown();
        usb_->unplug();
    }
}
