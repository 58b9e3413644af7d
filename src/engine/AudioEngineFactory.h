#pragma once

#include "engine/AudioEngineBase.h"

#include <memory>
#include <string>
#include <vector>

// Makes the audio engine. The engine it returns has started its own threads
// but opened no device: call initialize, then selectDevice.
class AudioEngineFactory {
public:
    enum EngineType { CoreAudio = 2 };

    static std::unique_ptr<AudioEngineBase> create();
    // The type does not change what is built.
    static std::unique_ptr<AudioEngineBase> create(EngineType type);
    static EngineType getDefaultType();
    static std::vector<EngineType> getAvailableTypes();
    // "CoreAudio" for CoreAudio, "Unknown" for any other value.
    static std::string getTypeName(EngineType type);
};
