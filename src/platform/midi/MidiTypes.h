#pragma once

#include <cstdint>

// Plain values shared by every MIDI system implementation and its callers.

// Every MIDI platform call answers a status: 0 is success, anything else is
// the reason, logged by the caller in decimal. The ALSA system passes the
// library's negative errno values through unchanged.
using MidiStatus = int32_t;

constexpr MidiStatus kMidiOk = 0;
constexpr MidiStatus kMidiErrorUnknownObject = -10;  // no such client, port or endpoint
constexpr MidiStatus kMidiErrorBadArgument = -50;    // a parameter the call cannot use
constexpr MidiStatus kMidiErrorNoProperty = -11;     // the endpoint's name cannot be read
constexpr MidiStatus kMidiErrorOffline = -13;        // the endpoint is not reachable now
constexpr MidiStatus kMidiErrorUnsupported = -14;    // a message this system cannot carry

// Objects are numbered by the system; 0 is "none".
using MidiClientRef = uint32_t;
using MidiPortRef = uint32_t;
using MidiEndpointRef = uint32_t;

// Which name of an endpoint to read: the one a user sees, or the plain
// object name underneath it.
enum class MidiNameProperty { DisplayName, Name };
