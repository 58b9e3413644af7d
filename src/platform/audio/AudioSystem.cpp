#include "platform/audio/AudioSystem.h"

AudioSystem::~AudioSystem() = default;
