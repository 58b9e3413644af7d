#pragma once

#include "platform/midi/MidiSystem.h"

#include <memory>

// The MIDI system every driver uses unless it is given another: the ALSA
// sequencer, made on first use. Where the machine has no sequencer its calls
// answer a status and the drivers log why.
std::shared_ptr<MidiSystem> defaultMidiSystem();

// Replaces the default (a virtual system in tests); nullptr goes back to the
// ALSA sequencer. Drivers made earlier keep the system they were made with.
void setDefaultMidiSystem(std::shared_ptr<MidiSystem> system);
