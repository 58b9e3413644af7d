#pragma once

#include "controllers/MidiControllerBase.h"

#include <memory>
#include <string>

// Makes MIDI drivers. Holds no state.
class MidiControllerFactory {
public:
    // The kinds of driver; the factory makes only CoreMIDI (the MIDI system
    // driver, on the ALSA sequencer here), whatever it is asked for.
    enum ControllerType { Virtual = 0, Network = 1, CoreMIDI = 2 };

    // A new, not yet initialised MIDI driver on the default MIDI system.
    static std::unique_ptr<MidiControllerBase> create();
    static std::unique_ptr<MidiControllerBase> create(ControllerType type);
    static ControllerType getDefaultType();
    // "Core MIDI" for CoreMIDI, "Unknown" for every other value.
    static std::string getTypeName(ControllerType type);
};
