#pragma once

#include "controllers/MidiControllerBase.h"
#include "controllers/SurfaceKind.h"

#include <memory>
#include <string>

// One connected controller, owned by the controller manager.
struct PhysicalController {
    std::string deviceName;  // the name it was added under; key of every look-up (exact)
    const SurfaceKind* kind = nullptr;  // what the device is (SurfaceRegistry); set with the driver
    int numBanks = 1;
    bool hasOutput = false;  // takes fader positions and button lights
    int currentBank = 0;
    std::unique_ptr<MidiControllerBase> controller;  // never null for a record in the list
};
