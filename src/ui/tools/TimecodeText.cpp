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

uint64_t timecodeFieldsToSamples(const TimecodeFields& fields, uint32_t rate, double fps) {
    const uint64_t wholeSeconds = static_cast<uint64_t>(fields.hours) * 3600 + static_cast<uint64_t>(fields.minutes) * 60 +
                                  static_cast<uint64_t>(fields.seconds);
    return samplesAt(wholeSeconds, static_cast<uint64_t>(fields.frames), rate, fps);
}

TimecodeFields timecodeFieldsOf(uint64_t samples, uint32_t rate, double fps) {
    const uint64_t wholeSeconds = samples / rate;
    // Start from the estimate and correct it against the formula above.
    auto frames = static_cast<uint64_t>(std::floor(static_cast<double>(samples - wholeSeconds * rate) * fps / rate));
    while (samplesAt(wholeSeconds, frames + 1, rate, fps) <= samples) ++frames;
    while (frames > 0 && samplesAt(wholeSeconds, frames, rate, fps) > samples) --frames;
    return {static_cast<int>((wholeSeconds / 3600) % 24), static_cast<int>((wholeSeconds % 3600) / 60),
            static_cast<int>(wholeSeconds % 60), static_cast<int>(frames)};
}

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
    const TimecodeFields fields{values[0], values[1], values[2], values[3]};
    if (fields.hours < 0 || fields.hours > 23 || fields.minutes < 0 || fields.minutes > 59 || fields.seconds < 0 ||
        fields.seconds > 59 || fields.frames < 0)
        return 0;
    return timecodeFieldsToSamples(fields, rate, fps);
}

namespace {

QString fieldsText(const TimecodeFields& f) {
    return QStringLiteral("%1:%2:%3:%4")
        .arg(f.hours, 2, 10, QLatin1Char('0'))
        .arg(f.minutes, 2, 10, QLatin1Char('0'))
        .arg(f.seconds, 2, 10, QLatin1Char('0'))
        .arg(f.frames, 2, 10, QLatin1Char('0'));
}

}  // namespace

QString samplesToTimecodeText(uint64_t samples, uint32_t rate, double fps) {
    if (samples == 0 || rate == 0 || !(fps > 0.0)) return {};
    return fieldsText(timecodeFieldsOf(samples, rate, fps));
}

QString formatSamplesAsTimecode(uint64_t samples, uint32_t rate, double fps) {
    if (rate == 0 || !(fps > 0.0)) return QStringLiteral("--:--:--:--");
    return fieldsText(timecodeFieldsOf(samples, rate, fps));
}
