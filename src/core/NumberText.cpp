#include "core/NumberText.h"

#include <charconv>
#include <string>

std::string fixedText(double value, int decimals, int minimumWidth)
{
    // Wide enough for any double in fixed notation (DBL_MAX has 309 digits).
    char buffer[400];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    std::string text(buffer, result.ec == std::errc() ? result.ptr : buffer);
    const std::size_t digitsStart = text.starts_with('-') ? 1 : 0;
    if (minimumWidth > 0 && text.size() < static_cast<std::size_t>(minimumWidth))
        text.insert(digitsStart, static_cast<std::size_t>(minimumWidth) - text.size(), '0');
    return text;
}

bool parseDecimal(std::string_view text, double& value)
{
    const std::size_t start = text.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string_view::npos)
        return false;
    text.remove_prefix(start);
    if (text.starts_with('+'))
        text.remove_prefix(1);

    // A comma that stands where the decimal point belongs (after the integer
    // digits, before any full stop) was written by a comma locale.
    std::string copy(text);
    const std::size_t integerEnd = copy.find_first_not_of("-0123456789");
    if (integerEnd != std::string::npos && integerEnd > 0 && copy[integerEnd] == ','
        && copy[integerEnd - 1] != '-')
        copy[integerEnd] = '.';

    double parsed = 0.0;
    const auto result = std::from_chars(copy.data(), copy.data() + copy.size(), parsed);
    if (result.ec != std::errc())
        return false;
    value = parsed;
    return true;
}
