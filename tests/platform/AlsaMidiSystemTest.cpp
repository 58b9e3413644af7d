#include "platform/midi/AlsaMidiSystem.h"

#include "support/ExternalTool.h"

#include <alsa/asoundlib.h>

#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {

#define REQUIRE_SEQUENCER()                                                                              \
    do {                                                                                                 \
        if (!AlsaMidiSystem::sequencerPresent())                                                         \
            GTEST_SKIP() << "SKIPPED: no ALSA sequencer (/dev/snd/seq; kernel module snd-seq missing); " \
                            "the real MIDI layer was not exercised";                                     \
    } while (0)

struct Received {
    std::mutex mutex;
    std::condition_variable condition;
    std::vector<std::vector<uint8_t>> packets;
};

void record(const MidiPacketListView& list, void* reference, MidiEndpointRef)
{
    auto* received = static_cast<Received*>(reference);
    std::lock_guard<std::mutex> lock(received->mutex);
    for (auto p = list.first(); p.valid; p = list.next(p))
        received->packets.emplace_back(p.data, p.data + p.length);
    received->condition.notify_all();
}

// A sequencer client of the test's own, standing in for a device.
class TestDevice {
public:
    explicit TestDevice(const char* portName)
    {
        EXPECT_GE(snd_seq_open(&seq_, "default", SND_SEQ_OPEN_DUPLEX, 0), 0);
        snd_seq_set_client_name(seq_, "Test Surface");
        port_ = snd_seq_create_simple_port(seq_, portName,
                                           SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                                               | SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                           SND_SEQ_PORT_TYPE_MIDI_GENERIC);
    }
    ~TestDevice() { snd_seq_close(seq_); }
    int client() const { return snd_seq_client_id(seq_); }
    int port() const { return port_; }
    void sendController(int channel, int param, int value)
    {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        snd_seq_ev_set_source(&event, port_);
        snd_seq_ev_set_subs(&event);
        snd_seq_ev_set_direct(&event);
        snd_seq_ev_set_controller(&event, channel, param, value);
        snd_seq_event_output_direct(seq_, &event);
    }

private:
    snd_seq_t* seq_ = nullptr;
    int port_ = -1;
};

}  // namespace

TEST(AlsaMidiSystemTest, WithoutASequencerClientCreationAnswersAStatus)
{
    if (AlsaMidiSystem::sequencerPresent())
        GTEST_SKIP() << "SKIPPED: this machine has a sequencer; the failure path is not reachable here";
    AlsaMidiSystem system;
    MidiClientRef client = 0;
    EXPECT_LT(system.createClient("Tonvale MIDI", client), 0);
    std::vector<MidiEndpointRef> sources;
    EXPECT_LT(system.getSources(sources), 0);
    EXPECT_TRUE(sources.empty());
}

TEST(AlsaMidiSystemTest, SourceNamedByPortWithoutSeparatorsDeliversOneEventPerPacket)
{
    REQUIRE_SEQUENCER();
    AlsaMidiSystem system;
    TestDevice device("nano:KONTROL|2");
    const MidiEndpointRef endpoint = AlsaMidiSystem::endpointFor(device.client(), device.port());
    std::string name;
    ASSERT_EQ(system.getEndpointName(endpoint, MidiNameProperty::DisplayName, name), kMidiOk);
    EXPECT_EQ(name, "nano-KONTROL-2");

    MidiClientRef client = 0;
    MidiPortRef input = 0;
    Received received;
    ASSERT_EQ(system.createClient("Tonvale MIDI", client), kMidiOk);
    ASSERT_EQ(system.createInputPort(client, "Tonvale Input", &record, &received, input), kMidiOk);
    ASSERT_EQ(system.connectSource(input, endpoint), kMidiOk);
    device.sendController(2, 82, 115);
    device.sendController(2, 83, 1);
    std::unique_lock<std::mutex> lock(received.mutex);
    ASSERT_TRUE(received.condition.wait_for(lock, std::chrono::seconds(5),
                                            [&] { return received.packets.size() == 2; }));
    EXPECT_EQ(received.packets[0], (std::vector<uint8_t>{0xB2, 82, 115}));
    EXPECT_EQ(received.packets[1], (std::vector<uint8_t>{0xB2, 83, 1}));
    lock.unlock();
    EXPECT_EQ(system.disposeClient(client), kMidiOk);
}

TEST(AlsaMidiSystemTest, ReplacedPortOfTheSameNameIsConnectedAgain)
{
    REQUIRE_SEQUENCER();
    AlsaMidiSystem system;
    MidiClientRef client = 0;
    MidiPortRef input = 0;
    Received received;
    ASSERT_EQ(system.createClient("Tonvale MIDI", client), kMidiOk);
    ASSERT_EQ(system.createInputPort(client, "Tonvale Input", &record, &received, input), kMidiOk);
    auto device = std::make_unique<TestDevice>("Replugged Surface");
    ASSERT_EQ(system.connectSource(input, AlsaMidiSystem::endpointFor(device->client(), device->port())), kMidiOk);
    device.reset();
    device = std::make_unique<TestDevice>("Replugged Surface");
    // The reconnection happens on the system's thread when it hears of the
    // new port; events sent before it are lost, as they would be on a wire.
    bool arrived = false;
    for (int attempt = 0; attempt < 100 && !arrived; ++attempt) {
        device->sendController(0, 1, 64);
        std::unique_lock<std::mutex> lock(received.mutex);
        arrived = received.condition.wait_for(lock, std::chrono::milliseconds(50),
                                              [&] { return !received.packets.empty(); });
    }
    EXPECT_TRUE(arrived);
    EXPECT_EQ(system.disposeClient(client), kMidiOk);
}

TEST(AlsaMidiSystemTest, WhatWeSendIsWhatAseqdumpReads)
{
    REQUIRE_SEQUENCER();
    TONVALE_REQUIRE_TOOL("aseqdump");
    AlsaMidiSystem system;
    // aseqdump listens on a port of its own, which we send to as to a device.
    // Line-buffered, so each event is readable as soon as it is printed.
    QProcess dump;
    if (!findTool("stdbuf").isEmpty())
        dump.start(findTool("stdbuf"), {"-oL", findTool("aseqdump")});
    else
        dump.start(findTool("aseqdump"), {});
    ASSERT_TRUE(dump.waitForStarted());
    std::vector<MidiEndpointRef> destinations;
    MidiEndpointRef dumpPort = 0;
    for (int attempt = 0; attempt < 50 && dumpPort == 0; ++attempt) {
        ASSERT_EQ(system.getDestinations(destinations), kMidiOk);
        for (MidiEndpointRef destination : destinations) {
            std::string name;
            if (system.getEndpointName(destination, MidiNameProperty::Name, name) == kMidiOk && name == "aseqdump")
                dumpPort = destination;
        }
        if (dumpPort == 0)
            dump.waitForReadyRead(100);
    }
    ASSERT_NE(dumpPort, 0u);
    MidiClientRef client = 0;
    MidiPortRef output = 0;
    ASSERT_EQ(system.createClient("Tonvale MIDI", client), kMidiOk);
    ASSERT_EQ(system.createOutputPort(client, "Tonvale Output", output), kMidiOk);
    uint8_t buffer[64];
    MidiPacketListBuilder builder(buffer, sizeof buffer);
    const uint8_t controlChange[3] = {0xB0, 82, 115};
    const uint8_t programChange[2] = {0xC3, 10};
    builder.add(0, controlChange, 3);
    builder.add(0, programChange, 2);
    ASSERT_EQ(system.send(output, dumpPort, builder.view()), kMidiOk);
    QString text;
    for (int attempt = 0; attempt < 50 && !text.contains("Program change"); ++attempt) {
        dump.waitForReadyRead(100);
        text += QString::fromUtf8(dump.readAllStandardOutput());
    }
    dump.kill();
    dump.waitForFinished();
    EXPECT_TRUE(text.contains(QRegularExpression("Control change\\s+0, controller 82, value 115"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QRegularExpression("Program change\\s+3, program 10"))) << text.toStdString();
}
