#include "platform/audio/AudioOutputUnit.h"

AudioOutputUnit::~AudioOutputUnit() = default;
