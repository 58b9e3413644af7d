#pragma once

#include "core/NumberText.h"

#include <algorithm>
#include <string>
#include <vector>

// The middle and the range of a few timed rounds. A benchmark on a shared
// machine reports the median, which one disturbed round does not move, and
// the range beside it, so a reader sees how much the rounds disagreed.
struct BenchSpread {
    double median = 0.0;
    double lowest = 0.0;
    double highest = 0.0;

    // "median 1.23 (1.10 .. 1.40)" with a full stop in every locale, since
    // the figures are read by people and scripts alike.
    std::string text(int decimals) const
    {
        return "median " + fixedText(median, decimals) + " (" + fixedText(lowest, decimals) + " .. "
               + fixedText(highest, decimals) + ")";
    }
};

// The median of an even count is the mean of the two middle values.
inline BenchSpread spreadOf(std::vector<double> values)
{
    if (values.empty())
        return {};
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    const double median =
        values.size() % 2 == 1 ? values[middle] : (values[middle - 1] + values[middle]) / 2.0;
    return {median, values.front(), values.back()};
}
