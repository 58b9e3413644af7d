// Meters and LTC input. Until the meters and the LTC reader are part of the
// render path these answer silence and no timecode.
#include "engine/AudioEngine_CoreAudio.h"

bool AudioEngine_CoreAudio::setupInputPorts()
{
    return true;
}

void AudioEngine_CoreAudio::cleanupInputPorts() {}
void AudioEngine_CoreAudio::cleanupTrackOutputPorts() {}

float AudioEngine_CoreAudio::getTrackPeakLevel(int /*track*/) const
{
    return 0.0f;
}

float AudioEngine_CoreAudio::getMainPeakLevel() const
{
    return 0.0f;
}

bool AudioEngine_CoreAudio::hasAnyTrackClipped() const
{
    return false;
}

void AudioEngine_CoreAudio::setLtcInputPort(const std::string& /*port*/) {}
void AudioEngine_CoreAudio::setLtcInputEnabled(bool /*enabled*/) {}

Timecode AudioEngine_CoreAudio::getTimecode() const
{
    return Timecode{};
}

bool AudioEngine_CoreAudio::hasValidTimecode() const
{
    return false;
}

double AudioEngine_CoreAudio::getDetectedFramerate() const
{
    return 0.0;
}

void AudioEngine_CoreAudio::setForcedFramerate(double /*fps*/) {}

double AudioEngine_CoreAudio::getForcedFramerate() const
{
    return 0.0;
}

bool AudioEngine_CoreAudio::isFramerateForced() const
{
    return false;
}
