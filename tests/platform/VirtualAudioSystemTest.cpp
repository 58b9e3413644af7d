#include "platform/audio/VirtualAudioSystem.h"

#include <ltc.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <ctime>
#include <thread>

namespace {

using namespace std::chrono_literals;

VirtualDeviceDescription device(const std::string& name, std::vector<uint32_t> inputs,
                                std::vector<uint32_t> outputs)
{
    VirtualDeviceDescription description;
    description.name = name;
    description.inputStreams = std::move(inputs);
    description.outputStreams = std::move(outputs);
    return description;
}

// A render callback that copies the block's input to the outputs, channel
// for channel, and remembers the frame counts it was called with.
struct LoopbackClient {
    AudioOutputUnit* unit = nullptr;
    std::vector<std::vector<float>> input = std::vector<std::vector<float>>(8, std::vector<float>(16384));
    std::vector<uint32_t> framesSeen;
    AudioStatus lastInputStatus = kAudioOk;

    static AudioStatus render(void* refcon, const AudioRenderTime& time, AudioUnitBus, uint32_t frames,
                              AudioBlockBufferList& outputs)
    {
        auto* self = static_cast<LoopbackClient*>(refcon);
        self->framesSeen.push_back(frames);
        AudioBlockBuffer buffers[8];
        for (size_t c = 0; c < 8; ++c)
            buffers[c] = AudioBlockBuffer{1, static_cast<uint32_t>(self->input[c].size() * 4), self->input[c].data()};
        AudioBlockBufferList inputs{8, buffers};
        self->lastInputStatus = self->unit->renderInput(time, frames, inputs);
        for (uint32_t c = 0; c < outputs.bufferCount && self->lastInputStatus == kAudioOk; ++c)
            std::copy_n(self->input[c].begin(), std::min<size_t>(frames, 16384), outputs.buffers[c].data);
        return kAudioOk;
    }
};

std::unique_ptr<AudioOutputUnit> startLoopback(VirtualAudioSystem& system, AudioDeviceId device,
                                               LoopbackClient& client, uint32_t inputChannels = 8)
{
    std::unique_ptr<AudioOutputUnit> unit;
    EXPECT_EQ(system.createOutputUnit(unit), kAudioOk);
    client.unit = unit.get();
    EXPECT_EQ(unit->setCurrentDevice(device), kAudioOk);
    EXPECT_EQ(unit->enableIO(AudioUnitBus::Input, true), kAudioOk);
    EXPECT_EQ(unit->setStreamFormat(AudioUnitBus::Input, AudioStreamFormat{48000.0, inputChannels, true, true}),
              kAudioOk);
    EXPECT_EQ(unit->setStreamFormat(AudioUnitBus::Output, AudioStreamFormat{48000.0, 8, true, true}), kAudioOk);
    EXPECT_EQ(unit->setRenderCallback(&LoopbackClient::render, &client), kAudioOk);
    EXPECT_EQ(unit->initialize(), kAudioOk);
    EXPECT_EQ(unit->start(), kAudioOk);
    return unit;
}

float peak(const std::vector<float>& samples)
{
    float result = 0.0f;
    for (float sample : samples)
        result = std::max(result, std::fabs(sample));
    return result;
}

TEST(VirtualAudioSystemTest, SteppedLoopbackCarriesFedInputToEveryOutputInOrder)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    std::vector<float> ramp(300);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i) / 1000.0f;
    ASSERT_TRUE(system.feedInput(interface, 6, ramp));

    LoopbackClient client;
    const auto unit = startLoopback(system, interface, client);
    ASSERT_TRUE(system.renderBlocks(4, 100));

    const auto outputs = system.takeOutput(interface);
    ASSERT_EQ(outputs.size(), 8u);
    for (const auto& channel : outputs)
        EXPECT_EQ(channel.size(), 400u);
    for (size_t i = 0; i < 400; ++i)
        ASSERT_FLOAT_EQ(outputs[6][i], i < 300 ? ramp[i] : 0.0f) << i;
    EXPECT_NEAR(peak(outputs[0]), std::pow(10.0, -12.0 / 20.0), 0.01);  // the 440 Hz tone at -12 dBFS
    EXPECT_GT(peak(outputs[4]), 0.0f);                                 // noise, well below the tones
    EXPECT_LT(peak(outputs[4]), std::pow(10.0, -50.0 / 20.0) + 1e-6);
    EXPECT_TRUE(system.takeOutput(interface)[0].empty()) << "taken output is not handed out twice";
}

TEST(VirtualAudioSystemTest, CallbacksMayCarryNoFramesOrMoreThanTheBufferSize)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    LoopbackClient client;
    const auto unit = startLoopback(system, interface, client);
    system.renderBlocks(1, 0);
    system.renderBlocks(1, 10000);
    EXPECT_EQ(client.framesSeen, (std::vector<uint32_t>{0, 10000}));
    EXPECT_EQ(system.takeOutput(interface)[0].size(), 10000u);
}

TEST(VirtualAudioSystemTest, RenderInputRefusesBuffersTooSmallForTheBlock)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    LoopbackClient client;
    const auto unit = startLoopback(system, interface, client);
    system.renderBlocks(1, 20000);  // the client's buffers hold 16384 frames
    EXPECT_EQ(client.lastInputStatus, kAudioErrorBadArgument);
    system.renderBlocks(1, 256);
    EXPECT_EQ(client.lastInputStatus, kAudioOk);
}

TEST(VirtualAudioSystemTest, InputEightCarriesDecodableLtcAtTwentyFiveFramesFromTheTimeOfDay)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    LoopbackClient client;
    const auto unit = startLoopback(system, interface, client);
    const std::time_t before = std::time(nullptr);
    system.renderBlocks(375, 256);  // two seconds
    const std::vector<float> ltcSignal = system.takeOutput(interface)[7];

    LTCDecoder* decoder = ltc_decoder_create(1920, 32);
    std::vector<ltcsnd_sample_t> bytes(ltcSignal.size());
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<ltcsnd_sample_t>(std::lround(128.0 + 127.0 * ltcSignal[i]));
    LTCFrameExt frame;
    int decoded = 0;
    SMPTETimecode last{};
    constexpr size_t kChunk = 1920;  // read after every frame's worth, the decoder's queue is short
    for (size_t offset = 0; offset < bytes.size(); offset += kChunk) {
        const size_t count = std::min(kChunk, bytes.size() - offset);
        ltc_decoder_write(decoder, bytes.data() + offset, count, static_cast<ltc_off_t>(offset));
        while (ltc_decoder_read(decoder, &frame)) {
            ltc_frame_to_time(&last, &frame.ltc, LTC_USE_DATE);
            ++decoded;
        }
    }
    ltc_decoder_free(decoder);
    EXPECT_GE(decoded, 45);  // 50 frames in two seconds, the first may be lost to sync
    EXPECT_LT(last.frame, 25);
    std::tm local{};
    localtime_r(&before, &local);
    const int secondsOfDay = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec;
    const int decodedSeconds = last.hours * 3600 + last.mins * 60 + last.secs;
    EXPECT_NEAR(decodedSeconds, secondsOfDay + 2, 3) << "LTC starts at the time of day";
}

TEST(VirtualAudioSystemTest, BufferSizeSettlesOnTheNextSupportedSize)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    const struct {
        uint32_t asked;
        uint32_t settled;
    } cases[] = {{100, 128}, {128, 128}, {129, 256}, {1, 32}, {100000, 4096}};
    for (const auto& testCase : cases) {
        ASSERT_EQ(system.setBufferFrameSize(interface, testCase.asked), kAudioOk);
        uint32_t frames = 0;
        ASSERT_EQ(system.getBufferFrameSize(interface, frames), kAudioOk);
        EXPECT_EQ(frames, testCase.settled) << testCase.asked;
    }
    EXPECT_EQ(system.setBufferFrameSize(interface, 0), kAudioErrorBadArgument);
}

TEST(VirtualAudioSystemTest, ChosenCallsFailForTheirDeviceAndCountedTimes)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    const AudioDeviceId output = system.findDevice("Virtual Output");
    system.failCall(VirtualAudioCall::DeviceName, -42, interface, 2);
    std::string name;
    EXPECT_EQ(system.getDeviceName(interface, name), -42);
    EXPECT_EQ(system.getDeviceName(output, name), kAudioOk) << "other devices answer";
    EXPECT_EQ(system.getDeviceName(interface, name), -42);
    EXPECT_EQ(system.getDeviceName(interface, name), kAudioOk) << "the failure was used up";

    system.failCall(VirtualAudioCall::DeviceList, 1852797029);
    std::vector<AudioDeviceId> ids;
    EXPECT_EQ(system.getDeviceIds(ids), 1852797029);
    EXPECT_EQ(system.getDeviceIds(ids), 1852797029) << "until cleared";
    system.clearFailures();
    EXPECT_EQ(system.getDeviceIds(ids), kAudioOk);
}

TEST(VirtualAudioSystemTest, AddRemoveAndRenameChangeTheDeviceList)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription{});
    const AudioDeviceId first = system.addDevice(device("First", {2}, {2}));
    const AudioDeviceId second = system.addDevice(device("Second", {2}, {}));
    std::vector<AudioDeviceId> ids;
    system.getDeviceIds(ids);
    EXPECT_EQ(ids, (std::vector<AudioDeviceId>{first, second}));
    EXPECT_TRUE(system.renameDevice(second, "Renamed"));
    std::string name;
    system.getDeviceName(second, name);
    EXPECT_EQ(name, "Renamed");
    EXPECT_TRUE(system.removeDevice(first));
    system.getDeviceIds(ids);
    EXPECT_EQ(ids, (std::vector<AudioDeviceId>{second}));
    EXPECT_EQ(system.getDeviceName(first, name), kAudioErrorUnknownDevice);
}

struct AliveRecorder {
    std::atomic<int> calls{0};
    std::atomic<AudioDeviceId> device{kNoAudioDevice};
    std::atomic<bool> aliveSeen{true};
    std::atomic<bool> onCallerThread{false};
    std::thread::id callerThread;
    VirtualAudioSystem* system = nullptr;

    static AudioStatus listener(AudioDeviceId id, void* clientData)
    {
        auto* self = static_cast<AliveRecorder*>(clientData);
        bool alive = true;
        self->system->getDeviceIsAlive(id, alive);
        self->aliveSeen = alive;
        self->device = id;
        self->onCallerThread = std::this_thread::get_id() == self->callerThread;
        ++self->calls;
        return kAudioOk;
    }
};

TEST(VirtualAudioSystemTest, UnplugNotifiesOnTheNotificationThreadAndStopsTheDevicesCycles)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    AliveRecorder recorder;
    recorder.system = &system;
    recorder.callerThread = std::this_thread::get_id();
    ASSERT_EQ(system.addDeviceAliveListener(interface, &AliveRecorder::listener, &recorder), kAudioOk);
    LoopbackClient client;
    const auto unit = startLoopback(system, interface, client);
    system.renderBlocks(2, 64);

    ASSERT_TRUE(system.unplugDevice(interface));
    system.waitForNotifications();
    EXPECT_EQ(recorder.calls, 1);
    EXPECT_EQ(recorder.device, interface);
    EXPECT_FALSE(recorder.aliveSeen);
    EXPECT_FALSE(recorder.onCallerThread);
    EXPECT_EQ(system.findDevice("Virtual Interface"), kNoAudioDevice);

    system.renderBlocks(3, 64);
    EXPECT_EQ(client.framesSeen.size(), 2u) << "an unplugged device renders nothing";
    EXPECT_EQ(system.removeDeviceAliveListener(interface, &AliveRecorder::listener, &recorder), kAudioOk);
    EXPECT_EQ(system.removeDeviceAliveListener(interface, &AliveRecorder::listener, &recorder),
              kAudioErrorBadArgument);
}

// Records what each capture cycle delivered.
struct CaptureRecorder {
    int cycles = 0;
    std::vector<uint32_t> channelsPerBuffer;
    std::vector<std::vector<float>> lastBuffers;

    static AudioStatus proc(AudioDeviceId, const AudioBlockBufferList& input, void* clientData)
    {
        auto* self = static_cast<CaptureRecorder*>(clientData);
        ++self->cycles;
        self->channelsPerBuffer.clear();
        self->lastBuffers.clear();
        for (uint32_t b = 0; b < input.bufferCount; ++b) {
            self->channelsPerBuffer.push_back(input.buffers[b].channelCount);
            self->lastBuffers.emplace_back(input.buffers[b].data,
                                           input.buffers[b].data + input.buffers[b].byteSize / sizeof(float));
        }
        return kAudioOk;
    }
};

TEST(VirtualAudioSystemTest, DirectCaptureDeliversOneInterleavedBufferPerStream)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription{});
    VirtualDeviceDescription recorderDevice = device("Recorder", {2, 3}, {});
    recorderDevice.bufferFrameSize = 4;
    const AudioDeviceId recorder = system.addDevice(recorderDevice);
    system.addDevice(device("Out", {}, {2}));
    for (uint32_t channel = 0; channel < 5; ++channel)
        system.feedInput(recorder, channel, std::vector<float>(4, static_cast<float>(channel + 1)));

    CaptureRecorder capture;
    AudioSystem::IOProcId id = 0;
    ASSERT_EQ(system.createIOProc(recorder, &CaptureRecorder::proc, &capture, id), kAudioOk);
    ASSERT_EQ(system.startIOProc(recorder, id), kAudioOk);
    system.renderBlocks(1, 4);
    ASSERT_EQ(capture.cycles, 1);
    EXPECT_EQ(capture.channelsPerBuffer, (std::vector<uint32_t>{2, 3}));
    EXPECT_EQ(capture.lastBuffers[0], (std::vector<float>{1, 2, 1, 2, 1, 2, 1, 2}));
    EXPECT_EQ(capture.lastBuffers[1], (std::vector<float>{3, 4, 5, 3, 4, 5, 3, 4, 5, 3, 4, 5}));
    EXPECT_EQ(system.stopIOProc(recorder, id), kAudioOk);
    system.renderBlocks(5, 4);
    EXPECT_EQ(capture.cycles, 1) << "a stopped IOProc is not called";
    EXPECT_EQ(system.destroyIOProc(recorder, id), kAudioOk);
}

TEST(VirtualAudioSystemTest, CaptureDriftChangesTheNumberOfCaptureCyclesPerOutputTime)
{
    const struct {
        double driftPpm;
        int expectedCycles;
    } cases[] = {{0.0, 1000}, {+10000.0, 1010}, {-10000.0, 990}};
    for (const auto& testCase : cases) {
        VirtualAudioSystem system(VirtualAudioSystem::Mode::Stepped, VirtualAudioDescription::builtInDefault());
        const AudioDeviceId recorder = system.findDevice("Virtual Recorder");
        system.setCaptureDriftPpm(recorder, testCase.driftPpm);
        CaptureRecorder capture;
        AudioSystem::IOProcId id = 0;
        system.createIOProc(recorder, &CaptureRecorder::proc, &capture, id);
        system.startIOProc(recorder, id);
        system.renderBlocks(1000, 256);
        EXPECT_NEAR(capture.cycles, testCase.expectedCycles, 1) << testCase.driftPpm;
        system.destroyIOProc(recorder, id);
    }
}

TEST(VirtualAudioSystemTest, RealTimeUnitRendersOnItsOwnThreadUntilStopped)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::RealTime, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId interface = system.findDevice("Virtual Interface");
    system.setFramesPerCallbackPattern({64, 0, 300});
    LoopbackClient client;
    const auto unit = startLoopback(system, interface, client);
    ASSERT_TRUE(system.waitForRenderCycles(6, 10s));
    EXPECT_FALSE(system.renderBlocks(1, 64)) << "stepping is for stepped mode only";
    ASSERT_EQ(unit->stop(), kAudioOk);
    const uint64_t cyclesAtStop = system.renderCycleCount();
    EXPECT_EQ(std::vector<uint32_t>(client.framesSeen.begin(), client.framesSeen.begin() + 3),
              (std::vector<uint32_t>{64, 0, 300}));
    EXPECT_EQ(client.framesSeen.size(), cyclesAtStop) << "no callback after stop returned";
}

TEST(VirtualAudioSystemTest, RealTimeCaptureRunsOnItsOwnThread)
{
    VirtualAudioSystem system(VirtualAudioSystem::Mode::RealTime, VirtualAudioDescription::builtInDefault());
    const AudioDeviceId recorder = system.findDevice("Virtual Recorder");
    std::atomic<int> cycles{0};
    const auto proc = [](AudioDeviceId, const AudioBlockBufferList&, void* clientData) -> AudioStatus {
        ++*static_cast<std::atomic<int>*>(clientData);
        return kAudioOk;
    };
    AudioSystem::IOProcId id = 0;
    ASSERT_EQ(system.createIOProc(recorder, proc, &cycles, id), kAudioOk);
    ASSERT_EQ(system.startIOProc(recorder, id), kAudioOk);
    while (cycles.load() < 3)
        std::this_thread::yield();
    EXPECT_EQ(system.destroyIOProc(recorder, id), kAudioOk) << "destroying a running IOProc stops it";
}

}  // namespace
