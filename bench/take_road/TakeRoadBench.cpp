// Records a 33-channel take (mix and 32 tracks) from a stepped virtual
// device as fast as the ring writer drains it: the device renders whenever
// the writer is less than half a ring behind, with no real-time pacing.
// Prints frames written per second against the real-time rate, the writer's
// largest lag behind the ring and the time from stop to Idle, for both
// layouts.
#include "core/ConfigManager.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "platform/audio/VirtualAudioSystem.h"
#include "support/BenchHome.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

namespace {

constexpr int kTracks = 32;
constexpr int kRate = 48000;
constexpr uint32_t kBlockFrames = 256;
constexpr int kBlocksPerStep = 16;
constexpr int kTakeSeconds = 60;

using Clock = std::chrono::steady_clock;

class BenchEngine : public AudioEngine_CoreAudio {
public:
    using AudioEngine_CoreAudio::AudioEngine_CoreAudio;
    void holdWriter(bool held) { takeRecorder_.holdRingWriterForTest(held); }
};

struct Figures {
    double framesPerSecond = 0.0;
    double renderSeconds = 0.0;
    uint64_t largestLagFrames = 0;
    double stopToIdleMs = 0.0;
    uint64_t takeFrames = 0;
    double drainFramesPerSecond = 0.0; // a held writer draining half a ring
};

std::shared_ptr<VirtualAudioSystem> makeSystem()
{
    VirtualAudioDescription description;
    VirtualDeviceDescription device;
    device.name = "Bench Interface";
    device.uid = "bench";
    device.inputStreams = {kTracks};
    device.outputStreams = {2};
    description.devices = {device};
    return std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::Stepped, description);
}

bool setUpEngine(BenchEngine& engine, int fileFormat)
{
    engine.initialize();
    if (!engine.selectDevice("Bench Interface"))
        return false;
    engine.stop();
    engine.setInputRouting(engine.getAvailableInputChannels());
    engine.start();
    engine.setMediaFormat(fileFormat, 24);
    for (int t = 0; t < kTracks; ++t)
        engine.setTrackArmed(t, true);
    return true;
}

// The writer held while half a ring is rendered, then timed from its
// release to Idle: its own drain rate, with no rendering competing.
bool runDrain(int fileFormat, Figures& figures)
{
    auto system = makeSystem();
    BenchEngine engine(system, AudioEngine_CoreAudio::kRecordingRingSeconds);
    if (!setUpEngine(engine, fileFormat))
        return false;
    engine.holdWriter(true);
    if (!engine.startRecording())
        return false;
    const int blocks = kTakeSeconds / 2 * kRate / static_cast<int>(kBlockFrames);
    system->renderBlocks(blocks, kBlockFrames);
    engine.stopRecording();
    const Clock::time_point release = Clock::now();
    engine.holdWriter(false);
    if (!engine.waitForWriterIdle(std::chrono::seconds(120)))
        return false;
    const double seconds = std::chrono::duration<double>(Clock::now() - release).count();
    figures.drainFramesPerSecond = static_cast<double>(blocks) * kBlockFrames / seconds;
    engine.shutdown();
    return true;
}

bool runTake(int fileFormat, const std::string& saveLocation, Figures& figures)
{
    ConfigManager::getInstance()->setString("media.saveLocation", saveLocation);
    auto system = makeSystem();
    BenchEngine engine(system, AudioEngine_CoreAudio::kRecordingRingSeconds);
    if (!setUpEngine(engine, fileFormat))
        return false;
    const uint64_t capacity = static_cast<uint64_t>(engine.getRecordingRingCapacityFrames());

    const Clock::time_point start = Clock::now();
    if (!engine.startRecording())
        return false;
    const uint64_t first = static_cast<uint64_t>(engine.getRecordingRingWritePosition());
    const uint64_t target = first + static_cast<uint64_t>(kTakeSeconds) * kRate;
    Clock::duration rendering{};
    while (static_cast<uint64_t>(engine.getRecordingRingWritePosition()) < target) {
        const uint64_t lag = static_cast<uint64_t>(engine.getRecordingRingWritePosition()) - engine.getRingWriterReadPosition();
        if (lag > capacity / 2) {
            std::this_thread::yield();
            continue;
        }
        const Clock::time_point before = Clock::now();
        system->renderBlocks(kBlocksPerStep, kBlockFrames);
        rendering += Clock::now() - before;
    }
    const Clock::time_point stop = Clock::now();
    engine.stopRecording();
    if (!engine.waitForWriterIdle(std::chrono::seconds(120)))
        return false;
    const Clock::time_point idle = Clock::now();
    figures.takeFrames = static_cast<uint64_t>(engine.getRecordingRingWritePosition()) - first;
    figures.framesPerSecond = static_cast<double>(figures.takeFrames) / std::chrono::duration<double>(idle - start).count();
    figures.renderSeconds = std::chrono::duration<double>(rendering).count();
    figures.largestLagFrames = engine.getRingWriterLargestLagFrames();
    figures.stopToIdleMs = std::chrono::duration<double, std::milli>(idle - stop).count();
    engine.shutdown();
    return true;
}

}  // namespace

int main()
{
    const BenchHome home;
    if (!home.isValid())
        return 1;

    std::printf("ring writer: %d s take of %d tracks + mix at %d Hz, 24-bit, stepped device (no pacing)\n",
                kTakeSeconds, kTracks, kRate);
    std::printf("live: the device renders whenever the writer is less than half a ring behind\n");
    std::printf("drain: the writer held while 30 s are rendered, then timed from release to Idle\n");
    std::printf("%-12s %14s %12s %14s %16s %14s %16s %12s\n", "layout", "live frames/s", "x real time",
                "render CPU s", "largest lag", "stop->Idle ms", "drain frames/s", "x real time");
    const struct {
        const char* name;
        int fileFormat;
    } layouts[] = {{"polyphonic", 0}, {"mono x33", 1}};
    for (const auto& layout : layouts) {
        Figures f;
        const std::string folder = home.path() + "/rec-" + std::to_string(layout.fileFormat);
        if (!runTake(layout.fileFormat, folder, f) || !runDrain(layout.fileFormat, f)) {
            std::fprintf(stderr, "take failed (%s)\n", layout.name);
            return 1;
        }
        std::printf("%-12s %14.0f %12.1f %14.2f %10llu frames %14.1f %16.0f %12.1f\n", layout.name,
                    f.framesPerSecond, f.framesPerSecond / kRate, f.renderSeconds,
                    static_cast<unsigned long long>(f.largestLagFrames), f.stopToIdleMs, f.drainFramesPerSecond,
                    f.drainFramesPerSecond / kRate);
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
    return 0;
}
