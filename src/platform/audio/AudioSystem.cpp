#include "platform/audio/AudioSystem.h"

AudioSystem::~AudioSystem() = default;

int64_t AudioSystem::getDroppedFrameCount() const
{
    return 0;
}
