#include "controllers/MidiControllerFactory.h"

#include "controllers/MidiController_CoreMIDI.h"

std::unique_ptr<MidiControllerBase> MidiControllerFactory::create()
{
    return std::make_unique<MidiController_CoreMIDI>();
}

std::unique_ptr<MidiControllerBase> MidiControllerFactory::create(ControllerType)
{
    return create();
}

MidiControllerFactory::ControllerType MidiControllerFactory::getDefaultType()
{
    return CoreMIDI;
}

std::string MidiControllerFactory::getTypeName(ControllerType type)
{
    return type == CoreMIDI ? "Core MIDI" : "Unknown";
}
