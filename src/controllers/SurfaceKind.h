#pragma once

#include "controllers/MidiControllerBase.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// What the program knows about one kind of control surface: how a device
// name is recognised as one, how it is listed and opened, and what it can
// do. Each driver describes the kinds it serves next to its own code; the
// SurfaceRegistry lists them all, and everything that used to ask a device
// name "are you a ...?" asks the kind instead.
//
// Threads: the descriptions are constant. open and startReplacement run on
// any thread (the controller watchdog's worker among them); isPresent on
// any thread; the rest on the GUI thread.
struct SurfaceKind {
    // How the scan lists a device of this kind.
    enum class Listing {
        MidiSource,   // among the MIDI system's sources, under the source's name
        WhenPresent,  // under `name`, after the MIDI sources, when isPresent says so
        Always,       // under `name`, after the MIDI sources, always
    };

    // --- Recognising a device name ---
    // A device of exactly this name; empty for the kinds recognised by words.
    std::string name;
    // A MIDI device whose name holds any of these words; with `name` empty
    // and no words, every name (the generic MIDI device, registered last).
    std::vector<std::string> nameWords;
    // The assignment matrix's column head; empty: the name's first four bytes.
    std::string abbreviation;
    // Where the program goes by a surface's family rather than by the driver
    // that opens it (the column head, and whether a fader owns its track's
    // level), a device name holding any of these words counts as this kind:
    // a MIDI port named "Cantarem ..." is headed "CA" like the HID surface.
    std::vector<std::string> familyWords;

    // --- Detecting and opening ---
    Listing listing = Listing::MidiSource;
    bool (*isPresent)() = nullptr;  // WhenPresent
    std::string presentLog;         // the scan's log line when it lists the device
    std::string absentLog;          // the scan's log line when it does not
    // Makes and starts a driver for the device of that name (networkPort:
    // where a network surface listens) and logs the outcome; null when it
    // could not be opened, with nothing left open. hasOutput: the driver
    // takes fader positions and button lights.
    std::unique_ptr<MidiControllerBase> (*open)(const std::string& name, uint16_t networkPort,
                                                 bool& hasOutput) = nullptr;

    // --- What it can do ---
    int faderCount = 8;
    int fadersPerBank = 8;          // the bank size of assignments saved by bank, before faders were assigned one by one
    bool drivesGlobalKeys = false;  // its buttons 12 and up reach the window's global keys
    bool sendsMidi = false;         // its driver offers a MidiMessagePort
    bool takesFaderPositions = true;  // with an output, its faders are moved to the screen's levels
    // Its faders are not moved by the program: where one stands is the level
    // of its track, and the screen fader follows it.
    bool faderOwnsLevel = false;
    // Fader positions read back from the driver, for the log as "Got N fader
    // positions from <readBackLabel>"; empty: none are read back.
    std::string readBackLabel;
    // False while the driver's positions are not valid yet (null: always
    // valid), logged as notReadYetLog.
    bool (*positionsKnown)(const MidiControllerBase& driver) = nullptr;
    std::string notReadYetLog;

    // --- Reopened when lost (all null: a kind that is not) ---
    // The driver lost its device (it was unplugged).
    bool (*isLost)(const MidiControllerBase& driver) = nullptr;
    // The device is back.
    bool (*isBack)() = nullptr;
    // GUI thread: a fresh, not yet started driver that carries on where the
    // lost one stopped; lets the lost one go of the device first where the
    // device must be free for the fresh one.
    std::unique_ptr<MidiControllerBase> (*makeReplacement)(MidiControllerBase& lost) = nullptr;
    // Any thread: starts the fresh driver before anyone else knows it.
    bool (*startReplacement)(MidiControllerBase& fresh) = nullptr;

    bool reopenedWhenLost() const { return isLost != nullptr; }
    bool matches(const std::string& deviceName) const;
    bool isFamilyOf(const std::string& deviceName) const;
};
