#pragma once

#include "engine/AudioEngineBase.h"
#include "platform/audio/AudioSystem.h"

#include <functional>
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

    // Tests build the program's engine on an audio system they keep (the
    // virtual one) with a short recording ring; an empty pointer returns to
    // the platform's default system. GUI thread, before the engine is made.
    static void setAudioSystemForEngines(std::shared_ptr<AudioSystem> system, int recordingRingSeconds);

    // Tests hand the program an engine of their own making (a double that
    // records what it is told); an empty function returns to the real
    // engine. GUI thread, before the engine is made.
    static void setEngineMakerForTests(std::function<std::unique_ptr<AudioEngineBase>()> maker);
};
