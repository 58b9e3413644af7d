#pragma once

#include <cstdint>
#include <string>

// An SMPTE time of day at a nominal frame rate. Drop-frame counting applies
// only with dropFrame set and fps 29 or 30 (30 labels a second, labels 0 and 1
// skipped at every minute not divisible by ten); any other rate counts plainly
// even when dropFrame is set.
struct Timecode {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
    int fps = 25;
    bool dropFrame = false;

    // "HH:MM:SS:FF", or "HH:MM:SS;FF" with dropFrame set.
    std::string toString() const;
    // Frames since 00:00:00:00.
    int64_t toFrames() const;
    // Hours are not wrapped at 24; the caller wraps the count into one day.
    // A negative count or a non-positive fps gives 00:00:00:00.
    static Timecode fromFrames(int64_t frameCount, int fps, bool dropFrame);

    bool usesDropFrameCounting() const;
};
