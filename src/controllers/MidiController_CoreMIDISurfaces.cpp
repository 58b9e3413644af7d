// The kinds of control surface the MIDI driver serves.

#include "controllers/MidiController_CoreMIDI.h"

#include "core/DebugLog.h"

#include <algorithm>

namespace {

std::unique_ptr<MidiControllerBase> openMidiDevice(const std::string& name, uint16_t, bool& hasOutput)
{
    auto driver = std::make_unique<MidiController_CoreMIDI>();
    driver->initialize();
    if (!driver->openInput(name)) {
        debugLog("Failed to open MIDI input: " + name);
        return nullptr;
    }
    // Fader positions and lights go back to a device whose output has the
    // same name as its input.
    const std::vector<std::string> outputs = driver->getOutputDevices();
    hasOutput = std::find(outputs.begin(), outputs.end(), name) != outputs.end();
    if (hasOutput)
        driver->openOutput(name);
    return driver;
}

SurfaceKind midiKind(std::vector<std::string> words, int faderCount)
{
    SurfaceKind kind;
    kind.nameWords = std::move(words);
    kind.open = &openMidiDevice;
    kind.faderCount = faderCount;
    kind.sendsMidi = true;
    return kind;
}

}  // namespace

const SurfaceKind& MidiController_CoreMIDI::xTouchSurfaceKind()
{
    static const SurfaceKind kind = [] {
        SurfaceKind k = midiKind({"X-TOUCH", "X-Touch", "XTOUCH"}, kXTouchFaderCount);
        k.abbreviation = "XT";
        k.familyWords = k.nameWords;
        // The driver reads its faders but never moves them; where they
        // stand is read back.
        k.takesFaderPositions = false;
        k.readBackLabel = "X-Touch";
        return k;
    }();
    return kind;
}

const SurfaceKind& MidiController_CoreMIDI::cl12BridgeSurfaceKind()
{
    static const SurfaceKind kind =
        midiKind({"CL-12", "CL12", "Bridge", "Network Session", "Network (UDP)"}, 12);
    return kind;
}

const SurfaceKind& MidiController_CoreMIDI::nanoKontrol2SurfaceKind()
{
    static const SurfaceKind kind = [] {
        SurfaceKind k = midiKind({"nanoKONTROL2", "NANOKONTROL2"}, 8);
        k.abbreviation = "NK2";
        k.familyWords = k.nameWords;
        return k;
    }();
    return kind;
}

const SurfaceKind& MidiController_CoreMIDI::midiDeviceSurfaceKind()
{
    static const SurfaceKind kind = midiKind({}, 8);
    return kind;
}
