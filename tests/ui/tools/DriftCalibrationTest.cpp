// The calibration run of the timecode accuracy test on its own, driven by a
// stepped clock: when it is due, what it measures, and the runs it refuses.

#include "timecode/Timecode.h"
#include "ui/tools/DriftCalibration.h"

#include <gtest/gtest.h>

namespace {

using Outcome = DriftCalibration::Outcome;

constexpr int64_t kHourMs = 3600000;

DriftCalibration::Reading readingAt(int64_t frames, int fps)
{
    const Timecode t = Timecode::fromFrames(frames % (fps * 86400LL), fps, false);
    return {t.hours, t.minutes, t.seconds, t.frames};
}

class DriftCalibrationTest : public ::testing::Test {
protected:
    // A run of `hours` at 25 fps from `startFrames` on both clocks, at clock 0.
    void startAt(int64_t startFrames, int hours = 6)
    {
        clockMs_ = 0;
        start_ = startFrames;
        run_.start(hours, 25, readingAt(start_, 25), readingAt(start_, 25), 25);
    }
    DriftCalibration::Result finishAfter(int64_t ms, int64_t generatorFrames, int64_t externalFrames,
                                         double currentPpm = 0.0, bool externalValid = true)
    {
        clockMs_ = ms;
        return run_.finish(readingAt(start_ + externalFrames, 25), externalValid,
                           readingAt(start_ + generatorFrames, 25), 25, currentPpm);
    }

    int64_t clockMs_ = 0;
    int64_t start_ = 0;
    DriftCalibration run_{[this] { return clockMs_; }};
};

TEST_F(DriftCalibrationTest, IsDueAtItsDurationWhichMayChangeOnTheWay)
{
    EXPECT_FALSE(run_.isRunning());
    EXPECT_FALSE(run_.isDue()) << "nothing is due without a run";
    startAt(8 * 3600 * 25);
    EXPECT_TRUE(run_.isRunning());
    const std::pair<int64_t, int64_t> steps[] = {{0, 0}, {kHourMs, 16}, {3 * kHourMs, 50}, {6 * kHourMs - 1, 99}};
    for (const auto& [ms, percent] : steps) {
        clockMs_ = ms;
        EXPECT_FALSE(run_.isDue()) << ms;
        EXPECT_EQ(run_.percentDone(), percent) << ms;
    }
    clockMs_ = 6 * kHourMs;
    EXPECT_TRUE(run_.isDue());
    EXPECT_EQ(run_.percentDone(), 100);
    clockMs_ = 7 * kHourMs;
    EXPECT_EQ(run_.percentDone(), 100) << "never beyond the whole";

    // A shorter duration set during the run ends it at the next look.
    startAt(0);
    clockMs_ = 90 * 60000;
    EXPECT_FALSE(run_.isDue());
    run_.setDurationHours(1);
    EXPECT_TRUE(run_.isDue());
    EXPECT_EQ(run_.durationMs(), kHourMs);

    run_.cancel();
    EXPECT_FALSE(run_.isRunning());
    EXPECT_FALSE(run_.isDue()) << "a cancelled run is never due";
}

TEST_F(DriftCalibrationTest, MeasuresTheGainOrRefusesARunItCannotTrust)
{
    struct Case {
        const char* what;
        int64_t start;
        int64_t generatorFrames;
        int64_t externalFrames;
        double currentPpm;
        Outcome outcome;
        int64_t gained;
        double measuredPpm;
        double correctedPpm;
        int number;
    };
    const int64_t eight = 8 * 3600 * 25;
    const int64_t twentyTwo = 22 * 3600 * 25;
    const Case cases[] = {
        {"gains 27 frames in six hours", eight, 540027, 540000, 0.0, Outcome::Complete, 27, 50.0, -50.0, -50000},
        {"across midnight, as any other", twentyTwo, 540027, 540000, 0.0, Outcome::Complete, 27, 50.0, -50.0, -50000},
        {"loses", eight, 539973, 540000, 0.0, Outcome::Complete, -27, -50.0, 50.0, 50000},
        {"on top of a correction", eight, 540027, 540000, 10.0, Outcome::Complete, 27, 50.0, -40.0, -40000},
        {"in step", eight, 540000, 540000, 2.5, Outcome::Complete, 0, 0.0, 2.5, 2500},
        {"external froze", eight, 540000, 0, 0.0, Outcome::ExternalStoppedOrJumped, 0, 0.0, 0.0, 0},
        {"external jumped an hour", eight, 540000, 630000, 0.0, Outcome::ExternalStoppedOrJumped, 0, 0.0, 0.0, 0},
        {"generator stopped", eight, 10, 540000, 0.0, Outcome::GeneratorStoppedOrJumped, 0, 0.0, 0.0, 0},
        {"beyond 100 ppm", eight, 540081, 540000, 0.0, Outcome::BeyondRange, 81, 150.0, -150.0, 0},
        {"within 100 ppm only with the old correction", eight, 540081, 540000, 60.0, Outcome::Complete, 81, 150.0,
         -90.0, -90000},
    };
    for (const Case& c : cases) {
        startAt(c.start);
        const DriftCalibration::Result r = finishAfter(6 * kHourMs, c.generatorFrames, c.externalFrames, c.currentPpm);
        EXPECT_FALSE(run_.isRunning()) << c.what;
        EXPECT_EQ(r.outcome, c.outcome) << c.what;
        EXPECT_EQ(r.elapsedMs, 6 * kHourMs) << c.what;
        if (c.outcome == Outcome::ExternalStoppedOrJumped || c.outcome == Outcome::GeneratorStoppedOrJumped)
            continue;
        EXPECT_EQ(r.gainedFrames, c.gained) << c.what;
        EXPECT_NEAR(r.measuredPpm, c.measuredPpm, 1e-9) << c.what;
        EXPECT_NEAR(r.correctedPpm, c.correctedPpm, 1e-9) << c.what;
        EXPECT_EQ(r.number, c.number) << c.what;
    }
}

TEST_F(DriftCalibrationTest, EdgesOfARun)
{
    // No time on the clock: nothing to measure, counted as a lost reference.
    startAt(0);
    EXPECT_EQ(finishAfter(0, 0, 0).outcome, Outcome::ExternalStoppedOrJumped);
    // A reference the engine no longer receives fails whatever it last read.
    startAt(0);
    EXPECT_EQ(finishAfter(6 * kHourMs, 540000, 540000, 0.0, false).outcome, Outcome::ExternalStoppedOrJumped);
    // A short run allows one frame of stray, not one percent of almost
    // nothing (the rate that frame makes is then refused on its own).
    startAt(0);
    EXPECT_EQ(finishAfter(2000, 50, 50).outcome, Outcome::Complete);
    startAt(0);
    EXPECT_EQ(finishAfter(2000, 51, 50).outcome, Outcome::BeyondRange);
    startAt(0);
    EXPECT_EQ(finishAfter(2000, 52, 50).outcome, Outcome::GeneratorStoppedOrJumped);

    // A generator at another rate is counted in the reference's frames: a
    // 30 fps generator in step with a 25 fps reference gains nothing.
    clockMs_ = 0;
    run_.start(1, 25, readingAt(0, 25), readingAt(0, 30), 30);
    EXPECT_EQ(run_.referenceFps(), 25);
    clockMs_ = kHourMs;
    const DriftCalibration::Result r = run_.finish(readingAt(90000, 25), true, readingAt(108000, 30), 30, 0.0);
    EXPECT_EQ(r.outcome, Outcome::Complete);
    EXPECT_EQ(r.generatorFrames, 90000);
    EXPECT_EQ(r.gainedFrames, 0);
}

}  // namespace
