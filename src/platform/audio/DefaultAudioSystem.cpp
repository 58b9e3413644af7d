#include "platform/audio/DefaultAudioSystem.h"

#include "core/DebugLog.h"
#include "platform/audio/CombinedAudioSystem.h"
#include "platform/audio/JackAudioSystem.h"
#include "platform/audio/VirtualAudioDescription.h"
#include "platform/audio/VirtualAudioSystem.h"

#include <cmath>
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
    auto virtualSystem = std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::RealTime, description);
    std::string reason;
    std::shared_ptr<JackAudioSystem> jack = JackAudioSystem::connect(std::string(), reason);
    if (!jack) {
        debugLog("JACK: No JACK server found (" + reason + ") - only the virtual devices are offered");
        return virtualSystem;
    }
    double sampleRate = 0.0;
    uint32_t bufferFrames = 0;
    jack->getNominalSampleRate(JackAudioSystem::kDeviceId, sampleRate);
    jack->getBufferFrameSize(JackAudioSystem::kDeviceId, bufferFrames);
    debugLog("JACK: Server '" + jack->serverName() + "' found: " + jack->deviceName() + " at "
             + std::to_string(std::lround(sampleRate)) + " Hz, " + std::to_string(bufferFrames) + " frames");
    return std::make_shared<CombinedAudioSystem>(std::vector<std::shared_ptr<AudioSystem>>{virtualSystem, jack});
}
