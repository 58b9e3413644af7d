#pragma once

#include <cstdint>

// How the timecode accuracy test counts and compares two clocks: shared by
// its display, its drift log and its calibration, so all three read the same
// drift from the same two times. Pure functions; any thread.
namespace driftRules {

constexpr int kSamplesPerSecond = 48000;
constexpr int64_t kMsPerHour = 3600000;

// The whole rate a detected rate counts in (29.97 counts as 30); 30 before
// anything was detected.
int nominalFps(double detectedFps);
// Drop-frame counting applies to 29.97/30 only.
bool dropFrameCounting(bool dropFrame, int fps);
int64_t frameCount(int hours, int minutes, int seconds, int frames, int fps, bool dropFrameCounting);
// Generator minus external, folded into +-12 hours of frames so midnight
// between the two is not a day's drift.
int64_t foldedDrift(int64_t generatorCount, int64_t externalCount, int fps, bool dropFrameCounting);
int64_t driftSamples(int64_t driftFrames, int fps);
// The generator keeps the rate chosen in its own dialog, which need not be
// the reference's: its position is compared in the reference's frames, so
// two clocks in step read no drift whatever their rates.
int64_t inReferenceFrames(int64_t generatorCount, int fromFps, int toFps);
// The count nearest the run's clock among those a day apart: a run across
// 00:00 measures the same as one that is not.
int64_t unwrapped(int64_t rawCount, double expected, int64_t dayFrames);

}  // namespace driftRules
