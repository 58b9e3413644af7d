// The render callback with 32 tracks, every strip stage on and the automixer
// on, timed block by block at 64, 256 and 4096 frames. The callback is called
// directly (as the output unit would) with input supplied by a thin unit
// wrapper, so only the engine's work is timed. Then the callback at 256
// frames and a fixed arithmetic loop take turns, each timed in wall and CPU
// time under the same names, so what the machine adds to any work can be
// told from what the callback itself costs.
#include "engine/AudioEngine_CoreAudio.h"
#include "platform/audio/VirtualAudioSystem.h"
#include "support/BenchHome.h"
#include "support/BenchSpread.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr int kTracks = 32;
constexpr int kChannels = 32;
constexpr double kRate = 48000.0;

// Forwards to the virtual unit but keeps the render callback for the bench
// and answers renderInput with the bench's own signals.
class BenchUnit : public AudioOutputUnit {
public:
    BenchUnit(std::unique_ptr<AudioOutputUnit> inner, const std::vector<std::vector<float>>* signals)
        : inner_(std::move(inner)), signals_(signals)
    {
    }
    AudioStatus setCurrentDevice(AudioDeviceId device) override { return inner_->setCurrentDevice(device); }
    AudioStatus enableIO(AudioUnitBus bus, bool enabled) override { return inner_->enableIO(bus, enabled); }
    AudioStatus setStreamFormat(AudioUnitBus bus, const AudioStreamFormat& format) override
    {
        return inner_->setStreamFormat(bus, format);
    }
    AudioStatus setRenderCallback(RenderCallback callback, void* refcon) override
    {
        callback_ = callback;
        refcon_ = refcon;
        return inner_->setRenderCallback(callback, refcon);
    }
    AudioStatus getBufferFrameSize(uint32_t& frames) override { return inner_->getBufferFrameSize(frames); }
    AudioStatus initialize() override { return inner_->initialize(); }
    AudioStatus uninitialize() override { return inner_->uninitialize(); }
    AudioStatus start() override { return inner_->start(); }
    AudioStatus stop() override { return inner_->stop(); }
    AudioStatus renderInput(const AudioRenderTime& time, uint32_t frames, AudioBlockBufferList& inputs) override
    {
        const size_t offset = static_cast<size_t>(time.sampleTimeFrames) % (*signals_)[0].size();
        for (uint32_t c = 0; c < inputs.bufferCount; ++c) {
            const std::vector<float>& signal = (*signals_)[c % signals_->size()];
            const size_t first = std::min<size_t>(frames, signal.size() - offset);
            std::copy_n(signal.data() + offset, first, inputs.buffers[c].data);
            std::copy_n(signal.data(), frames - first, inputs.buffers[c].data + first);
        }
        return kAudioOk;
    }

    RenderCallback callback_ = nullptr;
    void* refcon_ = nullptr;

private:
    std::unique_ptr<AudioOutputUnit> inner_;
    const std::vector<std::vector<float>>* signals_;
};

class BenchSystem : public VirtualAudioSystem {
public:
    BenchSystem(const VirtualAudioDescription& description, const std::vector<std::vector<float>>* signals)
        : VirtualAudioSystem(Mode::Stepped, description), signals_(signals)
    {
    }
    AudioStatus createOutputUnit(std::unique_ptr<AudioOutputUnit>& unit) override
    {
        std::unique_ptr<AudioOutputUnit> inner;
        const AudioStatus status = VirtualAudioSystem::createOutputUnit(inner);
        if (status != kAudioOk)
            return status;
        auto wrapped = std::make_unique<BenchUnit>(std::move(inner), signals_);
        lastUnit = wrapped.get();
        unit = std::move(wrapped);
        return kAudioOk;
    }
    BenchUnit* lastUnit = nullptr;

private:
    const std::vector<std::vector<float>>* signals_;
};

class BenchEngine : public AudioEngine_CoreAudio {
public:
    using AudioEngine_CoreAudio::AudioEngine_CoreAudio;
    void arm(int track) { trackArmed_[static_cast<size_t>(track)].store(true); }
};

// Speech-like material: tones at different levels with some noise, so the
// limiter and the automixer have work to do.
std::vector<std::vector<float>> makeSignals()
{
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.02f);
    std::vector<std::vector<float>> signals(kChannels, std::vector<float>(48000));
    for (int c = 0; c < kChannels; ++c) {
        const double hz = 110.0 * (1 + c % 11);
        const double level = 0.05 + 0.9 * ((c * 37) % 32) / 32.0;
        for (size_t i = 0; i < signals[c].size(); ++i)
            signals[c][i] = static_cast<float>(level * std::sin(2 * std::numbers::pi * hz * i / kRate)) + noise(random);
    }
    return signals;
}

double threadCpuSeconds()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

void configureEveryStage(BenchEngine& engine, const std::vector<std::string>& inputs,
                         const std::vector<std::string>& outputs)
{
    std::vector<std::string> ports(kTracks);
    std::vector<std::vector<std::string>> direct(kTracks);
    for (int t = 0; t < kTracks; ++t) {
        ports[t] = inputs[static_cast<size_t>(t) % inputs.size()];
        direct[t] = {outputs[static_cast<size_t>(t) % outputs.size()]};
    }
    engine.stop();
    engine.setInputRouting(ports);
    engine.applyOutputRouting(direct, std::vector<std::map<std::string, bool>>(kTracks), outputs, {},
                              {outputs[0], outputs[1]}, {}, {});
    engine.start();
    AutomixEngine* automix = engine.getAutomixEngine();
    automix->setGlobalEnabled(true);
    for (int t = 0; t < kTracks; ++t) {
        engine.setTrackDigitalGain(t, 3.0f);
        engine.setTrackHPFFrequency(t, 100.0f);
        engine.setTrackHPFEnabled(t, true);
        engine.setTrackEQBand(t, 0, 120.0f, 3.0f, 0.8f);
        engine.setTrackEQBand(t, 1, 1500.0f, -4.0f, 1.5f);
        engine.setTrackEQBand(t, 2, 6000.0f, 2.0f, 0.7f);
        engine.setTrackEQEnabled(t, true);
        engine.setTrackLimiterThreshold(t, -9.0f);
        engine.setTrackLimiterEnabled(t, true);
        engine.setTrackGain(t, 0.9f);
        automix->setTrackGroup(t, 1 + t % 4);
        engine.arm(t);
    }
}

// Wall time per block includes any preemption by other processes on a busy
// machine; the block's own CPU time shows what the callback itself costs.
// On a virtual machine even that CPU time includes the host stopping the
// virtual CPU, so the 99.9th percentile and the count of blocks over 10 % of
// their period are printed beside the single worst block.
struct Result {
    double medianFraction;
    double worstFraction;
    double worstCpuFraction;
    double p999CpuFraction;
    int blocksOverTenPercent;
    double realTimeFactor;
};

// Calls the engine's render callback block after block, as the output unit
// would, into output buffers of its own.
class BlockRenderer {
public:
    BlockRenderer(BenchUnit& unit, uint32_t frames)
        : unit_(unit), frames_(frames), storage_(kChannels, std::vector<float>(frames))
    {
        for (auto& channel : storage_)
            buffers_.push_back(AudioBlockBuffer{1, static_cast<uint32_t>(frames * sizeof(float)), channel.data()});
        outputs_ = AudioBlockBufferList{static_cast<uint32_t>(buffers_.size()), buffers_.data()};
        // Warm the caches and let every stage settle before timing.
        for (int i = 0; i < 50; ++i)
            renderOne();
    }

    void renderOne()
    {
        const AudioRenderTime time{sampleTime_};
        unit_.callback_(unit_.refcon_, time, AudioUnitBus::Output, frames_, outputs_);
        sampleTime_ += frames_;
    }

private:
    BenchUnit& unit_;
    uint32_t frames_;
    std::vector<std::vector<float>> storage_;
    std::vector<AudioBlockBuffer> buffers_;
    AudioBlockBufferList outputs_{};
    int64_t sampleTime_ = 0;
};

Result measure(BenchUnit& unit, uint32_t frames, int blocks)
{
    BlockRenderer renderer(unit, frames);
    const auto renderOne = [&] { renderer.renderOne(); };

    std::vector<double> seconds(static_cast<size_t>(blocks));
    std::vector<double> cpuSecondsPerBlock(static_cast<size_t>(blocks));
    const double cpuStart = threadCpuSeconds();
    for (int b = 0; b < blocks; ++b) {
        const double blockCpuStart = threadCpuSeconds();
        const auto start = std::chrono::steady_clock::now();
        renderOne();
        seconds[static_cast<size_t>(b)] =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        cpuSecondsPerBlock[static_cast<size_t>(b)] = threadCpuSeconds() - blockCpuStart;
    }
    const double cpuSeconds = threadCpuSeconds() - cpuStart;
    const double period = frames / kRate;
    std::sort(seconds.begin(), seconds.end());
    std::sort(cpuSecondsPerBlock.begin(), cpuSecondsPerBlock.end());
    const auto overTenPercent = std::count_if(cpuSecondsPerBlock.begin(), cpuSecondsPerBlock.end(),
                                              [&](double s) { return s > 0.1 * period; });
    return Result{seconds[seconds.size() / 2] / period,
                  seconds.back() / period,
                  cpuSecondsPerBlock.back() / period,
                  cpuSecondsPerBlock[cpuSecondsPerBlock.size() * 999 / 1000] / period,
                  static_cast<int>(overTenPercent),
                  blocks * period / cpuSeconds};
}

// What the machine itself adds to any block: a fixed arithmetic loop of
// about 50 us that touches no memory, so its times vary only with what the
// machine does to this thread. On a virtual machine the host's stops show up
// here as rounds far above the median.
void fixedLoop()
{
    volatile double x = 1.0;
    for (int i = 0; i < 15000; ++i)
        x = x * 1.0000001 + 1e-9;
}

// One side's times per block (or loop round), in seconds.
struct SideTimes {
    std::vector<double> wallSeconds;
    std::vector<double> cpuSeconds;
};

// One clock's figures for one side; every side and clock gets the same three.
struct ClockFigures {
    double median = 0.0;
    double p999 = 0.0;
    double worst = 0.0;
};

ClockFigures figuresOf(std::vector<double> seconds)
{
    std::sort(seconds.begin(), seconds.end());
    return ClockFigures{spreadOf(seconds).median, seconds[seconds.size() * 999 / 1000], seconds.back()};
}

template <typename Work>
void timeOnce(SideTimes& side, size_t index, Work work)
{
    const double cpuStart = threadCpuSeconds();
    const auto wallStart = std::chrono::steady_clock::now();
    work();
    side.wallSeconds[index] = std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart).count();
    side.cpuSeconds[index] = threadCpuSeconds() - cpuStart;
}

struct TurnTaking {
    SideTimes callback;
    SideTimes loop;
};

// Callback block, loop round, callback block, ...: both sides meet the
// machine's preemptions and host stops at nearly the same moments.
TurnTaking measureTakingTurns(BenchUnit& unit, uint32_t frames, int rounds)
{
    BlockRenderer renderer(unit, frames);
    const size_t count = static_cast<size_t>(rounds);
    TurnTaking result{{std::vector<double>(count), std::vector<double>(count)},
                      {std::vector<double>(count), std::vector<double>(count)}};
    for (size_t i = 0; i < count; ++i) {
        timeOnce(result.callback, i, [&] { renderer.renderOne(); });
        timeOnce(result.loop, i, fixedLoop);
    }
    return result;
}

std::string microseconds(double seconds)
{
    return fixedText(1e6 * seconds, 1);
}

void printSideRow(const char* name, const ClockFigures& wall, const ClockFigures& cpu)
{
    std::printf("%-22s %12s %12s %12s %12s %12s %12s\n", name, microseconds(wall.median).c_str(),
                microseconds(cpu.median).c_str(), microseconds(wall.p999).c_str(), microseconds(cpu.p999).c_str(),
                microseconds(wall.worst).c_str(), microseconds(cpu.worst).c_str());
}

// Each column of one side over the same column of another.
void printRatioRow(const char* name, const ClockFigures& wall, const ClockFigures& cpu, const ClockFigures& baseWall,
                   const ClockFigures& baseCpu)
{
    std::printf("%-22s %12s %12s %12s %12s %12s %12s\n", name, fixedText(wall.median / baseWall.median, 2).c_str(),
                fixedText(cpu.median / baseCpu.median, 2).c_str(), fixedText(wall.p999 / baseWall.p999, 2).c_str(),
                fixedText(cpu.p999 / baseCpu.p999, 2).c_str(), fixedText(wall.worst / baseWall.worst, 2).c_str(),
                fixedText(cpu.worst / baseCpu.worst, 2).c_str());
}

void printWallOverCpu(const char* name, const ClockFigures& wall, const ClockFigures& cpu)
{
    std::printf("wall / CPU, %s: median %s, p99.9 %s, worst %s\n", name, fixedText(wall.median / cpu.median, 2).c_str(),
                fixedText(wall.p999 / cpu.p999, 2).c_str(), fixedText(wall.worst / cpu.worst, 2).c_str());
}

// The two sides' wall and CPU figures under the same column names, then
// their ratios: callback over loop says what the callback costs in loop
// rounds at each point of the distribution; wall over CPU, per side, what
// preemption by other processes adds to it.
void printTurnTaking(const TurnTaking& turns, uint32_t frames)
{
    const ClockFigures callbackWall = figuresOf(turns.callback.wallSeconds);
    const ClockFigures callbackCpu = figuresOf(turns.callback.cpuSeconds);
    const ClockFigures loopWall = figuresOf(turns.loop.wallSeconds);
    const ClockFigures loopCpu = figuresOf(turns.loop.cpuSeconds);
    std::printf("callback at %u frames and the fixed loop taking turns, %zu rounds each (us; ratios below):\n", frames,
                turns.callback.wallSeconds.size());
    std::printf("%-22s %12s %12s %12s %12s %12s %12s\n", "", "median wall", "median CPU", "p99.9 wall", "p99.9 CPU",
                "worst wall", "worst CPU");
    printSideRow("render callback", callbackWall, callbackCpu);
    printSideRow("fixed loop", loopWall, loopCpu);
    printRatioRow("callback / loop", callbackWall, callbackCpu, loopWall, loopCpu);
    printWallOverCpu("render callback", callbackWall, callbackCpu);
    printWallOverCpu("fixed loop", loopWall, loopCpu);
}

struct MachineStalls {
    double medianSeconds;
    double worstSeconds;
    int roundsOver100us;  // rounds that took 100 us or more beyond the median
    double wallSeconds;
};

// The loop's CPU time per round, as the machine stall figures have always
// been counted.
MachineStalls machineStallsOf(const SideTimes& loop)
{
    std::vector<double> seconds = loop.cpuSeconds;
    std::sort(seconds.begin(), seconds.end());
    const double median = seconds[seconds.size() / 2];
    const auto over = std::count_if(seconds.begin(), seconds.end(), [&](double s) { return s >= median + 100e-6; });
    double wallSeconds = 0.0;
    for (double s : loop.wallSeconds)
        wallSeconds += s;
    return MachineStalls{median, seconds.back(), static_cast<int>(over), wallSeconds};
}

}  // namespace

int main()
{
    // Keep the bench's strip settings out of the user's configuration.
    const BenchHome home;
    if (!home.isValid())
        return 1;

    const std::vector<std::vector<float>> signals = makeSignals();
    VirtualAudioDescription description;
    VirtualDeviceDescription device;
    device.name = "Bench Interface";
    device.uid = "bench";
    device.inputStreams = {kChannels};
    device.outputStreams = {kChannels};
    description.devices = {device};
    auto system = std::make_shared<BenchSystem>(description, &signals);
    BenchEngine engine(system, 1);
    engine.initialize();
    if (!engine.selectDevice("Bench Interface") || system->lastUnit == nullptr
        || system->lastUnit->callback_ == nullptr) {
        std::fprintf(stderr, "could not set up the bench device\n");
        return 1;
    }
    configureEveryStage(engine, engine.getAvailableInputChannels(), engine.getAvailableOutputChannels());

    std::printf("render callback: %d tracks, trim + double HPF + 3-band EQ + fader + limiter + automix, "
                "direct outputs, mix, ring\n", kTracks);
    std::printf("%8s %10s %16s %16s %18s %19s %14s %20s\n", "frames", "blocks", "median/period", "worst/period",
                "worst CPU/period", "p99.9 CPU/period", "blocks >10%", "audio s per CPU s");
    const struct {
        uint32_t frames;
        int blocks;
    } runs[] = {{64, 60000}, {256, 20000}, {4096, 1500}};
    for (const auto& run : runs) {
        const Result r = measure(*system->lastUnit, run.frames, run.blocks);
        std::printf("%8u %10d %15.3f%% %15.3f%% %17.3f%% %18.3f%% %14d %20.1f\n", run.frames, run.blocks,
                    100 * r.medianFraction, 100 * r.worstFraction, 100 * r.worstCpuFraction,
                    100 * r.p999CpuFraction, r.blocksOverTenPercent, r.realTimeFactor);
    }
    constexpr uint32_t kTurnFrames = 256;
    constexpr int kTurnRounds = 20000;
    const TurnTaking turns = measureTakingTurns(*system->lastUnit, kTurnFrames, kTurnRounds);
    printTurnTaking(turns, kTurnFrames);
    const MachineStalls stalls = machineStallsOf(turns.loop);
    std::printf("machine stalls: a fixed loop of %.0f us median, 20000 rounds: worst %.3f ms, %d rounds over "
                "100 us above the median (%.0f per second)\n",
                1e6 * stalls.medianSeconds, 1e3 * stalls.worstSeconds, stalls.roundsOver100us,
                stalls.roundsOver100us / stalls.wallSeconds);
    engine.shutdown();
    return 0;
}
