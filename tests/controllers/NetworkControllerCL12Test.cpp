#include "controllers/MidiControllerManager.h"
#include "controllers/NetworkController_CL12.h"
#include "core/ConfigManager.h"

#include "ControllerTestSupport.h"

#include <arpa/inet.h>

#include <atomic>
#include <condition_variable>
#include <thread>

namespace {

// Collects events and lets the test wait for a count of them.
class WaitingLog {
public:
    void add(std::string event)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(std::move(event));
        }
        arrived_.notify_all();
    }
    // Waits until count events have come (bounded, so a lost datagram fails
    // the test instead of hanging it).
    std::vector<std::string> waitFor(size_t count)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        arrived_.wait_for(lock, std::chrono::seconds(10), [&] { return events_.size() >= count; });
        return std::exchange(events_, {});
    }

private:
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<std::string> events_;
};

class UdpTest : public VirtualMidiTest {
protected:
    // The receiver's thread calls into log_: it stops before log_ goes.
    ~UdpTest() override
    {
        if (receiver_)
            receiver_->shutdown();
    }

    void start()
    {
        port_ = freeUdpPort();
        receiver_ = std::make_unique<NetworkController_CL12>(port_);
        ASSERT_TRUE(receiver_->initialize());
        receiver_->setFaderCallback([this](int f, int v) { log_.add("F" + std::to_string(f) + "=" + std::to_string(v)); });
        receiver_->setButtonCallback([this](int b, bool p) { log_.add("B" + std::to_string(b) + (p ? "+" : "-")); });
    }

    uint16_t port_ = 0;
    std::unique_ptr<NetworkController_CL12> receiver_;
    WaitingLog log_;
};

}  // namespace

// Each datagram goes through a real loopback socket; a marker line after it
// ("B99:1") proves that everything before it was handled, so dropped lines
// are seen as missing events, not waited for.
TEST_F(UdpTest, LinesThroughALoopbackSocket)
{
    start();
    const struct {
        std::string datagram;
        std::vector<std::string> expected;
    } cases[] = {
        {"F3:255", {"F3=16383"}},
        {"F3:128", {"F3=8223"}},
        {"F3:0", {"F3=0"}},
        {"B0:1", {"B0+"}},
        {"B0:0", {"B0-"}},
        {"B0:2", {"B0-"}},  // printed PRESSED, reported as a release
        {"F0:10\nF1:20\n", {"F0=642", "F1=1284"}},
        {"F0:10\r\nF1:20\r\n", {"F0=642", "F1=1284"}},
        {"F:5\nFx:5\nF5\nX1:1\n\n", {}},
        {"F0:100000", {"F0=16383"}},  // held to the scale
        {"F0:-5", {"F0=0"}},
        {"F2:99999999999", {}},       // does not fit 32 bits
        {std::string("F4:7\0F5:9", 9), {"F4=449"}},  // text ends at a NUL
        {" F1:1", {}},
        {"F 6: 51", {"F6=3276"}},     // leading blanks in each number
    };
    for (const auto& c : cases) {
        sendUdp(port_, c.datagram);
        sendUdp(port_, "B99:1");
        std::vector<std::string> expected = c.expected;
        expected.push_back("B99+");
        EXPECT_EQ(log_.waitFor(expected.size()), expected) << c.datagram;
    }
    // A datagram is read up to 255 bytes: a line across the cut is cut too.
    std::string longDatagram(250, '\n');
    longDatagram += "F7:255";  // 256 bytes: "F7:25" survives the cut
    sendUdp(port_, longDatagram);
    sendUdp(port_, "B99:1");
    EXPECT_EQ(log_.waitFor(2), (std::vector<std::string>{"F7=1606", "B99+"}));
}

TEST_F(UdpTest, OnlyLoopbackAndOwnSubnetsAreTrusted)
{
    const struct {
        const char* address;
        bool trusted;
    } cases[] = {{"127.0.0.1", true}, {"127.8.9.10", true}, {"203.0.113.7", false}, {"198.51.100.1", false}};
    for (const auto& c : cases) {
        in_addr address{};
        ASSERT_EQ(inet_pton(AF_INET, c.address, &address), 1);
        EXPECT_EQ(NetworkController_CL12::isTrustedSender(address.s_addr), c.trusted) << c.address;
    }
}

TEST_F(UdpTest, CallbacksReplacedWhileTheReceiverDelivers)
{
    start();
    std::atomic<int> calls{0};
    std::thread sender([&] {
        for (int n = 0; n < 300; ++n)
            sendUdp(port_, "F1:" + std::to_string(n % 256) + "\nB2:" + std::to_string(n % 2));
    });
    for (int n = 0; n < 300; ++n) {
        receiver_->setFaderCallback([&calls](int, int) { calls.fetch_add(1); });
        receiver_->setButtonCallback([&calls](int, bool) { calls.fetch_add(1); });
        receiver_->setFaderCallback(nullptr);
    }
    sender.join();
    receiver_->setButtonCallback([this](int b, bool p) { log_.add("B" + std::to_string(b) + (p ? "+" : "-")); });
    sendUdp(port_, "B99:1");
    log_.waitFor(1);
    receiver_->shutdown();
    const int after = calls.load();
    sendUdp(port_, "F1:3");
    EXPECT_EQ(calls.load(), after);
    EXPECT_FALSE(receiver_->isInitialized());
}

// The manager as the assignment dialog drives it: a saved receiver whose
// port is taken is retried by the watchdog without leaking a socket or a
// thread, comes up once the port is free, and its lines move the strips.
TEST_F(UdpTest, BusyPortRetriedByTheWatchdogThenLinesMoveTheirStrips)
{
    UdpPortHolder busy;
    ConfigManager::getInstance()->setString("midi.controllers", "CL-12 Network (UDP)");
    ConfigManager::getInstance()->setString("midi.faderAssignments", "CL-12 Network (UDP):0:3|CL-12 Network (UDP):5:0");
    MidiControllerManager manager;
    manager.setNetworkReceiverPort(busy.port());
    manager.initialize();
    EXPECT_TRUE(manager.getControllers().empty());
    manager.checkAndRestoreControllers();  // the first retry opens what stays open (the log, the sequencer)
    const int descriptors = openDescriptorCount();
    const int threads = threadCount();
    for (int retry = 0; retry < 20; ++retry)
        manager.checkAndRestoreControllers();
    EXPECT_TRUE(manager.getControllers().empty());
    EXPECT_EQ(openDescriptorCount(), descriptors);
    EXPECT_EQ(threadCount(), threads);

    busy.release();
    manager.setFaderCallback([this](int t, int v) { log_.add("T" + std::to_string(t) + "=" + std::to_string(v)); });
    manager.checkAndRestoreControllers();
    ASSERT_EQ(manager.getControllers().size(), 1u);
    EXPECT_EQ(threadCount(), threads + 1);
    sendUdp(busy.port(), "F0:255\nF5:0\nF9:128\n");
    sendUdp(busy.port(), "F0:0");
    EXPECT_EQ(log_.waitFor(3), (std::vector<std::string>{"T3=16383", "T0=0", "T3=0"}));
    manager.shutdown();
    EXPECT_EQ(threadCount(), threads);
    EXPECT_EQ(openDescriptorCount(), descriptors - 1);  // the busy port's socket was given back
}
