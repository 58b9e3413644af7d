#include "engine/AudioEngineFactory.h"

#include "engine/AudioEngine_CoreAudio.h"

namespace {

std::shared_ptr<AudioSystem>& audioSystemOverride()
{
    static std::shared_ptr<AudioSystem> system;
    return system;
}

int overrideRingSeconds = 1;

} // namespace

std::unique_ptr<AudioEngineBase> AudioEngineFactory::create()
{
    if (audioSystemOverride())
        return std::make_unique<AudioEngine_CoreAudio>(audioSystemOverride(), overrideRingSeconds);
    return std::make_unique<AudioEngine_CoreAudio>();
}

void AudioEngineFactory::setAudioSystemForEngines(std::shared_ptr<AudioSystem> system, int recordingRingSeconds)
{
    audioSystemOverride() = std::move(system);
    overrideRingSeconds = recordingRingSeconds;
}

std::unique_ptr<AudioEngineBase> AudioEngineFactory::create(EngineType /*type*/)
{
    return create();
}

AudioEngineFactory::EngineType AudioEngineFactory::getDefaultType()
{
    return CoreAudio;
}

std::vector<AudioEngineFactory::EngineType> AudioEngineFactory::getAvailableTypes()
{
    return {CoreAudio};
}

std::string AudioEngineFactory::getTypeName(EngineType type)
{
    return type == CoreAudio ? "CoreAudio" : "Unknown";
}
