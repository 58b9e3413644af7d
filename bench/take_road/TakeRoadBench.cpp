// Records a 33-channel take (mix and 32 tracks) from a stepped virtual
// device as fast as the ring writer drains it: the device renders whenever
// the writer is less than half a ring behind, with no real-time pacing.
// Prints frames written per second against the real-time rate, the writer's
// largest lag behind the ring and the time from stop to Idle, for both
// layouts. Then a real-time take (TONVALE_BENCH_LIVE_SECONDS, default 60)
// with 0, 1 and 8 live backup drives (folders): the primary writer's largest
// lag, dropped samples and stop-to-Idle time against the run without drives.
#include "core/ConfigManager.h"
#include "engine/AudioEngine_CoreAudio.h"
#include "platform/audio/VirtualAudioSystem.h"
#include "support/BenchHome.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

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

std::shared_ptr<VirtualAudioSystem> makeSystem(VirtualAudioSystem::Mode mode = VirtualAudioSystem::Mode::Stepped)
{
    VirtualAudioDescription description;
    VirtualDeviceDescription device;
    device.name = "Bench Interface";
    device.uid = "bench";
    device.inputStreams = {kTracks};
    device.outputStreams = {2};
    description.devices = {device};
    return std::make_shared<VirtualAudioSystem>(mode, description);
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

struct LiveFigures {
    uint64_t largestLagFrames = 0;
    int64_t droppedSamples = 0;
    int64_t writeErrors = 0;
    double stopToIdleMs = 0.0;
    int verified = 0;
};

// A polyphonic take in real time with `drives` live backup drives, half of
// them mono; the verdicts are awaited after Idle (they do not hold it up).
bool runLiveTake(int drives, int seconds, const std::string& folder, LiveFigures& figures)
{
    ConfigManager::getInstance()->setString("media.saveLocation", folder + "/primary");
    auto system = makeSystem(VirtualAudioSystem::Mode::RealTime);
    BenchEngine engine(system, AudioEngine_CoreAudio::kRecordingRingSeconds);
    if (!setUpEngine(engine, 0))
        return false;
    std::vector<AudioEngineBase::BackupPathInfo> paths;
    for (int d = 0; d < drives; ++d) {
        const std::string root = folder + "/drive" + std::to_string(d);
        std::filesystem::create_directories(root);
        paths.push_back({root, d % 2});
    }
    engine.setBackupMediaPathsWithFormats(drives > 0, paths);
    engine.setLiveBackupActiveTake(drives > 0);
    if (!engine.startRecording())
        return false;
    const auto controls = engine.takeRecorder().liveTakeControls();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const Clock::time_point stop = Clock::now();
    engine.stopRecording();
    if (!engine.waitForWriterIdle(std::chrono::seconds(120)))
        return false;
    figures.stopToIdleMs = std::chrono::duration<double, std::milli>(Clock::now() - stop).count();
    figures.largestLagFrames = engine.getRingWriterLargestLagFrames();
    figures.droppedSamples = engine.getDroppedSamples();
    figures.writeErrors = engine.getWriteErrors();
    for (const auto& control : controls) {
        while (control && control->status.load() == LiveBackupWorker::Pending)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        figures.verified += control && control->status.load() == LiveBackupWorker::Verified ? 1 : 0;
    }
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

    const char* secondsText = std::getenv("TONVALE_BENCH_LIVE_SECONDS");
    const int liveSeconds = secondsText ? std::max(1, std::atoi(secondsText)) : kTakeSeconds;
    std::printf("\nlive backup: %d s polyphonic take in real time, 33 channels, drives are folders (half mono)\n",
                liveSeconds);
    std::printf("%-8s %16s %12s %10s %12s %14s %12s %10s\n", "drives", "largest lag", "x no drives", "dropped",
                "write errors", "stop->Idle ms", "x no drives", "verified");
    LiveFigures baseline;
    for (const int drives : {0, 1, 8}) {
        LiveFigures f;
        const std::string folder = home.path() + "/live-" + std::to_string(drives);
        if (!runLiveTake(drives, liveSeconds, folder, f)) {
            std::fprintf(stderr, "live take failed (%d drives)\n", drives);
            return 1;
        }
        if (drives == 0)
            baseline = f;
        std::printf("%-8d %10llu frames %12.2f %10lld %12lld %14.1f %12.2f %7d/%d\n", drives,
                    static_cast<unsigned long long>(f.largestLagFrames),
                    static_cast<double>(f.largestLagFrames) / static_cast<double>(std::max<uint64_t>(baseline.largestLagFrames, 1)),
                    static_cast<long long>(f.droppedSamples), static_cast<long long>(f.writeErrors), f.stopToIdleMs,
                    f.stopToIdleMs / std::max(baseline.stopToIdleMs, 0.001), f.verified, drives);
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
    return 0;
}
