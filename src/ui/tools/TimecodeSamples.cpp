#include "ui/tools/TimecodeSamples.h"

#include <QStringList>

#include <cmath>

namespace {

constexpr uint64_t kSecondsPerDay = 24 * 3600;

// The one formula both directions share, so they cannot drift apart.
uint64_t samplesAt(uint64_t wholeSeconds, uint32_t rate, double fps, int64_t frames)
{
    return static_cast<uint64_t>(static_cast<double>(wholeSeconds) * rate + (rate / fps) * static_cast<double>(frames));
}

} // namespace

uint64_t parseTimecodeToSamples(const QString& text, uint32_t rate, double fps)
{
    if (!(fps > 0.0) || rate == 0 || text.isEmpty())
        return 0;
    const QStringList parts = text.split(':');
    if (parts.size() != 4)
        return 0;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toInt(&ok, 10);
        if (!ok)
            return 0;
    }
    const auto [hours, minutes, seconds, frames] = values;
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 || frames < 0)
        return 0;
    return samplesAt(uint64_t(hours) * 3600 + uint64_t(minutes) * 60 + uint64_t(seconds), rate, fps, frames);
}

QString formatSamplesAsTimecode(uint64_t samples, uint32_t rate, double fps)
{
    if (rate == 0 || !(fps > 0.0))
        return QStringLiteral("--:--:--:--");
    const uint64_t wholeSeconds = samples / rate;
    // The estimate is off by at most one frame either way; step it onto the
    // last frame whose first sample is not after `samples`.
    int64_t frames = static_cast<int64_t>(std::floor(static_cast<double>(samples - wholeSeconds * rate) * fps / rate));
    while (frames > 0 && samplesAt(wholeSeconds, rate, fps, frames) > samples)
        --frames;
    while (samplesAt(wholeSeconds, rate, fps, frames + 1) <= samples)
        ++frames;
    const uint64_t daySeconds = wholeSeconds % kSecondsPerDay;
    return QStringLiteral("%1:%2:%3:%4")
        .arg(daySeconds / 3600, 2, 10, QChar('0'))
        .arg(daySeconds / 60 % 60, 2, 10, QChar('0'))
        .arg(daySeconds % 60, 2, 10, QChar('0'))
        .arg(frames, 2, 10, QChar('0'));
}
