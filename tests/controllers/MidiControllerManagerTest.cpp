#include "controllers/MidiControllerManager.h"

#include "core/ConfigManager.h"

#include "ControllerTestSupport.h"

namespace {

std::string configValue(const std::string& key)
{
    return ConfigManager::getInstance()->getString(key, "<unset>");
}

void setConfig(const std::string& key, const std::string& value)
{
    ConfigManager::getInstance()->setString(key, value);
}

std::vector<std::string> assignmentsOf(const MidiControllerManager& manager)
{
    std::vector<std::string> entries;
    for (const FaderAssignment& a : manager.getFaderAssignments())
        entries.push_back(a.deviceName + ":" + std::to_string(a.faderIndex) + ":" + std::to_string(a.trackIndex));
    return entries;
}

class ManagerTest : public VirtualMidiTest {
protected:
    ~ManagerTest() override { manager_.shutdown(); }
    MidiControllerManager manager_;
};

}  // namespace

TEST(MidiControllerManagerCountTest, FaderCountsByName)
{
    const std::pair<const char*, int> cases[] = {
        {"X-TOUCH COMPACT", 16}, {"Behringer X-Touch", 16}, {"XTOUCH", 16}, {"Cantarem 2", 12},
        {"Cantarem 2 ", 8},      {"CL-12 Bridge", 12},      {"CL12", 12},   {"My Bridge", 12},
        {"Network Session 1", 12}, {"CL-12 Network (UDP)", 12}, {"nanoKONTROL2", 8}, {"nano KONTROL2", 8},
        {"x-touch", 8},          {"", 8},
    };
    for (const auto& [name, count] : cases)
        EXPECT_EQ(MidiControllerManager::getControllerFaderCount(name), count) << name;
}

TEST_F(ManagerTest, DeviceListEndsWithTheUdpOptionAndKeepsConnectedDevices)
{
    plugDevice("nanoKONTROL2");
    plugDevice("Scarlett 2i2 USB");
    ASSERT_TRUE(manager_.initialize());
    ASSERT_TRUE(manager_.addController("nanoKONTROL2", false));
    EXPECT_EQ(manager_.getAvailableInputDevices(), (std::vector<std::string>{"nanoKONTROL2", "CL-12 Network (UDP)"}));
    const std::string log = home_.logText();
    EXPECT_NE(log.find("MidiControllerManager: Cantarem 2 NOT detected"), std::string::npos);
    EXPECT_NE(log.find("MidiControllerManager: Returning 2 total device(s)"), std::string::npos);
}

TEST_F(ManagerTest, ControllersAreAddedOnceAndRefusedWhenTheyCannotOpen)
{
    plugDevice("nanoKONTROL2");
    midi_->addSource("Input Only Box");
    ASSERT_TRUE(manager_.initialize());
    EXPECT_TRUE(manager_.addController("nanoKONTROL2", true));
    EXPECT_FALSE(manager_.addController("nanoKONTROL2", true));
    EXPECT_TRUE(manager_.addController("Input Only Box", true));
    EXPECT_FALSE(manager_.addController("Not There", true));
    EXPECT_FALSE(manager_.addController("Cantarem 2", true));  // not plugged in
    UdpPortHolder busy;                                         // the receiver's port is taken
    manager_.setNetworkReceiverPort(busy.port());
    EXPECT_FALSE(manager_.addController("CL-12 Network (UDP)", true));
    ASSERT_EQ(manager_.getControllers().size(), 2u);
    EXPECT_TRUE(manager_.getControllers()[0].hasOutput);
    EXPECT_FALSE(manager_.getControllers()[1].hasOutput);
    EXPECT_EQ(configValue("midi.controllers"), "nanoKONTROL2|Input Only Box");
    const std::string log = home_.logText();
    EXPECT_NE(log.find("Controller already connected: nanoKONTROL2"), std::string::npos);
    EXPECT_NE(log.find("Failed to open MIDI input: Not There"), std::string::npos);
    EXPECT_NE(log.find("Added controller 'nanoKONTROL2' with 8 fader(s)"), std::string::npos);
}

TEST_F(ManagerTest, AssignmentRules)
{
    plugDevice("nanoKONTROL2");
    plugDevice("CL-12 Bridge");
    ASSERT_TRUE(manager_.initialize());
    ASSERT_TRUE(manager_.addController("nanoKONTROL2", false));
    ASSERT_TRUE(manager_.addController("CL-12 Bridge", false));

    struct Case {
        const char* device;
        int fader;
        int track;
        bool result;
        const char* logLine;
    };
    const Case refusals[] = {
        {"nanoKONTROL2", 0, 32, false, "Invalid track index: 32"},
        {"nanoKONTROL2", 0, -1, false, "Invalid track index: -1"},
        {"Gone", 0, 1, false, "Controller not found: Gone"},
        {"CL-12 Bridge", 12, 0, false, "Invalid fader index: 12 (max: 12)"},
        {"nanoKONTROL2", -1, 0, false, "Invalid fader index: -1 (max: 8)"},
    };
    for (const Case& c : refusals) {
        EXPECT_EQ(manager_.assignFader(c.device, c.fader, c.track), c.result) << c.logLine;
        EXPECT_NE(home_.logText().find(c.logLine), std::string::npos) << c.logLine;
    }
    EXPECT_TRUE(manager_.getFaderAssignments().empty());

    EXPECT_TRUE(manager_.assignFader("CL-12 Bridge", 11, 0));
    // One fader per track: the second assignment of track 5 replaces the first.
    EXPECT_TRUE(manager_.assignFader("nanoKONTROL2", 3, 5));
    EXPECT_TRUE(manager_.assignFader("CL-12 Bridge", 7, 5));
    // One fader, two tracks: both stay, the first listed is the fader's track.
    EXPECT_TRUE(manager_.assignFader("nanoKONTROL2", 1, 2));
    EXPECT_TRUE(manager_.assignFader("nanoKONTROL2", 1, 9));
    EXPECT_EQ(assignmentsOf(manager_),
              (std::vector<std::string>{"CL-12 Bridge:11:0", "CL-12 Bridge:7:5", "nanoKONTROL2:1:2", "nanoKONTROL2:1:9"}));
    EXPECT_EQ(manager_.findTrackForFader("nanoKONTROL2", 1), 2);
    EXPECT_EQ(manager_.getTrackForFader("nanoKONTROL2", 3), -1);
    EXPECT_EQ(manager_.findFadersForTrack(5), (std::vector<std::pair<std::string, int>>{{"CL-12 Bridge", 7}}));
    EXPECT_FALSE(manager_.isTrackMappedToCantarem(5));
    EXPECT_FALSE(manager_.isTrackMappedToCantarem(32));
    EXPECT_EQ(configValue("midi.faderAssignments"),
              "CL-12 Bridge:11:0|CL-12 Bridge:7:5|nanoKONTROL2:1:2|nanoKONTROL2:1:9");

    EXPECT_FALSE(manager_.removeFaderAssignment("nanoKONTROL2", 1, 3));
    EXPECT_TRUE(manager_.removeFaderAssignment("nanoKONTROL2", 1, 2));
    EXPECT_EQ(manager_.findTrackForFader("nanoKONTROL2", 1), 9);
    EXPECT_NE(home_.logText().find("Removed assignment for nanoKONTROL2 Fader 2 -> Track 3"), std::string::npos);

    // Removing an unknown controller still drops its assignments from memory.
    EXPECT_FALSE(manager_.removeController("Unknown Box"));
    EXPECT_TRUE(manager_.removeController("CL-12 Bridge"));
    EXPECT_EQ(assignmentsOf(manager_), (std::vector<std::string>{"nanoKONTROL2:1:9"}));
    EXPECT_EQ(configValue("midi.controllers"), "nanoKONTROL2");
    manager_.removeAllFaderAssignments();
    EXPECT_EQ(configValue("midi.faderAssignments"), "");
}

TEST_F(ManagerTest, ConfigurationRoundTripsThroughANewManager)
{
    plugDevice("nanoKONTROL2");
    plugDevice("X-Touch Compact");
    ASSERT_TRUE(manager_.initialize());
    ASSERT_TRUE(manager_.addController("X-Touch Compact", true));
    ASSERT_TRUE(manager_.addController("nanoKONTROL2", true));
    ASSERT_TRUE(manager_.assignFader("X-Touch Compact", 15, 31));
    ASSERT_TRUE(manager_.assignFader("nanoKONTROL2", 0, 4));
    const auto saved = assignmentsOf(manager_);
    manager_.shutdown();
    EXPECT_TRUE(manager_.getFaderAssignments().empty());
    EXPECT_EQ(configValue("midi.faderAssignments"), "X-Touch Compact:15:31|nanoKONTROL2:0:4");

    ASSERT_TRUE(ConfigManager::getInstance()->saveConfig(""));
    ConfigManager::getInstance()->resetForTests();
    ASSERT_TRUE(ConfigManager::getInstance()->loadConfig(""));
    MidiControllerManager reloaded;
    ASSERT_TRUE(reloaded.initialize());
    EXPECT_EQ(assignmentsOf(reloaded), saved);
    ASSERT_EQ(reloaded.getControllers().size(), 2u);
    EXPECT_EQ(reloaded.getControllers()[0].deviceName, "X-Touch Compact");
    reloaded.shutdown();
}

TEST_F(ManagerTest, LoadingSkipsEntriesThatCannotBeUsedAndNeverThrows)
{
    plugDevice("nanoKONTROL2");
    struct Case {
        const char* value;
        std::vector<std::string> loaded;
    };
    const Case cases[] = {
        {"nanoKONTROL2:0:1|nocolon|nanoKONTROL2:2:3", {"nanoKONTROL2:0:1", "nanoKONTROL2:2:3"}},
        {"nanoKONTROL2:x:1|nanoKONTROL2:1:y|nanoKONTROL2: 1:2|nanoKONTROL2:1:2 ", {}},
        {"nanoKONTROL2:0:40|nanoKONTROL2:0:32|nanoKONTROL2:0:-1|nanoKONTROL2:0:31", {"nanoKONTROL2:0:31"}},
        {"nanoKONTROL2:-1:3|nanoKONTROL2:8:3|nanoKONTROL2:7:3", {"nanoKONTROL2:7:3"}},
        {"Absent Box:7:3|Absent Box:8:4", {"Absent Box:7:3"}},  // absent devices are kept, within their count
        {"nanoKONTROL2:1:2:|:|::|nanoKONTROL2:99999999999999999999:1|||", {}},
        {"X-Touch:15:0", {"X-Touch:15:0"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        setConfig("midi.faderAssignments", c.value);
        MidiControllerManager manager;
        ASSERT_TRUE(manager.initialize());
        EXPECT_EQ(assignmentsOf(manager), c.loaded);
        // A fader or track outside its bounds is never looked up.
        EXPECT_EQ(manager.findTrackForFader("nanoKONTROL2", -1), -1);
        manager.shutdown();
    }
    EXPECT_NE(home_.logText().find("Skipped fader assignment 'nanoKONTROL2:0:40': track 40 is outside 0-31"),
              std::string::npos);
    EXPECT_NE(home_.logText().find("Skipped fader assignment 'nanoKONTROL2:8:3': fader 8 is outside 0-7"),
              std::string::npos);
}

TEST_F(ManagerTest, LegacyBankAssignmentsMigrate)
{
    plugDevice("X-Touch Compact");
    plugDevice("nanoKONTROL2");
    setConfig("midi.controllers", "X-Touch Compact|nanoKONTROL2|Unplugged Box");
    setConfig("midi.faderAssignments", "nanoKONTROL2:0:0");
    setConfig("midi.assignments",
              "X-Touch Compact:0:3|X-Touch Compact:1:3|nanoKONTROL2:0:4|Unplugged Box:0:0|nanoKONTROL2:a:1|"
              "nanoKONTROL2:-1:0|broken");
    ASSERT_TRUE(manager_.initialize());
    std::vector<std::string> expected = {"nanoKONTROL2:0:0"};
    for (int k = 0; k < 8; ++k)
        expected.push_back("X-Touch Compact:" + std::to_string(k) + ":" + std::to_string(24 + k));
    for (int k = 0; k < 8; ++k)
        expected.push_back("X-Touch Compact:" + std::to_string(8 + k) + ":" + std::to_string(24 + k));
    // nanoKONTROL2 bank 0 on track bank 4 would reach tracks 33 to 40: all skipped.
    EXPECT_EQ(assignmentsOf(manager_), expected);
    EXPECT_EQ(configValue("midi.assignments"), "");
    // The unplugged controller stays saved.
    EXPECT_EQ(configValue("midi.controllers"), "X-Touch Compact|nanoKONTROL2|Unplugged Box");
    EXPECT_NE(home_.logText().find("Migrated: X-Touch Compact Fader 16 -> Track 32"), std::string::npos);
}

TEST_F(ManagerTest, WatchdogWithNothingSavedDoesNothing)
{
    ASSERT_TRUE(manager_.initialize());
    const size_t before = home_.logText().size();
    manager_.checkAndRestoreControllers();
    EXPECT_EQ(home_.logText().size(), before);
}

TEST_F(ManagerTest, SavedControllerPluggedInLaterComesBackWithItsAssignments)
{
    plugDevice("nanoKONTROL2");
    setConfig("midi.controllers", "nanoKONTROL2|CL-12 Bridge");
    setConfig("midi.faderAssignments", "CL-12 Bridge:2:6|nanoKONTROL2:0:1");
    ASSERT_TRUE(manager_.initialize());
    EventLog log;
    manager_.setFaderCallback([&](int t, int v) { log.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
    std::vector<std::string> restored;
    manager_.setControllerRestoredCallback([&](const std::string& name) { restored.push_back(name); });
    ASSERT_EQ(manager_.getControllers().size(), 1u);

    // A save while the bridge is unplugged keeps it in the saved list.
    ASSERT_TRUE(manager_.assignFader("nanoKONTROL2", 1, 2));
    EXPECT_EQ(configValue("midi.controllers"), "nanoKONTROL2|CL-12 Bridge");
    manager_.checkAndRestoreControllers();
    EXPECT_EQ(manager_.getControllers().size(), 1u);

    plugDevice("CL-12 Bridge");
    manager_.checkAndRestoreControllers();
    ASSERT_EQ(manager_.getControllers().size(), 2u);
    EXPECT_EQ(restored, std::vector<std::string>{"CL-12 Bridge"});
    EXPECT_NE(home_.logText().find("Restored 1 fader assignments for CL-12 Bridge"), std::string::npos);
    inject("CL-12 Bridge", {0xB0, 3, 127});
    EXPECT_EQ(log.take(), std::vector<std::string>{"T6=16383"});

    // Unplugged and plugged again: the same controller goes on driving its track.
    midi_->removeEndpoint(midi_->findSource("CL-12 Bridge"));
    midi_->addSource("CL-12 Bridge");
    inject("CL-12 Bridge", {0xB0, 3, 0});
    EXPECT_EQ(log.take(), std::vector<std::string>{"T6=0"});

    // Removing it by hand is what forgets it.
    midi_->removeEndpoint(midi_->findSource("CL-12 Bridge"));
    EXPECT_TRUE(manager_.removeController("CL-12 Bridge"));
    EXPECT_EQ(configValue("midi.controllers"), "nanoKONTROL2");
}

TEST_F(ManagerTest, AbsentSavedControllerIsForgottenWhenTheUserRemovesIt)
{
    setConfig("midi.controllers", "Unplugged Box");
    ASSERT_TRUE(manager_.initialize());
    ASSERT_TRUE(manager_.getControllers().empty());
    manager_.saveConfig();
    EXPECT_EQ(configValue("midi.controllers"), "Unplugged Box");
    EXPECT_FALSE(manager_.removeController("Unplugged Box"));
    EXPECT_EQ(configValue("midi.controllers"), "");
    setConfig("midi.controllers", "Unplugged Box");
    MidiControllerManager other;
    other.initialize();
    other.removeAllControllers();
    EXPECT_EQ(configValue("midi.controllers"), "");
}

// The watchdog runs every 2 seconds for the whole session: it scans only
// while a saved controller is missing, and writes the device list to the log
// when the list changes, not on every run.
TEST_F(ManagerTest, WatchdogScansOnlyForMissingControllersAndLogsChangesOnly)
{
    const std::string scanLine = "MidiControllerManager: getAvailableInputDevices() called";
    const auto scansLogged = [this, &scanLine] {
        const std::string log = home_.logText();
        size_t count = 0;
        for (size_t at = log.find(scanLine); at != std::string::npos; at = log.find(scanLine, at + 1))
            ++count;
        return count;
    };
    plugDevice("nanoKONTROL2");
    setConfig("midi.controllers", "nanoKONTROL2");
    ASSERT_TRUE(manager_.initialize());
    ASSERT_EQ(manager_.getControllers().size(), 1u);
    const size_t atStart = scansLogged();
    for (int run = 0; run < 5; ++run)
        manager_.checkAndRestoreControllers();
    EXPECT_EQ(scansLogged(), atStart) << "every saved controller is connected: nothing to scan for";

    setConfig("midi.controllers", "nanoKONTROL2|CL-12 Bridge");
    for (int run = 0; run < 5; ++run)
        manager_.checkAndRestoreControllers();
    EXPECT_EQ(scansLogged(), atStart + 1) << "an unchanged device list is logged once";

    plugDevice("CL-12 Bridge");
    manager_.checkAndRestoreControllers();
    EXPECT_EQ(manager_.getControllers().size(), 2u);
    EXPECT_EQ(scansLogged(), atStart + 2) << "the changed list is logged";
    for (int run = 0; run < 5; ++run)
        manager_.checkAndRestoreControllers();
    EXPECT_EQ(scansLogged(), atStart + 2) << "both are back: the scan stops";
}

TEST_F(ManagerTest, WithoutAMidiSystemTheManagerStillStarts)
{
    midi_->failCall(VirtualMidiCall::CreateClient, -2);
    midi_->failCall(VirtualMidiCall::GetSources, -2);
    setConfig("midi.controllers", "nanoKONTROL2");
    EXPECT_TRUE(manager_.initialize());
    EXPECT_TRUE(manager_.getControllers().empty());
    EXPECT_EQ(manager_.getAvailableInputDevices(), std::vector<std::string>{"CL-12 Network (UDP)"});
    EXPECT_NE(home_.logText().find("CoreMIDI: Failed to create MIDI client: -2"), std::string::npos);
    EXPECT_EQ(configValue("midi.controllers"), "nanoKONTROL2");
}
