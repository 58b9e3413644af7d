#pragma once

#include <cstdint>
#include <functional>

// The timecode accuracy test's calibration run: from a start, where the
// external timecode and the generator read the same time, until a set number
// of hours has passed on a monotonic clock; then the generator's gain over the
// external timecode gives the drift correction it needs. A run whose counts
// did not follow the clock (a reference lost or jumped, a generator stopped)
// or that asks for more correction than the generator takes gives no
// correction.
//
// Threads: one thread (the dialog's GUI thread); the clock is called on it.
// It only computes: the caller reads the times and applies the result.
class DriftCalibration {
public:
    // Milliseconds of a monotonic clock.
    using Clock = std::function<int64_t()>;

    static constexpr double kMaxCorrectionPpm = 100.0;
    // A run whose counts stray further from its clock has lost or jumped its
    // reference (or the generator stopped).
    static constexpr double kMaxCountStray = 0.01;

    // A time as the two clocks give it.
    struct Reading {
        int hours = 0;
        int minutes = 0;
        int seconds = 0;
        int frames = 0;
    };

    enum class Outcome {
        Complete,
        ExternalStoppedOrJumped,
        GeneratorStoppedOrJumped,
        BeyondRange,
    };

    struct Result {
        Outcome outcome = Outcome::Complete;
        int64_t elapsedMs = 0;
        int64_t externalFrames = 0;   // counted since the start, in the run's frames
        int64_t generatorFrames = 0;  // counted since the start, in the run's frames
        int64_t gainedFrames = 0;     // generator minus external
        double measuredPpm = 0.0;     // the generator's rate error at the current correction
        double correctedPpm = 0.0;    // the correction that cancels it
        int number = 0;               // correctedPpm x 1000, as the user writes it down
    };

    explicit DriftCalibration(Clock clock);

    // Starts a run of `durationHours` counted in `referenceFps` frames at the
    // given times. The generator's time is converted from `generatorFps`.
    void start(int durationHours, int referenceFps, const Reading& external, const Reading& generator,
               int generatorFps);
    // A changed duration applies to the run under way.
    void setDurationHours(int hours) { durationHours_ = hours; }
    void cancel() { running_ = false; }
    bool isRunning() const { return running_; }
    int referenceFps() const { return fps_; }

    // The run's clock has reached its duration.
    bool isDue() const;
    int64_t elapsedMs() const { return clock_() - startMs_; }
    int64_t durationMs() const;
    // 0..100 of the duration.
    int64_t percentDone() const;

    // Ends the run and measures it. `externalValid` false fails the run as a
    // lost reference; `currentPpm` is the correction the generator ran with.
    Result finish(const Reading& external, bool externalValid, const Reading& generator, int generatorFps,
                  double currentPpm);

private:
    int64_t generatorCount(const Reading& generator, int generatorFps) const;

    Clock clock_;
    bool running_ = false;
    int durationHours_ = 0;
    int fps_ = 30;
    int64_t startMs_ = 0;
    int64_t externalStartCount_ = 0;
    int64_t generatorStartCount_ = 0;
};
