// The JACK back end against a real jackd (dummy back end, a server of the
// test's own): the device answers from the server, an output unit renders
// once per period between its ports and the server's, a direct capture
// delivers the capture ports, a killed server makes the device dead without
// a crash, an xrun counts as dropped frames, and after stop nothing is called.
#include "platform/audio/DefaultAudioSystem.h"
#include "platform/audio/JackAudioSystem.h"
#include "platform/audio/JackOutputUnit.h"
#include "platform/jack/JackTestClient.h"
#include "platform/jack/JackTestServer.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

namespace {

constexpr auto kWait = std::chrono::seconds(10);
constexpr AudioDeviceId kJack = JackAudioSystem::kDeviceId;
constexpr size_t kSignalFrames = 48000;

// A render callback that pulls the input and sends channel k's input to
// output k, counting its calls; it can be told to overrun one period.
struct LoopThrough {
    AudioOutputUnit* unit = nullptr;
    std::atomic<uint64_t> calls{0};
    std::atomic<int> stallMilliseconds{0};
    std::atomic<int64_t> lastSampleTime{-1};
    std::vector<std::vector<float>> inputStorage;
    std::vector<AudioBlockBuffer> inputBuffers;

    explicit LoopThrough(uint32_t inputs) : inputStorage(inputs, std::vector<float>(8192))
    {
        for (std::vector<float>& channel : inputStorage)
            inputBuffers.push_back(AudioBlockBuffer{1, static_cast<uint32_t>(channel.size() * sizeof(float)),
                                                    channel.data()});
    }

    static AudioStatus render(void* refcon, const AudioRenderTime& time, AudioUnitBus, uint32_t frames,
                              AudioBlockBufferList& outputs)
    {
        auto* self = static_cast<LoopThrough*>(refcon);
        AudioBlockBufferList inputs{static_cast<uint32_t>(self->inputBuffers.size()), self->inputBuffers.data()};
        const bool pulled = self->unit->renderInput(time, frames, inputs) == kAudioOk;
        for (uint32_t b = 0; b < outputs.bufferCount; ++b) {
            if (pulled && b < inputs.bufferCount)
                std::memcpy(outputs.buffers[b].data, inputs.buffers[b].data, frames * sizeof(float));
            else
                std::memset(outputs.buffers[b].data, 0, outputs.buffers[b].byteSize);
        }
        self->lastSampleTime.store(time.sampleTimeFrames);
        if (const int stall = self->stallMilliseconds.exchange(0))
            std::this_thread::sleep_for(std::chrono::milliseconds(stall));
        self->calls.fetch_add(1);
        return kAudioOk;
    }
};

// The recording starts with the silence before the connection was made; from
// its first sound on it must be known signal `channel`, at whatever delay,
// in order. A period the server skipped (an xrun, which a loaded machine
// without real-time scheduling may see) can leave a hole or a period out of
// order: at most `allowedOff` frames may be off the signal.
::testing::AssertionResult carriesKnownSignal(const std::vector<float>& recording, int channel, size_t allowedOff)
{
    size_t first = 0;
    while (first < recording.size() && recording[first] == 0.0f)
        ++first;
    if (first == recording.size())
        return ::testing::AssertionFailure() << "silence only (" << recording.size() << " frames)";
    uint64_t position = 0;
    while (position < kSignalFrames && knownSample(channel, position) != recording[first])
        ++position;
    if (position == kSignalFrames)
        return ::testing::AssertionFailure() << "first sound " << recording[first] << " is not from the signal";
    size_t matched = 0;
    size_t off = 0;
    for (size_t k = first; k < recording.size() && position < kSignalFrames; ++k) {
        if (recording[k] == knownSample(channel, position)) {
            ++matched;
            ++position;
            continue;
        }
        ++off;
        // Where the signal goes on after a hole, if it does.
        for (uint64_t ahead = position + 1; ahead < std::min<uint64_t>(position + 4096, kSignalFrames); ++ahead) {
            if (recording[k] == knownSample(channel, ahead)) {
                position = ahead + 1;
                break;
            }
        }
    }
    if (off > allowedOff)
        return ::testing::AssertionFailure() << off << " frames off the signal, " << matched << " in order";
    if (matched < 4096)
        return ::testing::AssertionFailure() << "only " << matched << " frames of the signal arrived";
    return ::testing::AssertionSuccess();
}

class JackAudioSystemTest : public TempHomeTest {
protected:
    void SetUp() override { SetUpServer(JackTestServer::Options{}); }

    void SetUpServer(const JackTestServer::Options& options)
    {
        server_ = std::make_unique<JackTestServer>(options);
        TONVALE_REQUIRE_JACKD(*server_);
        std::string error;
        system_ = JackAudioSystem::connect(server_->name(), error, jackTestClientName("tonvale"));
        ASSERT_TRUE(system_) << error << "\n" << server_->logTail();
    }

    // A unit bound to the JACK device with `inputs` and `outputs` channels,
    // looping its input through, started, and the tester playing signal k
    // into its input k and recording its outputs.
    // `listen` false where periods are made to overrun: at an xrun JACK
    // starts the next period while a late client still writes, so what a
    // listener reads then is not defined.
    void startLoopThrough(uint32_t inputs, uint32_t outputs, bool listen = true)
    {
        ASSERT_EQ(system_->createOutputUnit(unit_), kAudioOk);
        loop_ = std::make_unique<LoopThrough>(inputs);
        loop_->unit = unit_.get();
        ASSERT_EQ(unit_->setCurrentDevice(kJack), kAudioOk);
        ASSERT_EQ(unit_->enableIO(AudioUnitBus::Input, true), kAudioOk);
        ASSERT_EQ(unit_->setStreamFormat(AudioUnitBus::Input, AudioStreamFormat{48000.0, inputs, true, true}), kAudioOk);
        ASSERT_EQ(unit_->setStreamFormat(AudioUnitBus::Output, AudioStreamFormat{48000.0, outputs, true, true}),
                  kAudioOk);
        ASSERT_EQ(unit_->setRenderCallback(&LoopThrough::render, loop_.get()), kAudioOk);
        ASSERT_EQ(unit_->initialize(), kAudioOk);
        ASSERT_EQ(unit_->start(), kAudioOk);
        openTester(0, inputs);
        if (listen) {
            openListener(outputs);
        }
        auto* jackUnit = static_cast<JackOutputUnit*>(unit_.get());
        for (uint32_t k = 0; k < inputs && k < outputs; ++k) {
            ASSERT_TRUE(tester_.connect(tester_.outputPort(k), jackUnit->inputPortNames()[k]));
            if (listen) {
                ASSERT_TRUE(listener_.connect(jackUnit->outputPortNames()[k], listener_.inputPort(k)));
            }
        }
    }

    void openListener(uint32_t inputs)
    {
        std::string error;
        ASSERT_TRUE(listener_.open(server_->name(), {}, inputs, 2 * kSignalFrames, error, "listener")) << error;
    }

    void openTester(uint32_t inputs, uint32_t signalCount)
    {
        std::vector<std::vector<float>> played;
        for (uint32_t k = 0; k < signalCount; ++k)
            played.push_back(knownSignal(static_cast<int>(k), kSignalFrames));
        std::string error;
        ASSERT_TRUE(tester_.open(server_->name(), std::move(played), inputs, 2 * kSignalFrames, error)) << error;
    }

    bool logHasLine(const std::string& text) const { return home_.logText().find(text) != std::string::npos; }

    void TearDown() override
    {
        // The unit's cycle reads the loop: the unit goes first.
        unit_.reset();
        tester_.close();
        listener_.close();
    }

    std::unique_ptr<JackTestServer> server_;
    std::shared_ptr<JackAudioSystem> system_;
    std::unique_ptr<LoopThrough> loop_;
    std::unique_ptr<AudioOutputUnit> unit_;
    JackTestClient tester_;
    JackTestClient listener_;
};

TEST_F(JackAudioSystemTest, DeviceAnswersFromTheServer)
{
    std::vector<AudioDeviceId> devices;
    ASSERT_EQ(system_->getDeviceIds(devices), kAudioOk);
    ASSERT_EQ(devices, std::vector<AudioDeviceId>{kJack});
    std::string name;
    ASSERT_EQ(system_->getDeviceName(kJack, name), kAudioOk);
    EXPECT_EQ(name, "JACK (" + server_->name() + ")");
    AudioDeviceId byUid = kNoAudioDevice;
    system_->getDeviceForUid("jack:" + server_->name(), byUid);
    EXPECT_EQ(byUid, kJack);

    std::vector<uint32_t> inputs;
    std::vector<uint32_t> outputs;
    ASSERT_EQ(system_->getStreamConfiguration(kJack, AudioScope::Input, inputs), kAudioOk);
    ASSERT_EQ(system_->getStreamConfiguration(kJack, AudioScope::Output, outputs), kAudioOk);
    EXPECT_EQ(inputs, std::vector<uint32_t>(4, 1));
    EXPECT_EQ(outputs, std::vector<uint32_t>(2, 1));
    ASSERT_EQ(system_->getElementName(kJack, AudioScope::Input, 1, name), kAudioOk);
    EXPECT_EQ(name, "capture_1");
    ASSERT_EQ(system_->getElementName(kJack, AudioScope::Output, 2, name), kAudioOk);
    EXPECT_EQ(name, "playback_2");
    EXPECT_EQ(system_->getElementName(kJack, AudioScope::Input, 5, name), kAudioErrorUnknownProperty);
    EXPECT_EQ(system_->getDeviceName(kJack + 1, name), kAudioErrorUnknownDevice);

    double rate = 0.0;
    ASSERT_EQ(system_->getNominalSampleRate(kJack, rate), kAudioOk);
    EXPECT_EQ(rate, 48000.0);
    bool alive = false;
    ASSERT_EQ(system_->getDeviceIsAlive(kJack, alive), kAudioOk);
    EXPECT_TRUE(alive);
    AudioDeviceId defaultOutput = kNoAudioDevice;
    system_->getDefaultOutputDevice(defaultOutput);
    EXPECT_EQ(defaultOutput, kJack);
}

TEST_F(JackAudioSystemTest, BufferSizeSettlesOnThePowerOfTwoTheServerTakes)
{
    struct Case {
        uint32_t asked;
        uint32_t settled;
    };
    uint32_t frames = 0;
    ASSERT_EQ(system_->getBufferFrameSize(kJack, frames), kAudioOk);
    EXPECT_EQ(frames, 256u);
    for (const Case& c : {Case{100, 128}, Case{64, 64}, Case{1000, 1024}, Case{3, 16}, Case{256, 256}}) {
        ASSERT_EQ(system_->setBufferFrameSize(kJack, c.asked), kAudioOk);
        ASSERT_EQ(system_->getBufferFrameSize(kJack, frames), kAudioOk);
        EXPECT_EQ(frames, c.settled) << "asked " << c.asked;
    }
    EXPECT_EQ(system_->setBufferFrameSize(kJack, 0), kAudioErrorBadArgument);
}

TEST_F(JackAudioSystemTest, OutputUnitRendersOncePerPeriodBetweenItsPortsAndTheServers)
{
    startLoopThrough(4, 2);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(tester_.waitForCycles(60, kWait));
    const size_t allowedOff = 2 * 256 * system_->xrunCount();
    EXPECT_TRUE(carriesKnownSignal(listener_.recorded(0), 0, allowedOff));
    EXPECT_TRUE(carriesKnownSignal(listener_.recorded(1), 1, allowedOff));
    // The unit's own clock advances by one period per call.
    const uint64_t calls = loop_->calls.load();
    EXPECT_GT(calls, 0u);
    EXPECT_EQ(loop_->lastSampleTime.load() % 256, 0);
    uint32_t frames = 0;
    ASSERT_EQ(unit_->getBufferFrameSize(frames), kAudioOk);
    EXPECT_EQ(frames, 256u);
    // The unit connected itself to the server's physical ports, in order.
    auto* jackUnit = static_cast<JackOutputUnit*>(unit_.get());
    for (uint32_t k = 0; k < 4; ++k) {
        const std::vector<std::string> sources = tester_.connections(jackUnit->inputPortNames()[k]);
        EXPECT_NE(std::find(sources.begin(), sources.end(), "system:capture_" + std::to_string(k + 1)), sources.end())
            << jackUnit->inputPortNames()[k];
    }
    for (uint32_t k = 0; k < 2; ++k) {
        const std::vector<std::string> targets = tester_.connections(jackUnit->outputPortNames()[k]);
        EXPECT_NE(std::find(targets.begin(), targets.end(), "system:playback_" + std::to_string(k + 1)), targets.end())
            << jackUnit->outputPortNames()[k];
    }
}

TEST_F(JackAudioSystemTest, NothingIsCalledAfterStopAndARestartReconnects)
{
    startLoopThrough(2, 2);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(tester_.waitForCycles(10, kWait));
    ASSERT_EQ(unit_->stop(), kAudioOk);
    const uint64_t callsAtStop = loop_->calls.load();
    ASSERT_TRUE(tester_.waitForCycles(20, kWait));
    EXPECT_EQ(loop_->calls.load(), callsAtStop);

    ASSERT_EQ(unit_->start(), kAudioOk);
    auto* jackUnit = static_cast<JackOutputUnit*>(unit_.get());
    // Deactivating dropped every connection of the unit's ports.
    ASSERT_TRUE(tester_.connect(tester_.outputPort(0), jackUnit->inputPortNames()[0]));
    ASSERT_TRUE(tester_.waitForCycles(20, kWait));
    EXPECT_GT(loop_->calls.load(), callsAtStop);
    EXPECT_EQ(unit_->uninitialize(), kAudioErrorInvalidState) << "a started unit is not torn down";
    unit_.reset();  // stops and closes
}

TEST_F(JackAudioSystemTest, KilledServerMakesTheDeviceDeadAndCallsTheListener)
{
    startLoopThrough(2, 2);
    ASSERT_FALSE(HasFatalFailure());
    struct Listener {
        std::mutex mutex;
        std::condition_variable called;
        int calls = 0;
        static AudioStatus onAlive(AudioDeviceId, void* data)
        {
            auto* self = static_cast<Listener*>(data);
            std::lock_guard<std::mutex> lock(self->mutex);
            ++self->calls;
            self->called.notify_all();
            return kAudioOk;
        }
    } listener;
    ASSERT_EQ(system_->addDeviceAliveListener(kJack, &Listener::onAlive, &listener), kAudioOk);
    ASSERT_TRUE(tester_.waitForCycles(10, kWait));

    server_->kill();
    {
        std::unique_lock<std::mutex> lock(listener.mutex);
        ASSERT_TRUE(listener.called.wait_for(lock, kWait, [&] { return listener.calls > 0; }));
    }
    bool alive = true;
    ASSERT_EQ(system_->getDeviceIsAlive(kJack, alive), kAudioOk);
    EXPECT_FALSE(alive);
    std::vector<AudioDeviceId> devices;
    system_->getDeviceIds(devices);
    EXPECT_TRUE(devices.empty());
    std::string name;
    EXPECT_EQ(system_->getDeviceName(kJack, name), kAudioOk) << "the dead device keeps its name for the log";
    EXPECT_TRUE(logHasLine("JACK: Server '" + server_->name() + "' shut down"));

    // Teardown of everything on a dead server: no crash, no call after stop.
    ASSERT_EQ(unit_->stop(), kAudioOk);
    const uint64_t callsAtStop = loop_->calls.load();
    EXPECT_EQ(unit_->uninitialize(), kAudioOk);
    EXPECT_EQ(system_->setBufferFrameSize(kJack, 128), kAudioErrorDeviceGone);
    std::unique_ptr<AudioOutputUnit> another;
    ASSERT_EQ(system_->createOutputUnit(another), kAudioOk);
    ASSERT_EQ(another->setCurrentDevice(kJack), kAudioOk);
    EXPECT_EQ(another->initialize(), kAudioErrorDeviceGone);
    ASSERT_EQ(system_->removeDeviceAliveListener(kJack, &Listener::onAlive, &listener), kAudioOk);
    unit_.reset();
    EXPECT_EQ(loop_->calls.load(), callsAtStop);
    tester_.close();
    system_.reset();
}

TEST_F(JackAudioSystemTest, XrunCountsTheFramesItDelayedWhileRendering)
{
    // Not rendering: an xrun of somebody else's is not ours to count.
    openTester(0, 0);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(tester_.waitForCycles(5, kWait));
    tester_.stallNextCycle(40);
    ASSERT_TRUE(tester_.waitForCycles(10, kWait));
    EXPECT_EQ(system_->getDroppedFrameCount(), 0);
    tester_.close();

    startLoopThrough(2, 2, false);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(tester_.waitForCycles(5, kWait));
    const uint64_t xrunsBefore = system_->xrunCount();
    loop_->stallMilliseconds.store(40);
    ASSERT_TRUE(tester_.waitForCycles(20, kWait));
    EXPECT_GT(system_->xrunCount(), xrunsBefore);
    EXPECT_GE(system_->getDroppedFrameCount(), 256) << "at least a period per xrun";
}

class JackAudioSystemAt44100Test : public JackAudioSystemTest {
protected:
    void SetUp() override { SetUpServer(JackTestServer::Options{44100, 256, 2, 2}); }
};

TEST_F(JackAudioSystemAt44100Test, UnitRefusesAServerAtAnotherRate)
{
    double rate = 0.0;
    ASSERT_EQ(system_->getNominalSampleRate(kJack, rate), kAudioOk);
    EXPECT_EQ(rate, 44100.0);
    ASSERT_EQ(system_->createOutputUnit(unit_), kAudioOk);
    ASSERT_EQ(unit_->setCurrentDevice(kJack), kAudioOk);
    ASSERT_EQ(unit_->setStreamFormat(AudioUnitBus::Output, AudioStreamFormat{48000.0, 2, true, true}), kAudioOk);
    EXPECT_EQ(unit_->initialize(), kAudioErrorUnsupportedRate);
    EXPECT_TRUE(logHasLine("refused: the server runs at 44100 Hz, the engine records at 48000 Hz"));
    EXPECT_EQ(unit_->start(), kAudioErrorInvalidState);
}

class JackInputOnlyTest : public JackAudioSystemTest {
protected:
    void SetUp() override { SetUpServer(JackTestServer::Options{48000, 256, 2, 0}); }
};

struct Capture {
    std::atomic<uint64_t> calls{0};
    std::atomic<uint32_t> buffers{0};
    std::atomic<uint32_t> bytes{0};
    std::atomic<int> badChannelCount{0};
    static AudioStatus proc(AudioDeviceId, const AudioBlockBufferList& input, void* data)
    {
        auto* self = static_cast<Capture*>(data);
        self->buffers.store(input.bufferCount);
        self->bytes.store(input.bufferCount > 0 ? input.buffers[0].byteSize : 0);
        for (uint32_t b = 0; b < input.bufferCount; ++b)
            self->badChannelCount.fetch_add(input.buffers[b].channelCount != 1 ? 1 : 0);
        self->calls.fetch_add(1);
        return kAudioOk;
    }
};

TEST_F(JackInputOnlyTest, DirectCaptureDeliversEveryCapturePortPerPeriod)
{
    std::vector<uint32_t> outputs;
    ASSERT_EQ(system_->getStreamConfiguration(kJack, AudioScope::Output, outputs), kAudioOk);
    EXPECT_TRUE(outputs.empty());
    AudioDeviceId defaultOutput = 1;
    system_->getDefaultOutputDevice(defaultOutput);
    EXPECT_EQ(defaultOutput, kNoAudioDevice) << "no playback ports, no output device";
    std::unique_ptr<AudioOutputUnit> unit;
    ASSERT_EQ(system_->createOutputUnit(unit), kAudioOk);
    ASSERT_EQ(unit->setCurrentDevice(kJack), kAudioOk);
    EXPECT_EQ(unit->initialize(), kAudioErrorBadArgument) << "an output unit needs playback ports";

    Capture capture;
    AudioSystem::IOProcId id = 0;
    ASSERT_EQ(system_->createIOProc(kJack, &Capture::proc, &capture, id), kAudioOk);
    ASSERT_EQ(system_->startIOProc(kJack, id), kAudioOk);
    openTester(0, 0);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(tester_.waitForCycles(20, kWait));
    EXPECT_GT(capture.calls.load(), 0u);
    EXPECT_EQ(capture.buffers.load(), 2u);
    EXPECT_EQ(capture.bytes.load(), 256u * sizeof(float));
    EXPECT_EQ(capture.badChannelCount.load(), 0);
    ASSERT_EQ(system_->stopIOProc(kJack, id), kAudioOk);
    const uint64_t callsAtStop = capture.calls.load();
    ASSERT_TRUE(tester_.waitForCycles(20, kWait));
    EXPECT_EQ(capture.calls.load(), callsAtStop);
    EXPECT_EQ(system_->destroyIOProc(kJack, id), kAudioOk);
    EXPECT_EQ(system_->startIOProc(kJack, id), kAudioErrorBadArgument);
}

TEST_F(JackInputOnlyTest, KilledServerUnderADirectCaptureStopsItCleanly)
{
    Capture capture;
    AudioSystem::IOProcId id = 0;
    ASSERT_EQ(system_->createIOProc(kJack, &Capture::proc, &capture, id), kAudioOk);
    ASSERT_EQ(system_->startIOProc(kJack, id), kAudioOk);
    openTester(0, 0);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(tester_.waitForCycles(10, kWait));
    server_->kill();
    ASSERT_EQ(system_->stopIOProc(kJack, id), kAudioOk);
    const uint64_t callsAtStop = capture.calls.load();
    // The server's death reaches the client on JACK's own thread, a moment
    // after the process is gone: a restart is refused once it has.
    bool alive = true;
    const auto deadline = std::chrono::steady_clock::now() + kWait;
    while (alive && std::chrono::steady_clock::now() < deadline) {
        ASSERT_EQ(system_->getDeviceIsAlive(kJack, alive), kAudioOk);
        std::this_thread::yield();
    }
    ASSERT_FALSE(alive);
    EXPECT_EQ(system_->startIOProc(kJack, id), kAudioErrorDeviceGone);
    EXPECT_EQ(system_->destroyIOProc(kJack, id), kAudioOk);
    tester_.close();
    system_.reset();
    EXPECT_EQ(capture.calls.load(), callsAtStop);
}

// --- Without a server of the test's own -----------------------------------

class NoJackServerTest : public TempHomeTest {};

TEST_F(NoJackServerTest, ConnectAnswersWhyAndTheDefaultSystemIsTheVirtualOne)
{
    const std::string absent = "tonvale-test-absent-" + std::to_string(::getpid());
    std::string error;
    EXPECT_FALSE(JackAudioSystem::connect(absent, error));
    EXPECT_EQ(error, "no server named '" + absent + "' is running");

    ::setenv("JACK_DEFAULT_SERVER", absent.c_str(), 1);
    std::shared_ptr<AudioSystem> system = createDefaultAudioSystem();
    ::unsetenv("JACK_DEFAULT_SERVER");
    std::vector<AudioDeviceId> devices;
    ASSERT_EQ(system->getDeviceIds(devices), kAudioOk);
    ASSERT_FALSE(devices.empty());
    for (const AudioDeviceId device : devices)
        EXPECT_NE(device, kJack);
    const std::string log = home_.logText();
    const std::string line = "JACK: No JACK server found (no server named '" + absent + "' is running)";
    const size_t at = log.find(line);
    EXPECT_NE(at, std::string::npos) << log;
    EXPECT_EQ(log.find(line, at + 1), std::string::npos) << "one line, once";
    EXPECT_EQ(log.find("JACK: library"), std::string::npos) << "the library's own complaints stay quiet";
}

TEST_F(JackAudioSystemTest, DefaultSystemOffersTheVirtualDevicesAndTheServer)
{
    ::setenv("JACK_DEFAULT_SERVER", server_->name().c_str(), 1);
    std::shared_ptr<AudioSystem> system = createDefaultAudioSystem();
    ::unsetenv("JACK_DEFAULT_SERVER");
    std::vector<AudioDeviceId> devices;
    ASSERT_EQ(system->getDeviceIds(devices), kAudioOk);
    ASSERT_GE(devices.size(), 2u);
    EXPECT_EQ(devices.back(), kJack);
    std::string name;
    ASSERT_EQ(system->getDeviceName(devices.front(), name), kAudioOk);
    EXPECT_EQ(name, "Virtual Interface");
    ASSERT_EQ(system->getDeviceName(kJack, name), kAudioOk);
    EXPECT_EQ(name, "JACK (" + server_->name() + ")");
    AudioDeviceId defaultOutput = kNoAudioDevice;
    system->getDefaultOutputDevice(defaultOutput);
    EXPECT_EQ(defaultOutput, kJack) << "the server's playback reaches the speakers";
    EXPECT_TRUE(logHasLine("JACK: Server '" + server_->name() + "' found: JACK (" + server_->name()
                           + ") at 48000 Hz, 256 frames"));

    // A unit of the combined system renders on whichever device it is given.
    std::unique_ptr<AudioOutputUnit> unit;
    ASSERT_EQ(system->createOutputUnit(unit), kAudioOk);
    LoopThrough loop(2);
    loop.unit = unit.get();
    ASSERT_EQ(unit->setRenderCallback(&LoopThrough::render, &loop), kAudioOk);
    ASSERT_EQ(unit->setCurrentDevice(devices.front()), kAudioOk);
    ASSERT_EQ(unit->setCurrentDevice(kJack), kAudioOk);
    ASSERT_EQ(unit->initialize(), kAudioOk);
    ASSERT_EQ(unit->start(), kAudioOk);
    openTester(0, 0);
    ASSERT_FALSE(HasFatalFailure());
    ASSERT_TRUE(tester_.waitForCycles(10, kWait));
    EXPECT_GT(loop.calls.load(), 0u);
    ASSERT_EQ(unit->stop(), kAudioOk);
}

}  // namespace
