// LTC generator output, record beep, test tone, bitbucket mode and the aux
// buses. Until these stages are part of the render path the setters store
// nothing and the getters answer the engine's initial values.
#include "engine/AudioEngine_CoreAudio.h"

namespace {

constexpr float kInitialAuxLevel = 1.0f;

}  // namespace

void AudioEngine_CoreAudio::setLtcGenerator(LtcEncoder* /*generator*/) {}
void AudioEngine_CoreAudio::setLtcGeneratorOutput(int /*channel*/) {}
void AudioEngine_CoreAudio::enableLtcGenerator(bool /*enabled*/) {}
void AudioEngine_CoreAudio::setBeepOnRecordEnabled(bool /*enabled*/) {}
void AudioEngine_CoreAudio::triggerRecordBeep(bool /*doubleBeep*/) {}
void AudioEngine_CoreAudio::setTestToneEnabled(bool /*enabled*/) {}

bool AudioEngine_CoreAudio::isTestToneEnabled() const
{
    return false;
}

void AudioEngine_CoreAudio::setBitbucketMode(bool /*enabled*/) {}

bool AudioEngine_CoreAudio::isBitbucketMode() const
{
    return false;
}

void AudioEngine_CoreAudio::setAuxLevel(int /*aux*/, float /*level*/) {}

float AudioEngine_CoreAudio::getAuxLevel(int /*aux*/) const
{
    return kInitialAuxLevel;
}

void AudioEngine_CoreAudio::setTrackAuxSend(int /*track*/, int /*aux*/, float /*level*/) {}

float AudioEngine_CoreAudio::getTrackAuxSend(int /*track*/, int /*aux*/) const
{
    return 0.0f;
}

void AudioEngine_CoreAudio::setAuxOutputIndices(int /*aux*/, const std::vector<int>& /*channels*/) {}

std::vector<int> AudioEngine_CoreAudio::getAuxOutputIndices(int /*aux*/) const
{
    return {};
}

void AudioEngine_CoreAudio::setTrackAuxSendPreFader(int /*track*/, int /*aux*/, bool /*preFader*/) {}

bool AudioEngine_CoreAudio::getTrackAuxSendPreFader(int /*track*/, int /*aux*/) const
{
    return false;
}

void AudioEngine_CoreAudio::setMixSendLevel(int /*aux*/, float /*level*/) {}

float AudioEngine_CoreAudio::getMixSendLevel(int /*aux*/) const
{
    return 0.0f;
}

void AudioEngine_CoreAudio::setMixSendPreFader(int /*aux*/, bool /*preFader*/) {}

bool AudioEngine_CoreAudio::getMixSendPreFader(int /*aux*/) const
{
    return false;
}
