#include "controllers/MidiControllerFactory.h"
#include "controllers/MidiController_CoreMIDI.h"

#include "ControllerTestSupport.h"

#include <algorithm>
#include <chrono>
#include <functional>

namespace {

using Bytes = std::vector<uint8_t>;

class CoreMidiDriverTest : public VirtualMidiTest {
protected:
    // Opens `name` (input, and output when `withOutput`) and records every event.
    void open(const std::string& name, bool withOutput = true)
    {
        midi_->addSource(name);
        if (withOutput)
            midi_->addDestination(name);
        ASSERT_TRUE(driver_->initialize());
        ASSERT_TRUE(driver_->openInput(name));
        if (withOutput) {
            ASSERT_TRUE(driver_->openOutput(name));
        }
        name_ = name;
        driver_->setFaderCallback([this](int f, int v) { log_.add("F" + std::to_string(f) + "=" + std::to_string(v)); });
        driver_->setButtonCallback([this](int b, bool p) { log_.add("B" + std::to_string(b) + (p ? "+" : "-")); });
        driver_->setKnobCallback([this](int k, int v) { log_.add("K" + std::to_string(k) + "=" + std::to_string(v)); });
    }
    std::vector<std::string> eventsFor(const Bytes& packet)
    {
        inject(name_, packet);
        return log_.take();
    }

    std::unique_ptr<MidiController_CoreMIDI> driver_ = std::make_unique<MidiController_CoreMIDI>(midi_);
    EventLog log_;
    std::string name_;
};

struct DecodeCase {
    const char* device;
    Bytes packet;
    std::vector<std::string> events;
};

}  // namespace

TEST_F(CoreMidiDriverTest, DecodesEachPresetAndGenericMessages)
{
    const DecodeCase cases[] = {
        // No preset: notes are buttons by number, pitch bend is the fader of its channel.
        {"Fader Box", {0x90, 60, 100}, {"B60+"}},
        {"Fader Box", {0x90, 60, 0}, {"B60-"}},
        {"Fader Box", {0x83, 60, 10}, {"B60-"}},
        {"Fader Box", {0xE5, 0x00, 0x40}, {"F5=8192"}},
        {"Fader Box", {0xE0, 0x7F, 0x7F}, {"F0=16383"}},
        {"Fader Box", {0xE0, 0xFF, 0xFF}, {"F0=16383"}},  // bad data bytes stay at the top
        {"Fader Box", {0x40, 0x10, 0x10}, {}},            // running status: nothing
        {"Fader Box", {0xA0, 1, 2}, {}},
        {"Fader Box", {0xF0, 1, 2}, {}},
        {"Fader Box", {0xB0, 7, 10}, {}},  // unmapped control change
        // nanoKONTROL2
        {"nanoKONTROL2", {0xB0, 82, 0}, {"F0=0"}},
        {"nanoKONTROL2", {0xB0, 82, 1}, {"F0=129"}},
        {"nanoKONTROL2", {0xB0, 89, 63}, {"F7=8127"}},
        {"nanoKONTROL2", {0xB0, 82, 127}, {"F0=16383"}},
        {"nanoKONTROL2", {0xB0, 36, 127}, {"B3+"}},
        {"nanoKONTROL2", {0xB0, 36, 1}, {"B3+"}},
        {"nanoKONTROL2", {0xB0, 36, 0}, {"B3-"}},
        {"nanoKONTROL2", {0xB0, 80, 127}, {"B-11+"}},
        {"nanoKONTROL2", {0xB0, 80, 0}, {}},
        {"nanoKONTROL2", {0xB0, 66, 1}, {"B-1+"}},
        {"nanoKONTROL2", {0xB0, 16, 5}, {"K3=5"}},
        {"nanoKONTROL2", {0xBF, 25, 127}, {"B12+"}},  // any channel
        // MIDI Mix: faders and buttons win over knobs and transports sharing a number.
        {"MIDI Mix", {0xB0, 19, 127}, {"F0=16383"}},
        {"MIDI Mix", {0xB0, 27, 127}, {"F2=16383"}},
        {"MIDI Mix", {0xB0, 62, 1}, {"F8=129"}},
        {"MIDI Mix", {0xB0, 16, 1}, {"B10+"}},
        {"MIDI Mix", {0xB0, 18, 1}, {"B11+"}},
        {"MIDI Mix", {0xB0, 21, 1}, {"B13+"}},
        {"MIDI Mix", {0xB0, 22, 1}, {"B14+"}},
        {"MIDI Mix", {0xB0, 24, 1}, {"B15+"}},
        {"MIDI Mix", {0xB0, 25, 1}, {"B-1+"}},
        {"MIDI Mix", {0xB0, 26, 1}, {"B-11+"}},
        {"MIDI Mix", {0xB0, 17, 9}, {"K1=9"}},
        // CL-12 bridge: PFL keys are notes 36 to 47.
        {"CL-12 Bridge", {0x90, 36, 100}, {"B0+"}},
        {"CL-12 Bridge", {0x80, 47, 0}, {"B11-"}},
        {"CL-12 Bridge", {0x90, 47, 0}, {"B11-"}},
        {"CL-12 Bridge", {0x90, 50, 1}, {"B50+"}},
        {"CL-12 Bridge", {0xB0, 12, 127}, {"F11=16383"}},
        // X-Touch: control changes move faders, pitch bend does not.
        {"X-Touch Compact", {0xB0, 28, 64}, {"F8=8256"}},
        {"X-Touch Compact", {0xE0, 0, 64}, {}},
        {"X-Touch Compact", {0xB0, 10, 3}, {"K0=3"}},
    };
    std::string opened;
    for (const DecodeCase& c : cases) {
        SCOPED_TRACE(std::string(c.device) + " packet " + std::to_string(c.packet[0]) + " "
                     + std::to_string(c.packet.size() > 1 ? c.packet[1] : 0));
        if (opened != c.device) {
            driver_ = std::make_unique<MidiController_CoreMIDI>(midi_);
            open(c.device);
            opened = c.device;
        }
        EXPECT_EQ(eventsFor(c.packet), c.events);
    }
}

TEST_F(CoreMidiDriverTest, RawMessagesShortPacketsAndPacketsHoldingTwoMessages)
{
    open("Fader Box");
    driver_->setCallback([this](const MidiControllerBase::MidiMessage& m) {
        log_.add("M" + std::to_string(m.type) + " " + std::to_string(m.channel) + " " + std::to_string(m.data1) + " "
                 + std::to_string(m.data2));
    });
    const std::pair<Bytes, std::vector<std::string>> cases[] = {
        {{0xB3, 7}, {"M2 3 7 0"}},              // two-byte control change: value 0
        {{0x90}, {"B0-", "M1 0 0 0"}},          // one byte: both data bytes 0
        {{0xC5, 9}, {"M3 5 9 0"}},
        {{0x91, 1, 0}, {"B1-", "M1 1 1 0"}},    // note on with velocity 0 is a note off
        {{0xE2, 1, 1}, {"F2=129", "M4 2 1 1"}},
        {{0xB0, 1, 2, 0xB0, 3, 4}, {"M2 0 1 2"}},  // only the first message of a packet
    };
    for (const auto& [packet, events] : cases) {
        SCOPED_TRACE(packet.size());
        EXPECT_EQ(eventsFor(packet), events);
    }
}

TEST_F(CoreMidiDriverTest, EveryPresetControlReportsItsIndex)
{
    struct PresetControls {
        const char* device;
        std::vector<int> faderNumbers;
        std::vector<int> buttonNumbers;
        std::vector<std::pair<int, int>> transports;  // number, transport index
    };
    const PresetControls presets[] = {
        {"X-Touch", {1, 2, 3, 4, 5, 6, 7, 8, 28, 29, 30, 31, 32, 33, 34, 35}, {}, {}},
        {"nanoKONTROL2", {82, 83, 84, 85, 86, 87, 88, 89},
         {33, 34, 35, 36, 37, 38, 39, 40, 21, 22, 23, 24, 25, 26, 27, 28, 41, 42, 43, 44, 45, 46, 47, 48},
         {{66, 0}, {67, 1}, {57, 2}, {58, 3}, {59, 4}, {60, 5}, {75, 6}, {76, 7}, {78, 8}, {79, 9}, {80, 10}}},
        {"MIDIMix", {19, 23, 27, 31, 49, 53, 57, 61, 62}, {1, 3, 4, 6, 7, 9, 10, 12, 13, 15, 16, 18, 19, 21, 22, 24},
         {{25, 0}, {26, 10}}},
        {"CL12 Bridge", {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}, {}},
    };
    for (const PresetControls& preset : presets) {
        SCOPED_TRACE(preset.device);
        driver_ = std::make_unique<MidiController_CoreMIDI>(midi_);
        open(preset.device);
        for (size_t i = 0; i < preset.faderNumbers.size(); ++i) {
            // Numbers the MIDI Mix shares between a fader and a button go to the fader.
            EXPECT_EQ(eventsFor({0xB0, static_cast<uint8_t>(preset.faderNumbers[i]), 127}),
                      std::vector<std::string>{"F" + std::to_string(i) + "=16383"});
        }
        for (size_t i = 0; i < preset.buttonNumbers.size(); ++i) {
            const uint8_t number = static_cast<uint8_t>(preset.buttonNumbers[i]);
            const bool sharedWithFader = std::find(preset.faderNumbers.begin(), preset.faderNumbers.end(),
                                                   number) != preset.faderNumbers.end();
            if (!sharedWithFader) {
                EXPECT_EQ(eventsFor({0xB0, number, 1}), std::vector<std::string>{"B" + std::to_string(i) + "+"});
            }
        }
        for (const auto& [number, transport] : preset.transports)
            EXPECT_EQ(eventsFor({0xB0, static_cast<uint8_t>(number), 127}),
                      std::vector<std::string>{"B" + std::to_string(~transport) + "+"});
        if (std::string(preset.device) == "CL12 Bridge") {
            for (int button = 0; button < 12; ++button)
                EXPECT_EQ(eventsFor({0x90, static_cast<uint8_t>(36 + button), 1}),
                          std::vector<std::string>{"B" + std::to_string(button) + "+"});
        }
    }
}

TEST_F(CoreMidiDriverTest, SentBytes)
{
    open("nanoKONTROL2");
    struct Case {
        const char* what;
        std::function<bool()> send;
        bool result;
        std::vector<Bytes> bytes;
    };
    MidiControllerBase::MidiMessage pitchBend;
    pitchBend.type = 4;
    const Case cases[] = {
        {"program change", [&] { return driver_->sendProgramChange(3, 10); }, true, {{0xC3, 0x0A}}},
        {"note on", [&] { return driver_->sendNoteOn(1, 60, 100); }, true, {{0x91, 60, 100}}},
        {"note off", [&] { return driver_->sendNoteOff(2, 60, 0); }, true, {{0x82, 60, 0}}},
        {"control change", [&] { return driver_->sendControlChange(0x1F, 7, 99); }, true, {{0xBF, 7, 99}}},
        {"pitch bend refused", [&] { return driver_->sendMessage(pitchBend); }, false, {}},
        {"button light", [&] { return driver_->sendButtonLED(2, true); }, true, {{0x90, 2, 127}}},
        {"button light off", [&] { return driver_->sendButtonLED(258, false); }, true, {{0x90, 2, 0}}},
        {"fader top", [&] { return driver_->sendFaderPosition(0, 16383); }, true, {{0xB0, 82, 127}}},
        {"fader middle", [&] { return driver_->sendFaderPosition(1, 8192); }, true, {{0xB0, 83, 63}}},
        {"fader 128", [&] { return driver_->sendFaderPosition(2, 128); }, true, {{0xB0, 84, 0}}},
        {"fader 129", [&] { return driver_->sendFaderPosition(3, 129); }, true, {{0xB0, 85, 1}}},
        {"screen 0 dB", [&] { return driver_->sendFaderPosition(0, 14893); }, true, {{0xB0, 82, 115}}},
        {"unmapped fader as pitch bend", [&] { return driver_->sendFaderPosition(16, 8192); }, true,
         {{0xE0, 0x00, 0x40}}},
        {"unmapped fader 9", [&] { return driver_->sendFaderPosition(9, 16383); }, true, {{0xE9, 0x7F, 0x7F}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.send(), c.result);
        EXPECT_EQ(sentTo("nanoKONTROL2"), c.bytes);
    }
    driver_->closeOutput();
    EXPECT_FALSE(driver_->sendNoteOn(0, 1, 1));
    EXPECT_FALSE(driver_->sendFaderPosition(0, 1));
    EXPECT_TRUE(sentTo("nanoKONTROL2").empty());
}

TEST_F(CoreMidiDriverTest, EchoOfASentFaderIsDroppedForAHundredMilliseconds)
{
    auto now = std::chrono::steady_clock::time_point(std::chrono::seconds(1000));
    driver_->setClockForTests([&now] { return now; });
    open("nanoKONTROL2");
    ASSERT_TRUE(driver_->sendFaderPosition(0, 8192));  // CC 82 value 63
    struct Case {
        std::chrono::nanoseconds after;
        uint8_t number;
        uint8_t value;
        bool passes;
    };
    using std::chrono::milliseconds;
    using std::chrono::nanoseconds;
    const Case cases[] = {
        {milliseconds(0), 82, 60, false},  {milliseconds(0), 82, 66, false}, {milliseconds(50), 82, 63, false},
        {milliseconds(0), 82, 59, true},   {milliseconds(0), 82, 67, true},  {nanoseconds(99'999'999), 82, 63, false},
        {milliseconds(100), 82, 63, true}, {milliseconds(0), 83, 63, true},  // no echo entry for fader 1
    };
    const auto sent = now;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.after.count()) + " ns, value " + std::to_string(c.value));
        now = sent + c.after;
        const auto events = eventsFor({0xB0, c.number, c.value});
        EXPECT_EQ(events.size(), c.passes ? 1u : 0u);
    }
    // A send to another fader restarts the window for every number.
    now = sent + milliseconds(500);
    ASSERT_TRUE(driver_->sendFaderPosition(5, 0));
    EXPECT_TRUE(eventsFor({0xB0, 82, 63}).empty());
}

TEST_F(CoreMidiDriverTest, XTouchModeReadsFadersButNeverMovesThem)
{
    open("X-Touch Compact");
    EXPECT_EQ(driver_->getCurrentFaderPositions(), std::vector<int>(16, 8192));
    EXPECT_FALSE(driver_->sendFaderPosition(0, 100));
    EXPECT_TRUE(sentTo("X-Touch Compact").empty());
    eventsFor({0xB0, 35, 127});
    std::vector<int> expected(16, 8192);
    expected[15] = 16383;
    EXPECT_EQ(driver_->getCurrentFaderPositions(), expected);

    MidiController_CoreMIDI plain(midi_);
    EXPECT_TRUE(plain.getCurrentFaderPositions().empty());
}

TEST_F(CoreMidiDriverTest, DeviceFilterAndNames)
{
    const std::pair<std::string, bool> names[] = {
        {"Behringer X-Touch", true},     {"UMC404HD 192k MIDI", false}, {"Scarlett 18i20 USB", false},
        {"Audio Control Unit", true},    {"Weird Synth", true},         {"Behringer x-touch", false},
        {"Twin", true},                  {"Twin", true},
    };
    std::vector<std::string> expected;
    for (const auto& [name, accepted] : names) {
        midi_->addSource(name);
        if (accepted)
            expected.push_back(name);
    }
    const MidiEndpointRef unreadable = midi_->addSource("Hidden");
    midi_->setEndpointNameUnreadable(unreadable, true);
    midi_->addSource(std::string(256, 'n'));
    midi_->addSource(std::string(255, 'm'));
    expected.push_back("Unknown");
    expected.push_back("Unknown");
    expected.push_back(std::string(255, 'm'));
    EXPECT_EQ(driver_->getInputDevices(), expected);
    EXPECT_NE(home_.logText().find("CoreMIDI: Device 'UMC404HD 192k MIDI' -> FILTERED OUT"), std::string::npos);
}

TEST_F(CoreMidiDriverTest, OpeningAMissingDeviceLeavesNothingOpen)
{
    open("nanoKONTROL2");
    const MidiEndpointRef source = midi_->findSource("nanoKONTROL2");
    EXPECT_FALSE(driver_->openInput("Gone"));
    EXPECT_EQ(driver_->getCurrentInputDevice(), "");
    EXPECT_EQ(midi_->connectionCount(source), 0u);
    EXPECT_FALSE(driver_->openOutput("Gone"));
    EXPECT_EQ(driver_->getCurrentOutputDevice(), "");
    EXPECT_FALSE(driver_->sendNoteOn(0, 1, 1));
    const std::string log = home_.logText();
    EXPECT_NE(log.find("CoreMIDI: Input device not found: Gone"), std::string::npos);
    EXPECT_NE(log.find("CoreMIDI: Output device not found: Gone"), std::string::npos);
}

TEST_F(CoreMidiDriverTest, PlatformFailuresAreLoggedAndUndone)
{
    struct Case {
        VirtualMidiCall call;
        const char* line;
    };
    const Case cases[] = {
        {VirtualMidiCall::CreateClient, "CoreMIDI: Failed to create MIDI client: -77"},
        {VirtualMidiCall::CreateInputPort, "CoreMIDI: Failed to create input port: -77"},
        {VirtualMidiCall::CreateOutputPort, "CoreMIDI: Failed to create output port: -77"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.line);
        midi_->failCall(c.call, -77, 1);
        MidiController_CoreMIDI driver(midi_);
        EXPECT_FALSE(driver.initialize());
        EXPECT_FALSE(driver.isInitialized());
        EXPECT_EQ(midi_->clientCount(), 0u);
        EXPECT_EQ(midi_->portCount(), 0u);
        EXPECT_NE(home_.logText().find(c.line), std::string::npos);
    }
    midi_->addSource("Fader Box");
    MidiController_CoreMIDI driver(midi_);
    ASSERT_TRUE(driver.initialize());
    midi_->failCall(VirtualMidiCall::ConnectSource, -5, 1);
    EXPECT_FALSE(driver.openInput("Fader Box"));
    EXPECT_NE(home_.logText().find("CoreMIDI: Failed to connect to input: -5"), std::string::npos);
    EXPECT_TRUE(driver.openInput("Fader Box"));
    driver.shutdown();
    EXPECT_EQ(midi_->clientCount(), 0u);
    EXPECT_TRUE(driver.initialize());  // can be initialised again
}

TEST(MidiControllerFactoryTest, MakesMidiDriversWhateverItIsAskedFor)
{
    EXPECT_EQ(MidiControllerFactory::getDefaultType(), 2);
    EXPECT_EQ(MidiControllerFactory::getTypeName(MidiControllerFactory::CoreMIDI), "Core MIDI");
    for (int type : {-1, 0, 1, 3, 99}) {
        EXPECT_EQ(MidiControllerFactory::getTypeName(static_cast<MidiControllerFactory::ControllerType>(type)),
                  "Unknown");
        auto driver = MidiControllerFactory::create(static_cast<MidiControllerFactory::ControllerType>(type));
        EXPECT_NE(dynamic_cast<MidiController_CoreMIDI*>(driver.get()), nullptr);
        EXPECT_FALSE(driver->isInitialized());
    }
}
