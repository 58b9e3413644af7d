#include "ui/tools/SoundReportFormats.h"

#include <array>

namespace {

constexpr std::array kFormats{
    SoundReportFormat{"PDF (Sound Report)", 0, ".pdf", "PDF Files (*.pdf)", "PDF", &SoundReportWriters::writePdf},
    SoundReportFormat{"CSV", 1, ".csv", "CSV Files (*.csv)", "CSV", &SoundReportWriters::writeCsv},
    SoundReportFormat{"ALE (Avid Log Exchange)", 2, ".ale", "ALE Files (*.ale)", "ALE", &SoundReportWriters::writeAle},
};

// The stored setting is the combo box's current index, so a format's value
// must be its place in the table.
constexpr bool valuesArePlaces()
{
    for (size_t i = 0; i < kFormats.size(); ++i) {
        if (kFormats[i].comboValue != static_cast<int>(i))
            return false;
    }
    return true;
}
static_assert(valuesArePlaces(), "a format's comboValue must be its place in the table");

} // namespace

std::span<const SoundReportFormat> soundReportFormats()
{
    return kFormats;
}

const SoundReportFormat& soundReportFormat(int comboValue)
{
    if (comboValue < 0 || comboValue >= static_cast<int>(kFormats.size()))
        return kFormats.front();
    return kFormats[static_cast<size_t>(comboValue)];
}
