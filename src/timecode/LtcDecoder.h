#pragma once

#include <atomic>
#include <cstdint>

struct LTCDecoder;

// Reads linear timecode from the samples of one input channel and publishes the
// time of the last decoded frame together with the position, in the caller's
// sample clock, at which that frame began.
//
// Threads:
// - processAudio: the real-time audio thread only (one caller at a time).
// - getSnapshot: any thread, any number at once; never blocks the writer, spins
//   only while the writer is inside its handful of stores.
// - initialize, shutdown, reset: the GUI thread; the owner must keep them from
//   overlapping a processAudio call (they free or flush libltc's state).
// - setForcedFps, forcedFps: any thread; the audio thread reads the rate once
//   per block (relaxed: it is one value, nothing else is published with it).
class LtcDecoder {
public:
    // A plain copy of one decoded frame, taken whole.
    struct TcSnapshot {
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        int frames = 0;
        int fps = kEmptyFps;
        bool dropFrame = false;
        // The forced rate when one is set, else the measured rate (-1 before a
        // frame length was measured; 0 in an empty snapshot).
        double fpsEstimate = 0.0;
        bool valid = false;
        int64_t samplePosition = 0;
    };

    static constexpr int kEmptyFps = 30;
    static constexpr float kGateLevel = 0.03f;

    LtcDecoder();
    ~LtcDecoder();
    LtcDecoder(const LtcDecoder&) = delete;
    LtcDecoder& operator=(const LtcDecoder&) = delete;

    // GUI thread. (Re)creates libltc's decoder; false when it could not.
    bool initialize(int sampleRate);
    void shutdown();
    void reset();

    // Audio thread: no locks, no allocation, no logging.
    // position is the caller's clock value of samples[0].
    void processAudio(const float* samples, int count, int64_t position);
    // Continues from the position just after the previous block.
    void processAudio(const float* samples, int count);

    // Any thread.
    TcSnapshot getSnapshot() const;

    // A nominal rate forced from outside; 0 (or less) measures the signal.
    void setForcedFps(double fps) { forcedFps_.store(fps, std::memory_order_relaxed); }
    double forcedFps() const { return forcedFps_.load(std::memory_order_relaxed); }

private:
    // Fields of the published snapshot, each one indivisible so that a reader
    // racing the writer reads stale or fresh words, never half a word; the
    // sequence counter tells it whether the words belong together.
    struct PublishedSnapshot {
        std::atomic<int> hours{0};
        std::atomic<int> minutes{0};
        std::atomic<int> seconds{0};
        std::atomic<int> frames{0};
        std::atomic<int> fps{kEmptyFps};
        std::atomic<bool> dropFrame{false};
        std::atomic<double> fpsEstimate{0.0};
        std::atomic<bool> valid{false};
        std::atomic<int64_t> samplePosition{0};
    };

    void resetStatistics();
    void restartMeasurement();
    void publish(const TcSnapshot& snapshot);
    bool isBelowGate(const float* samples, int count) const;
    void measureFrameLength(int64_t frameSamples);
    static int nominalFps(double workingFps);

    int sampleRate_ = kDefaultSampleRate;
    double measuredFps_ = kNotMeasured;
    int initialCount_ = 0;
    int64_t totalFrameSamples_ = 0;
    int64_t decodedFrames_ = 0;
    bool firstFrameOnly_ = false; // the statistics hold only the first frame after a reset
    int64_t nextPosition_ = 0;

    std::atomic<uint32_t> sequence_{0};
    PublishedSnapshot published_;

    LTCDecoder* decoder_ = nullptr;
    std::atomic<double> forcedFps_{0.0};

    static constexpr int kDefaultSampleRate = 48000;
    static constexpr double kNotMeasured = -1.0;
};
