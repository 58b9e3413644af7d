#include "platform/midi/VirtualMidiSystem.h"

#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

namespace {

struct Received {
    std::mutex mutex;
    std::vector<std::vector<uint8_t>> packets;
    std::vector<MidiEndpointRef> sources;
    std::thread::id thread;
};

void record(const MidiPacketListView& list, void* reference, MidiEndpointRef source)
{
    auto* received = static_cast<Received*>(reference);
    std::lock_guard<std::mutex> lock(received->mutex);
    received->thread = std::this_thread::get_id();
    for (auto p = list.first(); p.valid; p = list.next(p)) {
        received->packets.emplace_back(p.data, p.data + p.length);
        received->sources.push_back(source);
    }
}

class VirtualMidiSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(system_.createClient("test", client_), kMidiOk);
        ASSERT_EQ(system_.createInputPort(client_, "in", &record, &received_, input_), kMidiOk);
        ASSERT_EQ(system_.createOutputPort(client_, "out", output_), kMidiOk);
    }

    size_t receivedCount()
    {
        system_.waitForDeliveries();
        std::lock_guard<std::mutex> lock(received_.mutex);
        return received_.packets.size();
    }

    VirtualMidiSystem system_;
    Received received_;
    MidiClientRef client_ = 0;
    MidiPortRef input_ = 0;
    MidiPortRef output_ = 0;
};

}  // namespace

TEST_F(VirtualMidiSystemTest, DeliversOnlyFromConnectedSourcesOnItsOwnThread)
{
    const MidiEndpointRef wanted = system_.addSource("Fader Box");
    const MidiEndpointRef other = system_.addSource("Keyboard");
    ASSERT_EQ(system_.connectSource(input_, wanted), kMidiOk);
    ASSERT_TRUE(system_.inject(wanted, {0xB0, 1, 2}));
    ASSERT_TRUE(system_.inject(other, {0xB0, 3, 4}));
    EXPECT_EQ(receivedCount(), 1u);
    std::lock_guard<std::mutex> lock(received_.mutex);
    EXPECT_EQ(received_.packets[0], (std::vector<uint8_t>{0xB0, 1, 2}));
    EXPECT_EQ(received_.sources[0], wanted);
    EXPECT_NE(received_.thread, std::this_thread::get_id());
}

TEST_F(VirtualMidiSystemTest, ConnectionFollowsItsSourceOfflineAndReplugged)
{
    const MidiEndpointRef source = system_.addSource("Fader Box");
    ASSERT_EQ(system_.connectSource(input_, source), kMidiOk);

    ASSERT_TRUE(system_.setEndpointOnline(source, false));
    std::vector<MidiEndpointRef> listed;
    ASSERT_EQ(system_.getSources(listed), kMidiOk);
    EXPECT_TRUE(listed.empty());
    system_.inject(source, {0x90, 1, 1});
    EXPECT_EQ(receivedCount(), 0u);
    ASSERT_TRUE(system_.setEndpointOnline(source, true));
    system_.inject(source, {0x90, 1, 1});
    EXPECT_EQ(receivedCount(), 1u);

    // Unplugged for good, then a new endpoint under the same name.
    ASSERT_TRUE(system_.removeEndpoint(source));
    const MidiEndpointRef replugged = system_.addSource("Fader Box");
    EXPECT_NE(replugged, source);
    EXPECT_EQ(system_.connectionCount(replugged), 1u);
    system_.inject(replugged, {0x90, 2, 2});
    EXPECT_EQ(receivedCount(), 2u);
}

TEST_F(VirtualMidiSystemTest, NamesAsGivenAndUnreadableNamesAnswerAStatus)
{
    const std::string longName(300, 'x');
    const MidiEndpointRef a = system_.addSource("Twin");
    const MidiEndpointRef b = system_.addSource("Twin");
    const MidiEndpointRef c = system_.addSource(longName);
    std::string name;
    EXPECT_EQ(system_.getEndpointName(b, MidiNameProperty::DisplayName, name), kMidiOk);
    EXPECT_EQ(name, "Twin");
    EXPECT_EQ(system_.findSource("Twin"), a);
    EXPECT_EQ(system_.getEndpointName(c, MidiNameProperty::Name, name), kMidiOk);
    EXPECT_EQ(name, longName);
    ASSERT_TRUE(system_.setEndpointNameUnreadable(a, true));
    EXPECT_EQ(system_.getEndpointName(a, MidiNameProperty::DisplayName, name), kMidiErrorNoProperty);
}

TEST_F(VirtualMidiSystemTest, SendsAreKeptPerDestinationAndFailuresAreCounted)
{
    const MidiEndpointRef destination = system_.addDestination("Fader Box");
    uint8_t buffer[64];
    MidiPacketListBuilder builder(buffer, sizeof buffer);
    const uint8_t bytes[2] = {0xC3, 0x0A};
    builder.add(0, bytes, 2);
    EXPECT_EQ(system_.send(output_, destination, builder.view()), kMidiOk);
    EXPECT_EQ(system_.takeSent(destination), (std::vector<std::vector<uint8_t>>{{0xC3, 0x0A}}));
    EXPECT_TRUE(system_.takeSent(destination).empty());

    system_.failCall(VirtualMidiCall::Send, -99, 1);
    EXPECT_EQ(system_.send(output_, destination, builder.view()), -99);
    EXPECT_EQ(system_.send(output_, destination, builder.view()), kMidiOk);
    system_.setEndpointOnline(destination, false);
    EXPECT_EQ(system_.send(output_, destination, builder.view()), kMidiErrorOffline);
    EXPECT_EQ(system_.send(input_, destination, builder.view()), kMidiErrorUnknownObject);
}

TEST_F(VirtualMidiSystemTest, DisconnectWaitsForADeliveryUnderWay)
{
    struct Slow {
        std::mutex mutex;
        std::condition_variable condition;
        bool entered = false;
        bool release = false;
        std::atomic<bool> finished{false};
    } slow;
    MidiPortRef port = 0;
    ASSERT_EQ(system_.createInputPort(
                  client_, "slow",
                  [](const MidiPacketListView&, void* reference, MidiEndpointRef) {
                      auto* s = static_cast<Slow*>(reference);
                      std::unique_lock<std::mutex> lock(s->mutex);
                      s->entered = true;
                      s->condition.notify_all();
                      s->condition.wait(lock, [s] { return s->release; });
                      s->finished = true;
                  },
                  &slow, port),
              kMidiOk);
    const MidiEndpointRef source = system_.addSource("Fader Box");
    ASSERT_EQ(system_.connectSource(port, source), kMidiOk);
    system_.inject(source, {0x90, 1, 1});
    {
        std::unique_lock<std::mutex> lock(slow.mutex);
        slow.condition.wait(lock, [&] { return slow.entered; });
    }
    std::thread releaser([&] {
        std::lock_guard<std::mutex> lock(slow.mutex);
        slow.release = true;
        slow.condition.notify_all();
    });
    EXPECT_EQ(system_.disconnectSource(port, source), kMidiOk);
    EXPECT_TRUE(slow.finished.load());
    releaser.join();
}
