#include "engine/AudioEngineFactory.h"

#include "engine/AudioEngine_CoreAudio.h"

std::unique_ptr<AudioEngineBase> AudioEngineFactory::create()
{
    return std::make_unique<AudioEngine_CoreAudio>();
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
