#include "controllers/HidController_Cantarem2.h"
#include "controllers/MidiControllerManager.h"

#include "ControllerTestSupport.h"

#include <array>
#include <atomic>
#include <thread>

namespace {

using Faders = std::array<int, 12>;

// Report 12 as the surface sends it: 33 bytes, raw 12-bit positions from
// byte 8, low byte first; highBits goes into the ignored upper nibble.
std::vector<uint8_t> faderReport(const Faders& raw, uint8_t highBits = 0, size_t length = 33)
{
    std::vector<uint8_t> report(length, 0);
    report[0] = 12;
    for (size_t i = 0; i < raw.size() && 9 + 2 * i < length; ++i) {
        report[8 + 2 * i] = static_cast<uint8_t>(raw[i] & 0xFF);
        report[9 + 2 * i] = static_cast<uint8_t>(((raw[i] >> 8) & 0x0F) | highBits);
    }
    return report;
}

std::vector<uint8_t> buttonReport(uint8_t b4, uint8_t b5, uint8_t b6)
{
    return {11, 0, 0, 0, b4, b5, b6};
}

class Cantarem2Test : public VirtualMidiTest {
protected:
    Cantarem2Test()
    {
        HidController_Cantarem2::resetButtonStateForTests();
        path_ = hid_->attach(0x2CFF, 0x0002);
    }

    // Opens with the surface sending its fader state at once.
    void open(const Faders& raw = {})
    {
        hid_->setReportOnOpen(path_, faderReport(raw));
        ASSERT_TRUE(driver_.openInput("Cantarem 2"));
        ASSERT_TRUE(driver_.isFirstReportReceived());
        driver_.setFaderCallback([this](int f, int v) { events_.add("F" + std::to_string(f) + "=" + std::to_string(v)); });
        driver_.setButtonCallback([this](int b, bool p) { events_.add("B" + std::to_string(b) + (p ? "+" : "-")); });
    }
    void send(std::vector<uint8_t> report)
    {
        ASSERT_TRUE(hid_->inject(path_, std::move(report)));
        hid_->waitUntilDrained(path_);
    }

    std::string path_;
    HidController_Cantarem2 driver_;
    EventLog events_;
};

}  // namespace

TEST_F(Cantarem2Test, FaderValuesScaleFromTheLowTwelveBitsWithFullScaleAt3830)
{
    const struct {
        int raw;
        uint8_t highBits;
        int expected;
    } cases[] = {
        {3830, 0, 16383}, {4095, 0, 16383}, {0, 0, 0}, {1915, 0, 8191},
        {3, 0xF0, 12},  // a high byte of 0xF3 reads as 3 x 256 + low
    };
    for (const auto& c : cases) {
        Faders raw{};
        raw[5] = c.raw;
        if (c.highBits != 0)
            raw[5] = 3 * 256;
        hid_->setReportOnOpen(path_, faderReport(raw, c.highBits));
        ASSERT_TRUE(driver_.openInput("Cantarem 2"));
        const int expected = c.highBits != 0 ? HidController_Cantarem2::scaledValue(3 * 256) : c.expected;
        EXPECT_EQ(driver_.getCurrentFaderPositions()[5], expected) << "raw " << c.raw;
        driver_.closeInput();
    }
}

TEST_F(Cantarem2Test, BandOf64IsMeasuredFromTheLastValuePassedOn)
{
    open();
    // A slow move in steps of 40 arrives once it has gone 65 from the last
    // value passed on; a single jump of 65 arrives at once.
    const struct {
        int scaled;
        bool passedOn;
    } steps[] = {{40, false}, {80, true}, {120, false}, {146, true}, {146, false}, {81, false}, {80, true}};
    for (const auto& step : steps) {
        Faders raw{};
        // The raw position whose scaled value is closest below or at the target.
        int r = 0;
        while (HidController_Cantarem2::scaledValue(r + 1) <= step.scaled)
            ++r;
        raw[2] = r;
        send(faderReport(raw));
        const std::vector<std::string> got = events_.take();
        if (step.passedOn)
            EXPECT_EQ(got, std::vector<std::string>{"F2=" + std::to_string(HidController_Cantarem2::scaledValue(r))})
                << step.scaled;
        else
            EXPECT_TRUE(got.empty()) << step.scaled;
    }
}

TEST_F(Cantarem2Test, KeysReportChangesInTableOrder)
{
    open();
    const struct {
        std::vector<uint8_t> report;
        std::vector<std::string> expected;
    } cases[] = {
        {buttonReport(0x00, 0x50, 0x00), {"B12+", "B14+"}},  // Shift 1 and C1 together: Shift 1 first
        {buttonReport(0x00, 0x50, 0x00), {}},                // unchanged
        {buttonReport(0x81, 0x58, 0x03), {"B0+", "B7+", "B11+", "B16+", "B17+"}},
        {buttonReport(0x00, 0xA0, 0x00), {"B0-", "B7-", "B11-", "B12-", "B13+", "B14-", "B15+", "B16-", "B17-"}},
        {{11, 0, 0, 0, 0xFF, 0xFF}, {}},  // shorter than 7 bytes: ignored
        {buttonReport(0x00, 0x00, 0xFC), {"B13-", "B15-"}},  // bits 2 to 7 of byte 6 are not keys
    };
    for (const auto& c : cases) {
        send(c.report);
        EXPECT_EQ(events_.take(), c.expected);
    }
}

TEST_F(Cantarem2Test, ReopenComparesKeysWithTheStateBeforeTheClose)
{
    open();
    send(buttonReport(0x01, 0x00, 0x00));
    EXPECT_EQ(events_.take(), std::vector<std::string>{"B0+"});
    driver_.closeInput();
    open();
    send(buttonReport(0x01, 0x00, 0x00));  // still held: no new press
    send(buttonReport(0x00, 0x00, 0x00));
    EXPECT_EQ(events_.take(), std::vector<std::string>{"B0-"});
}

TEST_F(Cantarem2Test, SilentSurfaceOpensAfterTheWaitWithPositionsKept)
{
    const std::string log0 = home_.logText();
    ASSERT_TRUE(driver_.openInput("Cantarem 2"));
    EXPECT_FALSE(driver_.isFirstReportReceived());
    EXPECT_EQ(driver_.getCurrentFaderPositions(), std::vector<int>(12, 0));
    EXPECT_NE(home_.logText().find("Warning: No initial report from Cantarem after 500ms"), std::string::npos);
    Faders raw{};
    raw[0] = 3830;
    send(faderReport(raw));
    EXPECT_TRUE(driver_.isFirstReportReceived());
    EXPECT_EQ(driver_.getCurrentFaderPositions()[0], 16383);
}

TEST_F(Cantarem2Test, OpenRefusesOtherNamesShortReportsAndFailedOpens)
{
    for (const char* name : {"cantarem 2", "Cantarem 2 ", "CANTAREM 2", "Cantarem"})
        EXPECT_FALSE(driver_.openInput(name)) << name;
    hid_->failOpens(1, "permission denied");
    EXPECT_FALSE(driver_.openInput("Cantarem 2"));
    EXPECT_EQ(hid_->openHandleCount(path_), 0);
    EXPECT_NE(home_.logText().find("Failed to open Cantarem 2 device: permission denied"), std::string::npos);

    open();
    Faders raw{};
    raw.fill(3000);
    send(faderReport(raw, 0, 31));  // one byte short of the last fader
    EXPECT_TRUE(events_.take().empty());
    send(faderReport(raw, 0, 32));
    EXPECT_EQ(events_.take().size(), 12u);
}

TEST_F(Cantarem2Test, UnplugMidStreamThenShutdownCallsNothingMore)
{
    open();
    std::atomic<int> calls{0};
    driver_.setFaderCallback([&calls](int, int) { calls.fetch_add(1); });
    std::thread feeder([&] {
        for (int n = 0; n < 300; ++n) {
            Faders raw{};
            raw.fill((n % 2) * 3000);
            if (!hid_->inject(path_, faderReport(raw)))
                break;
        }
    });
    while (calls.load() == 0)
        std::this_thread::yield();
    ASSERT_TRUE(hid_->detach(path_));
    feeder.join();
    while (!driver_.isDeviceLost())
        std::this_thread::yield();
    driver_.shutdown();
    const int afterShutdown = calls.load();
    // Nothing after shutdown, even with the surface attached again.
    path_ = hid_->attach(0x2CFF, 0x0002);
    hid_->inject(path_, faderReport(Faders{}));
    EXPECT_EQ(calls.load(), afterShutdown);
    EXPECT_EQ(hid_->openHandleCount(path_), 0);
}

TEST_F(Cantarem2Test, CallbacksReplacedWhileTheReadThreadDelivers)
{
    open();
    std::atomic<int> calls{0};
    std::thread feeder([&] {
        for (int n = 0; n < 400; ++n) {
            Faders raw{};
            raw.fill((n % 2) * 3000);
            hid_->inject(path_, faderReport(raw));
            hid_->inject(path_, buttonReport(static_cast<uint8_t>(n), 0, 0));
        }
    });
    for (int n = 0; n < 400; ++n) {
        driver_.setFaderCallback([&calls](int, int) { calls.fetch_add(1); });
        driver_.setButtonCallback([&calls](int, bool) { calls.fetch_add(1); });
        driver_.setFaderCallback(nullptr);
    }
    feeder.join();
    hid_->waitUntilDrained(path_);
    driver_.shutdown();
    EXPECT_GT(calls.load(), 0);
}

// Through the manager: the surface's first report sets the assigned tracks,
// Shift 1 and both Shifts reach the window's button callback, and an
// unplugged surface is reopened by the watchdog with its assignments.
TEST_F(Cantarem2Test, ManagerSyncsFirstReportRelaysShiftsAndReopensAfterUnplug)
{
    Faders raw{};
    raw[0] = 1915;
    raw[3] = 3830;
    hid_->setReportOnOpen(path_, faderReport(raw));
    MidiControllerManager manager;
    manager.initialize();
    EventLog window;
    manager.setButtonCallback([&](int b, bool p) { window.add("G" + std::to_string(b) + (p ? "+" : "-")); });
    manager.setHardwareSyncCallback([&](int t, int v) { window.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
    manager.setControllerRestoredCallback([&](const std::string& name) { window.add("R " + name); });
    ASSERT_TRUE(manager.addController("Cantarem 2", true));
    ASSERT_TRUE(manager.assignFader("Cantarem 2", 0, 4));
    ASSERT_TRUE(manager.assignFader("Cantarem 2", 3, 9));
    manager.syncFaderPositionsWithHardware();
    EXPECT_EQ(window.take(), (std::vector<std::string>{"T4=8191", "T9=16383"}));

    send(buttonReport(0, 0x10, 0));  // Shift 1: roll
    send(buttonReport(0, 0x00, 0));
    send(buttonReport(0, 0x20, 0));  // Shift 2, then Shift 1 with it: cut
    send(buttonReport(0, 0x30, 0));
    EXPECT_EQ(window.take(), (std::vector<std::string>{"G12+", "G12-", "G13+", "G12+"}));

    ASSERT_TRUE(hid_->detach(path_));
    auto* driver = dynamic_cast<HidController_Cantarem2*>(manager.getControllers()[0].controller.get());
    ASSERT_NE(driver, nullptr);
    while (!driver->isDeviceLost())
        std::this_thread::yield();
    manager.checkAndRestoreControllers();  // absent: nothing to reopen yet
    EXPECT_TRUE(window.take().empty());
    path_ = hid_->attach(0x2CFF, 0x0002);
    raw[0] = 0;
    hid_->setReportOnOpen(path_, faderReport(raw));
    manager.checkAndRestoreControllers();
    EXPECT_EQ(window.take(), (std::vector<std::string>{"T4=0", "T9=16383", "R Cantarem 2"}));
    ASSERT_EQ(manager.getControllers().size(), 1u);
    EXPECT_EQ(manager.getFaderAssignments().size(), 2u);
    send(buttonReport(0, 0x00, 0));  // keys still work after the reopen
    EXPECT_EQ(window.take(), (std::vector<std::string>{"G12-", "G13-"}));
    manager.shutdown();
}

// The watchdog replaces a lost driver by a fresh one: the fresh driver is
// initialised like the lost one and, on its first report, passes on only
// the faders that moved while the surface was away.
TEST_F(Cantarem2Test, AFreshDriverCarriesOnWhereALostOneStopped)
{
    driver_.initialize();
    Faders raw{};
    raw[0] = 3830;
    raw[1] = 1915;
    open(raw);
    ASSERT_TRUE(hid_->detach(path_));
    while (!driver_.isDeviceLost())
        std::this_thread::yield();

    HidController_Cantarem2 fresh;
    fresh.continueFrom(driver_);
    EXPECT_TRUE(fresh.isInitialized());
    EXPECT_EQ(fresh.getCurrentFaderPositions(), driver_.getCurrentFaderPositions());
    fresh.setFaderCallback([this](int f, int v) { events_.add("F" + std::to_string(f) + "=" + std::to_string(v)); });
    raw[1] = 0;
    path_ = hid_->attach(0x2CFF, 0x0002);
    hid_->setReportOnOpen(path_, faderReport(raw));
    ASSERT_TRUE(fresh.openInput("Cantarem 2"));
    ASSERT_TRUE(fresh.isFirstReportReceived());
    EXPECT_EQ(events_.take(), std::vector<std::string>{"F1=0"});
    fresh.shutdown();
    driver_.shutdown();
}
