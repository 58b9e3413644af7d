#include "engine/AudioEngineFactory.h"

#include "engine/AudioEngine_CoreAudio.h"

namespace {

std::shared_ptr<AudioSystem>& audioSystemOverride()
{
    static std::shared_ptr<AudioSystem> system;
    return system;
}

int overrideRingSeconds = 1;

std::function<std::unique_ptr<AudioEngineBase>()>& engineMakerOverride()
{
    static std::function<std::unique_ptr<AudioEngineBase>()> maker;
    return maker;
}

} // namespace

std::unique_ptr<AudioEngineBase> AudioEngineFactory::create()
{
    if (engineMakerOverride())
        return engineMakerOverride()();
    if (audioSystemOverride())
        return std::make_unique<AudioEngine_CoreAudio>(audioSystemOverride(), overrideRingSeconds);
    return std::make_unique<AudioEngine_CoreAudio>();
}

void AudioEngineFactory::setAudioSystemForEngines(std::shared_ptr<AudioSystem> system, int recordingRingSeconds)
{
    audioSystemOverride() = std::move(system);
    overrideRingSeconds = recordingRingSeconds;
}

void AudioEngineFactory::setEngineMakerForTests(std::function<std::unique_ptr<AudioEngineBase>()> maker)
{
    engineMakerOverride() = std::move(maker);
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
