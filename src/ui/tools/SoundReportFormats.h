#pragma once

#include "ui/tools/SoundReportWriters.h"

#include <span>

// One sound report format: what the configuration's combo box shows, what
// the save dialog proposes and filters, what the messages call it, and the
// writer that makes the file. The combo box, the save dialog and the report
// all read this one description, so a new format is its writer and one line
// in the table.
struct SoundReportFormat {
    const char* shownName;    // the combo box entry
    int comboValue;           // the stored setting; also the entry's place in the combo box
    const char* extension;    // with its dot, ends the proposed file name
    const char* fileFilter;   // the save dialog's filter
    const char* shortName;    // in "... report generated successfully!" and its failure message
    SoundReportWriters::Writer write;
};

// Every format, in the combo box's order (comboValue counts 0, 1, 2, ...).
std::span<const SoundReportFormat> soundReportFormats();

// The format stored as `comboValue`; the first (PDF) for a value no format
// has, such as a setting edited by hand.
const SoundReportFormat& soundReportFormat(int comboValue);
