// Routing: port names resolved to channel indexes and published to the audio
// thread. Until the routing snapshots are built these operations store
// nothing and the lists they answer are empty.
#include "engine/AudioEngine_CoreAudio.h"

void AudioEngine_CoreAudio::setInputRouting(const std::vector<std::string>& /*inputPorts*/) {}
void AudioEngine_CoreAudio::setMixOutputPort(const std::string& /*port*/) {}
void AudioEngine_CoreAudio::setSlateMicPort(const std::string& /*port*/) {}
void AudioEngine_CoreAudio::setSlateMicInputEnabled(bool /*enabled*/) {}
void AudioEngine_CoreAudio::enableSlateMic(bool /*enabled*/) {}
void AudioEngine_CoreAudio::setSlateMicMonitorOnly(bool /*monitorOnly*/) {}
void AudioEngine_CoreAudio::setSlateMicGain(int /*gainDb*/) {}
void AudioEngine_CoreAudio::setComInput1Port(const std::string& /*port*/) {}
void AudioEngine_CoreAudio::setComInput1Enabled(bool /*enabled*/) {}
void AudioEngine_CoreAudio::setComInput2Port(const std::string& /*port*/) {}
void AudioEngine_CoreAudio::setComInput2Enabled(bool /*enabled*/) {}
void AudioEngine_CoreAudio::enableSlateMicToCom(bool /*enabled*/) {}
void AudioEngine_CoreAudio::cleanupComPorts() {}
void AudioEngine_CoreAudio::setComsOutputPorts(const std::vector<std::string>& /*ports*/) {}

void AudioEngine_CoreAudio::applyOutputRouting(const std::vector<std::vector<std::string>>& /*routingMatrix*/,
                                               const std::vector<std::map<std::string, bool>>& /*routingStates*/,
                                               const std::vector<std::string>& /*outputPortNames*/,
                                               const std::vector<std::string>& /*unusedPortNames*/,
                                               const std::vector<std::string>& /*mixOutputPorts*/,
                                               const std::vector<std::string>& /*comsOutputPorts*/,
                                               const std::vector<std::string>& /*ltcGenOutputPorts*/)
{
}

std::vector<int> AudioEngine_CoreAudio::getMixOutputIndices() const
{
    return {};
}

std::vector<int> AudioEngine_CoreAudio::getComsOutputIndices() const
{
    return {};
}
