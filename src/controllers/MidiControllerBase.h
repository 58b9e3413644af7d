#pragma once

#include "controllers/MidiMessage.h"
#include "controllers/MidiMessagePort.h"
#include "controllers/TransportButton.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The one interface through which the controller manager drives every
// control surface, whatever its transport. What a driver's surface is and
// can do is told by its SurfaceKind (SurfaceRegistry.h); a driver that
// speaks MIDI also offers its raw messages (midiMessagePort).
//
// Events: faders (index from 0 in the device's order, 14-bit value 0 bottom
// to 16383 top), knobs (index from 0, the device's own value), buttons
// (0 to 11 strip buttons, button n on the strip of fader n; 12 and up global
// buttons; a negative number is a transport button, see TransportButton.h;
// pressed true on press, false on release).
//
// Calling order a driver accepts: construct, initialize, openInput (and
// openOutput), set the callbacks, events and feedback, closeInput,
// closeOutput, shutdown, destroy.
//
// Threads: a driver calls its callbacks on a thread of its own choosing, one
// callback at a time, in the order its device sent the events; an event that
// finds its callback empty is dropped. Every other member is called on the
// GUI thread. After closeInput returns no callback runs any more.
class MidiControllerBase {
public:
    // Kept under this name for the callers that spell it so.
    using MidiMessage = ::MidiMessage;

    virtual ~MidiControllerBase();

    virtual bool initialize() = 0;
    virtual void shutdown() = 0;  // harmless when not initialised
    virtual bool isInitialized() = 0;

    virtual std::vector<std::string> getInputDevices() const = 0;
    virtual std::vector<std::string> getOutputDevices() const = 0;
    virtual bool openInput(const std::string& name) = 0;
    virtual bool openOutput(const std::string& name) = 0;
    virtual void closeInput() = 0;
    virtual void closeOutput() = 0;

    // Each replaces the earlier callback; an empty function switches that
    // kind of event off.
    virtual void setFaderCallback(std::function<void(int, int)> callback) = 0;
    virtual void setKnobCallback(std::function<void(int, int)> callback) = 0;
    virtual void setButtonCallback(std::function<void(int, bool)> callback) = 0;

    // Moves a motorised fader (14-bit value); false without motorised faders
    // or output.
    virtual bool sendFaderPosition(int fader, int value) = 0;
    virtual bool sendButtonLED(int index, bool on) = 0;

    virtual std::string getCurrentInputDevice() = 0;
    virtual std::string getCurrentOutputDevice() = 0;
    // The last known hardware position of every fader (14-bit, fader 0
    // first); empty while the driver does not know them.
    virtual std::vector<int> getCurrentFaderPositions() const = 0;

    // The driver's raw MIDI messages; null for a driver that speaks no MIDI.
    virtual MidiMessagePort* midiMessagePort() { return nullptr; }
};
