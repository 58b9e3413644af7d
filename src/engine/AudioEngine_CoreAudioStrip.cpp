// The per-track channel strip: fader, trim, high-pass, EQ and limiter, and
// the automixer. Until the strip is part of the render path the setters
// store nothing and the getters answer the engine's initial values.
#include "engine/AudioEngine_CoreAudio.h"

namespace {

constexpr float kUnityGain = 1.0f;

}  // namespace

void AudioEngine_CoreAudio::setTrackGain(int /*track*/, float /*gainLinear*/) {}

float AudioEngine_CoreAudio::getTrackGain(int /*track*/) const
{
    return kUnityGain;
}

float AudioEngine_CoreAudio::getTargetTrackGain(int /*track*/) const
{
    return kUnityGain;
}

void AudioEngine_CoreAudio::setTrackDigitalGain(int /*track*/, float /*gainDb*/) {}

float AudioEngine_CoreAudio::getTrackDigitalGain(int /*track*/) const
{
    return 0.0f;
}

void AudioEngine_CoreAudio::setTrackHPFEnabled(int /*track*/, bool /*enabled*/) {}

bool AudioEngine_CoreAudio::getTrackHPFEnabled(int /*track*/) const
{
    return false;
}

void AudioEngine_CoreAudio::setTrackHPFFrequency(int /*track*/, float /*frequencyHz*/) {}

float AudioEngine_CoreAudio::getTrackHPFFrequency(int /*track*/) const
{
    return 0.0f;
}

void AudioEngine_CoreAudio::setTrackEQEnabled(int /*track*/, bool /*enabled*/) {}

bool AudioEngine_CoreAudio::getTrackEQEnabled(int /*track*/) const
{
    return false;
}

void AudioEngine_CoreAudio::setTrackEQBand(int /*track*/, int /*band*/, float /*frequencyHz*/, float /*gainDb*/,
                                           float /*q*/)
{
}

void AudioEngine_CoreAudio::getTrackEQBand(int /*track*/, int /*band*/, float& frequencyHz, float& gainDb,
                                           float& q) const
{
    frequencyHz = 0.0f;
    gainDb = 0.0f;
    q = 0.0f;
}

void AudioEngine_CoreAudio::setTrackLimiterEnabled(int /*track*/, bool /*enabled*/) {}

bool AudioEngine_CoreAudio::getTrackLimiterEnabled(int /*track*/) const
{
    return false;
}

void AudioEngine_CoreAudio::setTrackLimiterThreshold(int /*track*/, float /*thresholdDb*/) {}

float AudioEngine_CoreAudio::getTrackLimiterThreshold(int /*track*/) const
{
    return 0.0f;
}

AutomixEngine* AudioEngine_CoreAudio::getAutomixEngine()
{
    return nullptr;  // the automixer is not built yet
}
