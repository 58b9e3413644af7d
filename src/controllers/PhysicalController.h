#pragma once

#include "controllers/MidiControllerBase.h"

#include <memory>
#include <string>

// One connected controller, owned by the controller manager.
struct PhysicalController {
    std::string deviceName;  // the name it was added under; key of every look-up (exact)
    int kind = 0;            // 0 MIDI device, 1 Cantarem 2, 2 CL-12 (USB or UDP)
    int numBanks = 1;
    bool hasOutput = false;  // takes fader positions and button lights
    int currentBank = 0;
    std::unique_ptr<MidiControllerBase> controller;  // never null for a record in the list
};
