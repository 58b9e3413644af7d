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
    return timecodeFieldsText(static_cast<uint64_t>(f.hours), static_cast<uint64_t>(f.minutes),
                              static_cast<uint64_t>(f.seconds), static_cast<uint64_t>(f.frames));
}

// Appends the number with at least two digits.
void appendField(QChar*& out, uint64_t value) {
    char digits[20];
    int count = 0;
    do {
        digits[count++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    if (count < 2) digits[count++] = '0';
    while (count > 0) *out++ = QLatin1Char(digits[--count]);
}

}  // namespace

QString timecodeFieldsText(uint64_t hours, uint64_t minutes, uint64_t seconds, uint64_t frames) {
    QString text(4 * 20 + 3, Qt::Uninitialized);
    QChar* out = text.data();
    appendField(out, hours);
    *out++ = QLatin1Char(':');
    appendField(out, minutes);
    *out++ = QLatin1Char(':');
    appendField(out, seconds);
    *out++ = QLatin1Char(':');
    appendField(out, frames);
    text.truncate(out - text.constData());
    return text;
}

QString samplesToTimecodeText(uint64_t samples, uint32_t rate, double fps) {
    if (samples == 0 || rate == 0 || !(fps > 0.0)) return {};
    return fieldsText(timecodeFieldsOf(samples, rate, fps));
}

QString formatSamplesAsTimecode(uint64_t samples, uint32_t rate, double fps) {
    if (rate == 0 || !(fps > 0.0)) return QStringLiteral("--:--:--:--");
    return fieldsText(timecodeFieldsOf(samples, rate, fps));
}
