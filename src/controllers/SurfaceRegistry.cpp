#include "controllers/SurfaceRegistry.h"

#include "controllers/HidController_CL12.h"
#include "controllers/HidController_Cantarem2.h"
#include "controllers/MidiController_CoreMIDI.h"
#include "controllers/NetworkController_CL12.h"

const std::vector<const SurfaceKind*>& SurfaceRegistry::kinds()
{
    // A name that holds the words of two kinds is the earlier one's: an
    // X-Touch before everything (no exact name below holds its words), the
    // Cantarem family before the nanoKONTROL2's, the CL-12 bridge before the
    // nanoKONTROL2.
    static const std::vector<const SurfaceKind*> all = {
        &MidiController_CoreMIDI::xTouchSurfaceKind(),
        &HidController_Cantarem2::surfaceKind(),
        &HidController_CL12::surfaceKind(),
        &NetworkController_CL12::surfaceKind(),
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

const SurfaceKind* SurfaceRegistry::familyOf(const std::string& deviceName)
{
    for (const SurfaceKind* kind : kinds()) {
        if (kind->isFamilyOf(deviceName))
            return kind;
    }
    return nullptr;
}

bool SurfaceRegistry::faderOwnsLevel(const std::string& deviceName)
{
    const SurfaceKind* family = familyOf(deviceName);
    return family != nullptr && family->faderOwnsLevel;
}
