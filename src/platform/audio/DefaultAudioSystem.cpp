#include "platform/audio/DefaultAudioSystem.h"

#include "core/DebugLog.h"
#include "platform/audio/VirtualAudioDescription.h"
#include "platform/audio/VirtualAudioSystem.h"

#include <cstdlib>

std::shared_ptr<AudioSystem> createDefaultAudioSystem()
{
    VirtualAudioDescription description = VirtualAudioDescription::builtInDefault();
    const char* path = std::getenv(kVirtualAudioEnvironmentVariable);
    if (path != nullptr && *path != '\0') {
        std::string error;
        VirtualAudioDescription fromFile;
        if (VirtualAudioDescription::fromFile(path, fromFile, error)) {
            description = std::move(fromFile);
            debugLog("VirtualAudio: Devices from " + std::string(path));
        } else {
            debugLog("VirtualAudio: Cannot use " + std::string(path) + " (" + error
                     + "), using the built-in devices");
        }
    }
    return std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::RealTime, description);
}
