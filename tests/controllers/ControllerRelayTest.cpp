#include "controllers/MidiControllerManager.h"

#include "ControllerTestSupport.h"

namespace {

// A manager on the virtual MIDI system whose window callbacks write every
// event they receive to one log, the way the main window registers them.
class RelayTest : public VirtualMidiTest {
protected:
    void SetUp() override
    {
        plugDevice("Fader Box");     // no preset: notes are buttons, pitch bend is fader by channel
        plugDevice("nanoKONTROL2");  // CC faders with output, transport keys
        ASSERT_TRUE(manager_.initialize());
        ASSERT_TRUE(manager_.addController("Fader Box", false));
        ASSERT_TRUE(manager_.addController("nanoKONTROL2", false));
        manager_.setFaderCallback([this](int t, int v) { log_.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
        manager_.setButtonCallback([this](int b, bool p) { log_.add("G" + std::to_string(b) + (p ? "+" : "-")); });
        manager_.setTrackButtonCallback(
            [this](int t, bool p) { log_.add("S" + std::to_string(t) + (p ? "+" : "-")); });
        manager_.setTransportCallback([this](TransportButton b, bool p) {
            log_.add("X" + std::to_string(static_cast<int>(b)) + (p ? "+" : "-"));
        });
    }
    void TearDown() override { manager_.shutdown(); }

    std::vector<std::string> eventsFor(const std::string& device, std::vector<uint8_t> packet)
    {
        inject(device, std::move(packet));
        return log_.take();
    }

    MidiControllerManager manager_;
    EventLog log_;
};

}  // namespace

TEST_F(RelayTest, EventsBecomeTrackEvents)
{
    ASSERT_TRUE(manager_.assignFader("Fader Box", 3, 7));
    ASSERT_TRUE(manager_.assignFader("nanoKONTROL2", 0, 1));
    struct Case {
        const char* what;
        const char* device;
        std::vector<uint8_t> packet;
        std::vector<std::string> events;
    };
    const Case cases[] = {
        {"assigned fader", "Fader Box", {0xE3, 0x00, 0x40}, {"T7=8192"}},
        {"unassigned fader", "Fader Box", {0xE4, 0x00, 0x40}, {}},
        {"bad pitch-bend bytes stay at the top", "Fader Box", {0xE3, 0xFF, 0xFF}, {"T7=16383"}},
        {"strip button of an assigned fader toggles its track", "Fader Box", {0x90, 3, 1}, {"S7+"}},
        {"strip button release", "Fader Box", {0x80, 3, 0}, {"S7-"}},
        {"strip button of an unassigned fader", "Fader Box", {0x90, 4, 1}, {}},
        {"note 12 of a keyboard is no Shift key", "Fader Box", {0x90, 12, 1}, {}},
        {"nanoKONTROL2 button 12 (CC 25) starts nothing", "nanoKONTROL2", {0xB0, 25, 127}, {}},
        {"nanoKONTROL2 fader", "nanoKONTROL2", {0xB0, 82, 127}, {"T1=16383"}},
        {"nanoKONTROL2 strip button 0 (CC 33)", "nanoKONTROL2", {0xB0, 33, 127}, {"S1+"}},
        {"record transport", "nanoKONTROL2", {0xB0, 80, 127}, {"X10+"}},
        {"stop transport", "nanoKONTROL2", {0xB0, 78, 127}, {"X8+"}},
        {"track left transport", "nanoKONTROL2", {0xB0, 66, 127}, {"X0+"}},
        {"track right transport", "nanoKONTROL2", {0xB0, 67, 127}, {"X1+"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(eventsFor(c.device, c.packet), c.events);
    }
    const std::string log = home_.logText();
    EXPECT_NE(log.find("Button: track=8 pressed=true"), std::string::npos);
    EXPECT_NE(log.find("Transport button: 10 pressed=true numBanks=1"), std::string::npos);
    EXPECT_NE(log.find("Global button: index=12 pressed=true"), std::string::npos);
}

TEST_F(RelayTest, TrackButtonsReachEveryTrackWithoutBeingTakenForGlobalButtons)
{
    // The key under a fader driving track 13 (index 12) must not read as Shift 1.
    ASSERT_TRUE(manager_.assignFader("Fader Box", 0, 12));
    ASSERT_TRUE(manager_.assignFader("Fader Box", 7, 31));
    EXPECT_EQ(eventsFor("Fader Box", {0x90, 0, 1}), std::vector<std::string>{"S12+"});
    EXPECT_EQ(eventsFor("Fader Box", {0x90, 7, 1}), std::vector<std::string>{"S31+"});
}

TEST_F(RelayTest, UnassignedFaderLogsEveryHundredthEvent)
{
    const size_t before = home_.logText().size();
    for (int i = 0; i < 200; ++i)
        midi_->inject(midi_->findSource("Fader Box"), {0xE6, 0x00, 0x10});
    midi_->waitForDeliveries();
    EXPECT_TRUE(log_.take().empty());
    const std::string log = home_.logText().substr(before);
    size_t lines = 0;
    for (size_t at = log.find("Fader Fader Box:6 not assigned to any track"); at != std::string::npos;
         at = log.find("Fader Fader Box:6 not assigned to any track", at + 1))
        ++lines;
    // The counter is shared by the whole process, so the 200 events cross
    // at least one and at most two hundreds.
    EXPECT_GE(lines, 1u);
    EXPECT_LE(lines, 2u);
    // Per-event diagnostics stop after the first events of the process.
    const auto count = [](const std::string& text, const std::string& line) {
        size_t n = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1))
            ++n;
        return n;
    };
    const std::string whole = home_.logText();
    EXPECT_LE(count(whole, "MidiControllerManager fader callback:"), 20u);
    EXPECT_LE(count(whole, "findTrackForFader: Looking for"), 10u);
}

TEST_F(RelayTest, EventsBeforeTheWindowRegistersAreDropped)
{
    MidiControllerManager fresh;
    ASSERT_TRUE(fresh.initialize());
    ASSERT_TRUE(fresh.addController("Fader Box", false) || fresh.isDeviceConnected("Fader Box"));
    ASSERT_TRUE(fresh.assignFader("Fader Box", 0, 0));
    inject("Fader Box", {0xE0, 0, 0x40});
    EXPECT_NE(home_.logText().find("ERROR: faderCallback_ is NULL or trackIndex invalid!"), std::string::npos);
    fresh.shutdown();
}

TEST_F(RelayTest, FaderFeedbackGoesOnlyToMovableFaders)
{
    plugDevice("X-Touch Compact");
    ASSERT_TRUE(manager_.addController("X-Touch Compact", false));
    midi_->addSource("Input Only Box");
    ASSERT_TRUE(manager_.addController("Input Only Box", false));
    ASSERT_TRUE(manager_.assignFader("nanoKONTROL2", 0, 0));
    ASSERT_TRUE(manager_.assignFader("Fader Box", 1, 1));
    ASSERT_TRUE(manager_.assignFader("X-Touch Compact", 0, 2));
    ASSERT_TRUE(manager_.assignFader("Input Only Box", 0, 3));

    EXPECT_FALSE(manager_.sendFaderPosition(32, 100));
    EXPECT_FALSE(manager_.sendFaderPosition(-1, 100));
    // A 0 dB screen fader (14893) reaches the nanoKONTROL2's first fader as CC 82 value 115.
    EXPECT_TRUE(manager_.sendFaderPosition(0, 14893));
    EXPECT_EQ(sentTo("nanoKONTROL2"), (std::vector<std::vector<uint8_t>>{{0xB0, 82, 115}}));
    EXPECT_TRUE(manager_.sendFaderPosition(1, 16383));
    EXPECT_EQ(sentTo("Fader Box"), (std::vector<std::vector<uint8_t>>{{0xE1, 0x7F, 0x7F}}));
    EXPECT_TRUE(manager_.sendFaderPosition(2, 100));
    EXPECT_TRUE(manager_.sendFaderPosition(3, 100));
    EXPECT_TRUE(manager_.sendFaderPosition(4, 100));
    EXPECT_TRUE(sentTo("X-Touch Compact").empty());
    EXPECT_TRUE(sentTo("nanoKONTROL2").empty());

    // A fader on two tracks moves with the first, the one it drives.
    ASSERT_TRUE(manager_.assignFader("nanoKONTROL2", 0, 6));
    EXPECT_TRUE(manager_.sendFaderPosition(6, 0));
    EXPECT_TRUE(manager_.sendFaderPosition(0, 16383));
    EXPECT_EQ(sentTo("nanoKONTROL2"), (std::vector<std::vector<uint8_t>>{{0xB0, 82, 127}}));

    EXPECT_FALSE(manager_.sendButtonLED(32, true));
    EXPECT_TRUE(manager_.sendButtonLED(5, true));
    EXPECT_EQ(sentTo("nanoKONTROL2"), (std::vector<std::vector<uint8_t>>{{0x90, 5, 127}}));
}

TEST_F(RelayTest, HardwarePositionsComeFromTheXTouchOnly)
{
    plugDevice("X-Touch Compact");
    ASSERT_TRUE(manager_.addController("X-Touch Compact", false));
    ASSERT_TRUE(manager_.assignFader("X-Touch Compact", 15, 20));
    ASSERT_TRUE(manager_.assignFader("nanoKONTROL2", 0, 21));
    inject("X-Touch Compact", {0xB0, 35, 127});
    log_.take();
    const auto positions = manager_.getCurrentFaderPositions();
    ASSERT_EQ(positions.size(), 1u);
    ASSERT_EQ(positions.count("X-Touch Compact"), 1u);
    EXPECT_EQ(positions.at("X-Touch Compact")[15], 16383);
    EventLog synced;
    manager_.setHardwareSyncCallback(
        [&](int t, int v) { synced.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
    manager_.syncFaderPositionsWithHardware();
    EXPECT_EQ(synced.take(), std::vector<std::string>{"T20=16383"});
}

TEST_F(RelayTest, ButtonFromARemovedControllerIsDropped)
{
    ASSERT_TRUE(manager_.assignFader("Fader Box", 2, 2));
    ASSERT_TRUE(manager_.removeController("Fader Box"));
    EXPECT_EQ(midi_->connectionCount(midi_->findSource("Fader Box")), 0u);
    EXPECT_TRUE(eventsFor("Fader Box", {0x90, 2, 1}).empty());
}
