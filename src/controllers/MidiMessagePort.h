#pragma once

#include "controllers/MidiMessage.h"

#include <cstdint>
#include <functional>

// Raw MIDI messages both ways, for the drivers that speak MIDI; a surface
// driver offers it through MidiControllerBase::midiMessagePort.
//
// Threads: the message callback runs on the driver's event thread, like its
// other callbacks (see MidiControllerBase); the sends on the GUI thread.
class MidiMessagePort {
public:
    virtual ~MidiMessagePort();

    // Every decoded message; replaces the earlier callback, an empty
    // function switches it off.
    virtual void setCallback(std::function<void(const MidiMessage&)> callback) = 0;
    // False when there is no output, or for a message the driver does not send.
    virtual bool sendMessage(const MidiMessage& message) = 0;
    virtual bool sendNoteOn(uint8_t channel, uint8_t note, uint8_t velocity) = 0;
    virtual bool sendNoteOff(uint8_t channel, uint8_t note, uint8_t velocity) = 0;
    virtual bool sendControlChange(uint8_t channel, uint8_t controller, uint8_t value) = 0;
    virtual bool sendProgramChange(uint8_t channel, uint8_t program) = 0;
};
