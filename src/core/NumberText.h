#pragma once

#include <string>
#include <string_view>

// Numbers as they go into files, settings, reports, parsed log lines and wire
// messages: always a full stop before the decimals, never a group separator,
// whatever locale the process runs in. The C library's decimal conversions
// follow LC_NUMERIC, which Qt's application object sets from the user's
// environment (a decimal comma in most of the world); these helpers use
// std::to_chars/std::from_chars, which never look at the locale.

// `value` in fixed notation with `decimals` decimals: -6 with 6 gives
// "-6.000000". A `minimumWidth` pads with zeros after the sign, as "%0*.*f"
// does: 23.976 with 3 decimals and width 7 gives "023.976".
std::string fixedText(double value, int decimals, int minimumWidth = 0);

// Reads a decimal number from the start of `text` (leading white space and a
// '+' skipped, exponent forms accepted, anything after the number ignored).
// A comma in place of the decimal point, as builds that wrote numbers through
// the user's locale left them ("12,500000"), reads as the number it meant.
// False, with `value` untouched, when the text does not start with a number.
bool parseDecimal(std::string_view text, double& value);
