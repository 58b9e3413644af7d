#pragma once

#include <QString>

#include <cstdint>

// Time-of-day timecode text and sample counts, as the metadata tools enter
// and show a take's start. formatSamplesAsTimecode is the exact inverse of
// parseTimecodeToSamples: a count made from "HH:MM:SS:FF" prints as that
// text again, so a start typed in one tool reads back identically in
// another. Pure functions; any thread.

// "HH:MM:SS:FF" to samples at `rate`: (h x 3600 + m x 60 + s) x rate +
// (rate / fps) x frames, truncated. 0 for bad input (not four numbers, hours
// above 23, minutes or seconds above 59, negative frames, fps not above 0,
// rate 0). No drop-frame correction.
uint64_t parseTimecodeToSamples(const QString& text, uint32_t rate, double fps);

// The last frame that starts at or before `samples`, wrapped into one day;
// "--:--:--:--" when rate is 0 or fps not above 0.
QString formatSamplesAsTimecode(uint64_t samples, uint32_t rate, double fps);
