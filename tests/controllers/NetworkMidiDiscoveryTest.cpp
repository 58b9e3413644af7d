#include "controllers/MidiControllerManager.h"
#include "controllers/MidiController_CoreMIDI.h"
#include "platform/netmidi/VirtualServiceDiscovery.h"

#include "ControllerTestSupport.h"

namespace {

// The lines the discovery logged, in order.
std::vector<std::string> discoveryLines(const std::string& log)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < log.size()) {
        size_t end = log.find('\n', start);
        if (end == std::string::npos)
            end = log.size();
        const std::string line = log.substr(start, end - start);
        if (line.find("Bridge") != std::string::npos || line.find("network") != std::string::npos
            || line.find("Network") != std::string::npos || line.rfind("  -> ", 0) == 0)
            lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

class DiscoveryTest : public VirtualMidiTest {
protected:
    DiscoveryTest()
        : discovery_(std::make_shared<VirtualServiceDiscovery>()), session_(std::make_shared<VirtualNetworkMidiSession>())
    {
        setDefaultServiceDiscovery(discovery_);
        setDefaultNetworkMidiSession(session_);
    }
    ~DiscoveryTest() override
    {
        setDefaultServiceDiscovery(nullptr);
        setDefaultNetworkMidiSession(nullptr);
    }

    std::shared_ptr<VirtualServiceDiscovery> discovery_;
    std::shared_ptr<VirtualNetworkMidiSession> session_;
};

}  // namespace

TEST_F(DiscoveryTest, BridgeNamesAreResolvedAndConnectedAsFoundContacts)
{
    discovery_->publish("CL-12 Bridge", "bridge.local", 5004);
    MidiController_CoreMIDI driver;
    ASSERT_TRUE(driver.initialize());
    EXPECT_TRUE(session_->enabled());
    EXPECT_EQ(session_->policy(), NetworkMidiSession::ConnectionPolicy::HostsInContactList);
    const struct {
        const char* name;
        bool resolved;
    } cases[] = {{"Studio Bridge 2", true}, {"CL12", true},         {"cl-12 studio", false},
                 {"Studio Mac", false},     {"bridge cart", false}, {"X CL-12 Y", true}};
    for (const auto& c : cases)
        discovery_->publish(c.name, std::string("h-") + c.name, 5004);
    discovery_->advanceSeconds(0);
    EXPECT_EQ(discovery_->resolveRequestCount(), 4);
    EXPECT_EQ(session_->connections(),
              (std::vector<std::string>{"CL-12 Bridge@bridge.local:5004", "Studio Bridge 2@h-Studio Bridge 2:5004",
                                        "CL12@h-CL12:5004", "X CL-12 Y@h-X CL-12 Y:5004"}));
    EXPECT_EQ(session_->contacts(), session_->connections());
    const std::vector<std::string> lines = discoveryLines(home_.logText());
    const std::vector<std::string> expectedStart = {
        "CoreMIDI: Searching for network MIDI sessions",
        "CoreMIDI: Network MIDI enabled, connection policy set to found bridges only",
        "CoreMIDI: Found CL-12 Bridge: CL-12 Bridge",
        "CoreMIDI: Searching for CL-12 Bridge via Bonjour...",
        "CoreMIDI: Found CL-12 Bridge: Studio Bridge 2",
        "CoreMIDI: Found CL-12 Bridge: CL12",
        "CoreMIDI: Found CL-12 Bridge: X CL-12 Y",
        "CoreMIDI: CL-12 Bridge resolved: CL-12 Bridge at bridge.local:5004",
        "CoreMIDI: Successfully connected to CL-12 Bridge!",
    };
    ASSERT_GE(lines.size(), expectedStart.size());
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + static_cast<long>(expectedStart.size())),
              expectedStart);
    driver.shutdown();
}

TEST_F(DiscoveryTest, SilentBridgeTimesOutAfterFiveSecondsOnTheClock)
{
    discovery_->publish("Quiet Bridge", "", 0, false);
    MidiController_CoreMIDI driver;
    ASSERT_TRUE(driver.initialize());
    discovery_->advanceSeconds(4.9);
    EXPECT_EQ(home_.logText().find("Failed to resolve"), std::string::npos);
    discovery_->advanceSeconds(0.1);
    EXPECT_NE(home_.logText().find("CoreMIDI: Failed to resolve CL-12 Bridge: Quiet Bridge"), std::string::npos);
    EXPECT_TRUE(session_->connections().empty());
}

TEST_F(DiscoveryTest, RefusedConnectionAndFailedSearchAreLoggedAndTheDriverStillStarts)
{
    session_->refuseConnections(true);
    discovery_->publish("CL-12 Bridge", "bridge.local", 5004);
    {
        MidiController_CoreMIDI driver;
        ASSERT_TRUE(driver.initialize());
        discovery_->advanceSeconds(0);
    }
    EXPECT_NE(home_.logText().find("CoreMIDI: Failed to add CL-12 Bridge connection"), std::string::npos);
    discovery_->failSearches(true);
    MidiController_CoreMIDI driver;
    EXPECT_TRUE(driver.initialize());
    EXPECT_NE(home_.logText().find("CoreMIDI: Network service browser failed to search"), std::string::npos);
}

TEST_F(DiscoveryTest, WithoutASessionNothingIsSearched)
{
    setDefaultNetworkMidiSession(nullptr);
    MidiController_CoreMIDI driver;
    EXPECT_TRUE(driver.initialize());
    EXPECT_EQ(discovery_->liveBrowserCount(), 0);
    EXPECT_EQ(discoveryLines(home_.logText()),
              (std::vector<std::string>{"CoreMIDI: Searching for network MIDI sessions",
                                        "CoreMIDI: Failed to get network session"}));
}

TEST_F(DiscoveryTest, BrowsersBelongToTheirDriversAcrossRefreshes)
{
    plugDevice("nanoKONTROL2");
    MidiControllerManager manager;
    manager.initialize();
    ASSERT_TRUE(manager.addController("nanoKONTROL2", false));
    for (int refresh = 0; refresh < 20; ++refresh) {
        manager.refreshAvailableDevices();
        manager.getAvailableInputDevices();
    }
    EXPECT_EQ(discovery_->liveBrowserCount(), 2);  // the listing driver and the open controller
    manager.removeController("nanoKONTROL2");
    EXPECT_EQ(discovery_->liveBrowserCount(), 1);
    manager.shutdown();
    EXPECT_EQ(discovery_->liveBrowserCount(), 0);
}
