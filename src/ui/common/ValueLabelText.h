#pragma once

#include <QString>

// The texts of the mixer's value labels and what typing into them means:
// levels in dB, frequencies in Hz or kHz, Q and send percentages. The typed
// value is in the slider's raw units (tenths of a dB, tenths of Q, whole Hz,
// whole percent). Pure functions, any thread; the same in every locale (a
// full stop before the decimals, shown and typed).
namespace valueLabelText {

// "-∞ dB" at -60 dB and below, else "-3.0 dB".
QString formatDb(double db);
// "999 Hz", "1.0 kHz", "12.5 kHz".
QString formatFreq(double hz);
// Tenths of Q as "1.0".
QString formatQTenths(int tenths);
// "42%".
QString formatPercent(int percent);

// Tenths of a dB from "2.3 dB", "+3.25", "-inf" or "-∞" (-600); 0 for text
// that is no number.
int parseDbTenths(const QString& text);
// Hz from "120 Hz", "2500", "2.5 kHz" (any case of "kHz"); 0 for text that is
// no number.
int parseFreqHz(const QString& text);
// Tenths of Q from "0.7"; 10 (Q 1.0) for text that is no number.
int parseQTenths(const QString& text);
// Whole percent from "42 %"; 0 for text that is no whole number.
int parsePercent(const QString& text);

// What an editor opened on a label shows: the value without its unit, a
// kHz value in whole Hz ("2.5 kHz" gives "2500").
QString editorText(const QString& shown);

}  // namespace valueLabelText
