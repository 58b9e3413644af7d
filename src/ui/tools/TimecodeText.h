#pragma once

#include <QString>

#include <cstdint>

// Timecode text <-> samples since midnight, without drop-frame counting.
// The two are exact inverses: every HH:MM:SS:FF of a day that
// parseTimecodeToSamples turns into samples is shown again as that text by
// samplesToTimecodeText, at any sample and frame rate. GUI-free, any thread.

struct TimecodeFields {
    int hours = 0;
    int minutes = 0;
    int seconds = 0;
    int frames = 0;
};

// (h*3600 + m*60 + s) * rate + (rate / fps) * ff in double, truncated.
uint64_t timecodeFieldsToSamples(const TimecodeFields& fields, uint32_t rate, double fps);

// The exact inverse of timecodeFieldsToSamples for every field set whose
// frames lie below the frame rate (hours wrap at 24). Rate and fps non-zero.
TimecodeFields timecodeFieldsOf(uint64_t samples, uint32_t rate, double fps);

// "HH:MM:SS:FF" to samples: (h*3600 + m*60 + s) * rate + (rate / fps) * ff,
// truncated. 0 for bad input (fps not above 0, rate 0, not four numeric
// parts, hours above 23, minutes or seconds above 59, negative frames).
uint64_t parseTimecodeToSamples(const QString& text, uint32_t rate, double fps);

// Samples to "HH:MM:SS:FF" (hours wrap at 24): the frame is the one whose
// parsed start is the last at or before `samples`. Empty when samples or
// rate is 0 or fps is not above 0.
QString samplesToTimecodeText(uint64_t samples, uint32_t rate, double fps);

// "HH:MM:SS:FF" with each number at least two digits wide (the same text
// as QString::arg with width 2 and '0' fill, built without its parsing, as
// a folder scan formats thousands of them). Numbers are not negative.
QString timecodeFieldsText(uint64_t hours, uint64_t minutes, uint64_t seconds, uint64_t frames);

// Samples to "HH:MM:SS:FF" as the sound report shows a take's start and end:
// like samplesToTimecodeText, but midnight (0) prints as "00:00:00:00" and a
// rate or fps that cannot be used as "--:--:--:--".
QString formatSamplesAsTimecode(uint64_t samples, uint32_t rate, double fps);
