#include "platform/midi/MidiSystem.h"

MidiSystem::~MidiSystem() = default;
