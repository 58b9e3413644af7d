#include "ui/tools/DriftRules.h"

#include <cmath>

namespace driftRules {

namespace {
constexpr int64_t kDropFrameDay = 107892LL * 24;
}

int nominalFps(double detectedFps)
{
    return detectedFps > 0.0 ? static_cast<int>(detectedFps + 0.5) : 30;
}

bool dropFrameCounting(bool dropFrame, int fps)
{
    return dropFrame && (fps == 29 || fps == 30);
}

int64_t frameCount(int hours, int minutes, int seconds, int frames, int fps, bool dropFrameCounting)
{
    if (dropFrameCounting)
        return 107892LL * hours + 17982LL * (minutes / 10) + 1798LL * (minutes % 10) + 30LL * seconds + frames;
    return frames + static_cast<int64_t>(fps) * (3600LL * hours + 60LL * minutes + seconds);
}

int64_t foldedDrift(int64_t generatorCount, int64_t externalCount, int fps, bool dropFrameCounting)
{
    const int64_t day = dropFrameCounting ? kDropFrameDay : static_cast<int64_t>(fps) * 86400;
    int64_t drift = generatorCount - externalCount;
    if (day <= 0)
        return drift;
    drift %= day;
    if (drift > day / 2)
        drift -= day;
    else if (drift < -day / 2)
        drift += day;
    return drift;
}

int64_t driftSamples(int64_t driftFrames, int fps)
{
    return fps == 0 ? 0 : driftFrames * kSamplesPerSecond / fps;
}

int64_t inReferenceFrames(int64_t generatorCount, int fromFps, int toFps)
{
    if (fromFps == toFps || fromFps <= 0)
        return generatorCount;
    return std::llround(static_cast<double>(generatorCount) * toFps / fromFps);
}

int64_t unwrapped(int64_t rawCount, double expected, int64_t dayFrames)
{
    const double days = std::round((expected - static_cast<double>(rawCount)) / static_cast<double>(dayFrames));
    return rawCount + static_cast<int64_t>(days) * dayFrames;
}

}  // namespace driftRules
