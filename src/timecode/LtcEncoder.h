#pragma once

#include "realtime/SeqlockValue.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

struct LTCEncoder;

// Generates linear timecode as float samples for blocks of any size: a gapless
// stream of 80-bit frames, biphase-mark encoded by libltc. The time advances
// exactly when the last sample of a frame leaves the generator.
//
// Threads:
// - generateSamples: the real-time audio thread only. It only tries the
//   settings mutex; when a setter holds it, the block is silent but the stream
//   still moves on by the block's length (caught up on the next block), so a
//   collision never delays the generated time.
// - setTimecode, setFrameRate, setOutputLevel: the GUI thread; they take the
//   settings mutex for the few microseconds they touch libltc.
// - getTimecode, getPlacement: any thread, lock-free; read the time the audio
//   thread (or the last setter) published.
// - driftPpm: written by any thread, read once per block by the audio thread.
class LtcEncoder {
public:
    // The integer values travel as such (configuration, dialogs).
    enum FrameRate : int {
        Fps24 = 24,
        Fps25 = 25,
        Fps23976 = 2398,
        Fps2997 = 2997,
        Fps30 = 30,
    };

    struct Timecode {
        uint8_t hours = 0;
        uint8_t minutes = 0;
        uint8_t seconds = 0;
        uint8_t frames = 0;
        bool dropFrame = false;
    };

    // The frame being played out with the position, in the clock the caller
    // stamps its blocks with, of its first sample: two clocks compared through
    // where their frames begin agree to the sample, whatever instant they are
    // read at. startPosition is -1 until a stamped block started a frame.
    struct Placement {
        uint64_t packedTime = 0;
        int64_t startPosition = -1;
        Timecode time() const { return unpackTimecode(packedTime); }
    };

    static constexpr double kDefaultLevelDb = -10.0;

    LtcEncoder(int sampleRate, FrameRate rate);
    ~LtcEncoder();
    LtcEncoder(const LtcEncoder&) = delete;
    LtcEncoder& operator=(const LtcEncoder&) = delete;

    // GUI thread.
    // The next frame to be encoded carries this time (fields clamped to a day
    // and to the current rate).
    void setTimecode(const Timecode& timecode);
    // Keeps the time; the level returns to kDefaultLevelDb. A frame already
    // being played out finishes at the old rate.
    void setFrameRate(FrameRate rate);
    // libltc's volume in dBFS (0 and below).
    void setOutputLevel(double levelDb);

    // Any thread, lock-free: the frame being played out (or about to be
    // encoded); all zero without a libltc encoder.
    Timecode getTimecode() const;
    // Any thread, lock-free; false (placement untouched) when a writer was
    // publishing at that moment: try again.
    bool tryGetPlacement(Placement& placement) const;

    FrameRate getFrameRate() const;
    double getFpsDouble() const;
    int getLtcTVStandard() const;
    int getMaxFrames() const;

    // Audio thread: no locks, no allocation, no logging.
    // Fills out with count samples and returns how many it wrote; 0 (with a
    // silent block) when a setter held the settings, 0 (out untouched) without
    // a libltc encoder.
    int generateSamples(float* out, int count);
    // The same, with position the caller's clock value of out[0].
    int generateSamples(float* out, int count, int64_t position);

    // Speed trim in parts per million: positive runs the time faster.
    std::atomic<double> driftPpm{0.0};

private:
    friend class LtcEncoderTestAccess;

    void prepareFrameFlags(bool dropFrameRequested);
    void publishDisplayedTime();
    int generate(float* out, int count, int64_t position);
    int render(float* out, int count);
    void takeDriftCorrection(int count);
    void applyPendingSkip();
    int copyFromFrame(float* out, int count);
    void encodeNextFrame();
    void finishFrameIfPlayed();
    static uint64_t packTimecode(const Timecode& timecode);
    static Timecode unpackTimecode(uint64_t packed);

    const int sampleRate;
    std::atomic<int> frameRate;
    LTCEncoder* encoder = nullptr;
    mutable std::mutex settingsMutex;

    // Audio thread (under settingsMutex, which setters also take).
    double driftAccumulator = 0.0;
    int64_t pendingSkipSamples = 0;
    int64_t pendingRepeatSamples = 0;
    bool hasLastSample = false;
    float lastSample = 0.0f;
    std::vector<uint8_t> frameBuffer; // sized once; a frame never outgrows it
    int frameLength = 0;
    int readPos = 0;

    // Audio thread only: samples of silent blocks the stream still owes.
    int64_t owedSamples = 0;
    // Caller's clock value of the next sample the stream makes (-1 before a
    // stamped block) and of the first sample of the frame being played.
    int64_t streamPosition = -1;
    int64_t frameStartPosition = -1;

    std::atomic<uint64_t> displayedTime{0};
    SeqlockValue<Placement> placement;
};
