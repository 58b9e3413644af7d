#include "ui/tools/DriftCalibration.h"

#include "ui/tools/DriftRules.h"

#include <algorithm>
#include <cmath>

DriftCalibration::DriftCalibration(Clock clock) : clock_(std::move(clock)) {}

void DriftCalibration::start(int durationHours, int referenceFps, const Reading& external, const Reading& generator,
                             int generatorFps)
{
    running_ = true;
    durationHours_ = durationHours;
    startMs_ = clock_();
    fps_ = referenceFps;
    externalStartCount_ =
        driftRules::frameCount(external.hours, external.minutes, external.seconds, external.frames, fps_, false);
    generatorStartCount_ = generatorCount(generator, generatorFps);
}

int64_t DriftCalibration::durationMs() const
{
    return durationHours_ * driftRules::kMsPerHour;
}

bool DriftCalibration::isDue() const
{
    return running_ && elapsedMs() >= durationMs();
}

int64_t DriftCalibration::percentDone() const
{
    const int64_t total = durationMs();
    return total <= 0 ? 100 : std::min<int64_t>(elapsedMs() * 100 / total, 100);
}

int64_t DriftCalibration::generatorCount(const Reading& generator, int generatorFps) const
{
    return driftRules::inReferenceFrames(
        driftRules::frameCount(generator.hours, generator.minutes, generator.seconds, generator.frames, generatorFps,
                               false),
        generatorFps, fps_);
}

DriftCalibration::Result DriftCalibration::finish(const Reading& external, bool externalValid,
                                                  const Reading& generator, int generatorFps, double currentPpm)
{
    running_ = false;
    Result r;
    r.elapsedMs = elapsedMs();
    const double expected = static_cast<double>(r.elapsedMs) / 1000.0 * fps_;
    const int64_t day = static_cast<int64_t>(fps_) * 86400;
    r.externalFrames = driftRules::unwrapped(
        driftRules::frameCount(external.hours, external.minutes, external.seconds, external.frames, fps_, false)
            - externalStartCount_,
        expected, day);
    r.generatorFrames =
        driftRules::unwrapped(generatorCount(generator, generatorFps) - generatorStartCount_, expected, day);

    // Both counts must have run with the run's clock; otherwise the result
    // measures a lost, jumped or stopped timecode, not the generator.
    const double allowed = std::max(expected * kMaxCountStray, 1.0);
    const bool externalOk = externalValid && std::fabs(r.externalFrames - expected) <= allowed;
    const bool generatorOk = std::fabs(r.generatorFrames - expected) <= allowed;
    if (expected < 1.0 || !externalOk) {
        r.outcome = Outcome::ExternalStoppedOrJumped;
        return r;
    }
    if (!generatorOk) {
        r.outcome = Outcome::GeneratorStoppedOrJumped;
        return r;
    }

    r.gainedFrames = r.generatorFrames - r.externalFrames;
    r.measuredPpm = r.externalFrames >= 1
                        ? static_cast<double>(r.gainedFrames) / static_cast<double>(r.externalFrames) * 1000000.0
                        : 0.0;
    r.correctedPpm = currentPpm - r.measuredPpm;
    if (std::fabs(r.correctedPpm) > kMaxCorrectionPpm) {
        r.outcome = Outcome::BeyondRange;
        return r;
    }
    r.number = static_cast<int>(std::llround(r.correctedPpm * 1000.0));
    r.outcome = Outcome::Complete;
    return r;
}
