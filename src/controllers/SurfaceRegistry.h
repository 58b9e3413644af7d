#pragma once

#include "controllers/SurfaceKind.h"

#include <string>
#include <vector>

// Every kind of control surface the program drives, in one list: the only
// place a new kind is added (its description lives with its driver).
//
// Threads: any; the list is built once, on first use, and never changes.
class SurfaceRegistry {
public:
    // In the order a device name is tried against them (the devices of one
    // exact name first, the generic MIDI device last) and in which the scan
    // lists the devices that are not MIDI sources.
    static const std::vector<const SurfaceKind*>& kinds();
    // The first kind that recognises the name; every name is at least a
    // generic MIDI device.
    static const SurfaceKind& forName(const std::string& deviceName);
    // The first kind whose family words the name holds; null for none.
    static const SurfaceKind* familyOf(const std::string& deviceName);
    // Whether a fader of the device named so sets its track's level (its
    // family's faderOwnsLevel).
    static bool faderOwnsLevel(const std::string& deviceName);
};
