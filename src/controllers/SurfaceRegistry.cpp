#include "controllers/SurfaceRegistry.h"

#include "controllers/HidController_CL12.h"
#include "controllers/HidController_Cantarem2.h"
#include "controllers/MidiController_CoreMIDI.h"
#include "controllers/NetworkController_CL12.h"

const std::vector<const SurfaceKind*>& SurfaceRegistry::kinds()
{
    // A name that holds the words of two MIDI kinds is the earlier one's:
    // an X-Touch before the CL-12 bridge, the bridge before the nanoKONTROL2.
    static const std::vector<const SurfaceKind*> all = {
        &HidController_Cantarem2::surfaceKind(),
        &HidController_CL12::surfaceKind(),
        &NetworkController_CL12::surfaceKind(),
        &MidiController_CoreMIDI::xTouchSurfaceKind(),
        &MidiController_CoreMIDI::cl12BridgeSurfaceKind(),
        &MidiController_CoreMIDI::nanoKontrol2SurfaceKind(),
        &MidiController_CoreMIDI::midiDeviceSurfaceKind(),
    };
    return all;
}

const SurfaceKind& SurfaceRegistry::forName(const std::string& deviceName)
{
    for (const SurfaceKind* kind : kinds()) {
        if (kind->matches(deviceName))
            return *kind;
    }
    return MidiController_CoreMIDI::midiDeviceSurfaceKind();
}
