#include "ui/tools/TimecodeText.h"

#include <QStringList>

#include <cmath>

namespace {

// The one formula both directions use, so that they cannot drift apart.
uint64_t samplesAt(uint64_t wholeSeconds, uint64_t frames, uint32_t rate, double fps) {
    const double total = static_cast<double>(wholeSeconds) * rate + (rate / fps) * static_cast<double>(frames);
    return static_cast<uint64_t>(std::trunc(total));
}

}  // namespace

uint64_t parseTimecodeToSamples(const QString& text, uint32_t rate, double fps) {
    if (!(fps > 0.0) || rate == 0 || text.isEmpty()) return 0;
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 4) return 0;
    int values[4] = {};
    for (int i = 0; i < 4; ++i) {
        bool ok = false;
        values[i] = parts[i].toInt(&ok, 10);
        if (!ok) return 0;
    }
    const int hours = values[0], minutes = values[1], seconds = values[2], frames = values[3];
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 || frames < 0) return 0;
    const uint64_t wholeSeconds = static_cast<uint64_t>(hours) * 3600 + minutes * 60 + seconds;
    return samplesAt(wholeSeconds, static_cast<uint64_t>(frames), rate, fps);
}

QString samplesToTimecodeText(uint64_t samples, uint32_t rate, double fps) {
    if (samples == 0 || rate == 0 || !(fps > 0.0)) return {};
    const uint64_t wholeSeconds = samples / rate;
    // Start from the estimate and correct it against the parse formula.
    auto frames = static_cast<uint64_t>(std::floor(static_cast<double>(samples - wholeSeconds * rate) * fps / rate));
    while (samplesAt(wholeSeconds, frames + 1, rate, fps) <= samples) ++frames;
    while (frames > 0 && samplesAt(wholeSeconds, frames, rate, fps) > samples) --frames;
    const uint64_t hours = (wholeSeconds / 3600) % 24;
    const uint64_t minutes = (wholeSeconds % 3600) / 60;
    const uint64_t seconds = wholeSeconds % 60;
    return QStringLiteral("%1:%2:%3:%4")
        .arg(hours, 2, 10, QLatin1Char('0'))
        .arg(minutes, 2, 10, QLatin1Char('0'))
        .arg(seconds, 2, 10, QLatin1Char('0'))
        .arg(frames, 2, 10, QLatin1Char('0'));
}
