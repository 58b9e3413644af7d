#include "timecode/Timecode.h"

#include <cstdio>

namespace {

constexpr int64_t kDropFramesPerTenMinutes = 17982;
constexpr int64_t kDropFramesPerMinute = 1798;
constexpr int64_t kDropFramesPerHour = 107892;
constexpr int kDropFrameLabelsPerSecond = 30;

bool isDropFrameCounting(int fps, bool dropFrame)
{
    return dropFrame && (fps == 29 || fps == 30);
}

std::string twoDigits(int value)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", value);
    return buffer;
}

} // namespace

bool Timecode::usesDropFrameCounting() const
{
    return isDropFrameCounting(fps, dropFrame);
}

std::string Timecode::toString() const
{
    return twoDigits(hours) + ":" + twoDigits(minutes) + ":" + twoDigits(seconds) + (dropFrame ? ";" : ":") +
           twoDigits(frames);
}

int64_t Timecode::toFrames() const
{
    if (usesDropFrameCounting()) {
        return hours * kDropFramesPerHour + (minutes / 10) * kDropFramesPerTenMinutes +
               (minutes % 10) * kDropFramesPerMinute + int64_t(seconds) * kDropFrameLabelsPerSecond + frames;
    }
    return frames + int64_t(fps) * (int64_t(hours) * 3600 + int64_t(minutes) * 60 + seconds);
}

Timecode Timecode::fromFrames(int64_t frameCount, int fps, bool dropFrame)
{
    Timecode tc;
    tc.fps = fps;
    tc.dropFrame = dropFrame;
    if (frameCount < 0 || fps <= 0)
        return tc;

    int64_t labels = frameCount;
    int64_t rate = fps;
    if (isDropFrameCounting(fps, dropFrame)) {
        // Real frames to frame labels: 18 labels skipped per ten minutes, two
        // per started minute after the first of each ten. C++ division
        // truncates toward zero, so a remainder of 0 or 1 adds nothing.
        labels = frameCount + 18 * (frameCount / kDropFramesPerTenMinutes) +
                 2 * ((frameCount % kDropFramesPerTenMinutes - 2) / kDropFramesPerMinute);
        rate = kDropFrameLabelsPerSecond;
    }
    const int64_t totalSeconds = labels / rate;
    tc.frames = static_cast<int>(labels - totalSeconds * rate);
    tc.seconds = static_cast<int>(totalSeconds % 60);
    tc.minutes = static_cast<int>((totalSeconds / 60) % 60);
    tc.hours = static_cast<int>(totalSeconds / 3600);
    return tc;
}
