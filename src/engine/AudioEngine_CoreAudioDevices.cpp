// Device enumeration and selection, channel names and the buffer size.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/settings/AudioKeys.h"

#include <numeric>

namespace {

constexpr const char* kUnknownChannelName = "Unknown";

}  // namespace

std::vector<std::string> AudioEngine_CoreAudio::getAvailableInputChannels() const
{
    return inputChannelNames_;
}

std::vector<std::string> AudioEngine_CoreAudio::getAvailableOutputChannels() const
{
    return outputChannelNames_;
}

int AudioEngine_CoreAudio::getSampleRate() const
{
    return sampleRate_;
}

int AudioEngine_CoreAudio::getBufferSize() const
{
    return bufferSizeFrames_;
}

std::string AudioEngine_CoreAudio::getCurrentDeviceName() const
{
    return currentDeviceName_;
}

std::vector<int> AudioEngine_CoreAudio::getAvailableBufferSizes() const
{
    return {64, 128, 256, 512, 1024, 2048, 4096};
}

void AudioEngine_CoreAudio::forceRefreshPorts()
{
    updateChannelInfo();
}

int AudioEngine_CoreAudio::getDeviceChannelCount(AudioDeviceId device, bool input) const
{
    std::vector<uint32_t> streams;
    if (audioSystem_->getStreamConfiguration(device, input ? AudioScope::Input : AudioScope::Output, streams)
        != kAudioOk)
        return 0;
    return static_cast<int>(std::accumulate(streams.begin(), streams.end(), 0u));
}

std::vector<AudioDeviceId> AudioEngine_CoreAudio::getAudioDeviceIDs(bool input) const
{
    std::vector<AudioDeviceId> all;
    if (audioSystem_->getDeviceIds(all) != kAudioOk)
        return {};
    std::vector<AudioDeviceId> withChannels;
    for (AudioDeviceId device : all) {
        if (getDeviceChannelCount(device, input) > 0)
            withChannels.push_back(device);
    }
    return withChannels;
}

std::string AudioEngine_CoreAudio::getDeviceName(AudioDeviceId device) const
{
    std::string name;
    if (audioSystem_->getDeviceName(device, name) != kAudioOk)
        return "Unknown Device";
    return name;
}

std::string AudioEngine_CoreAudio::getSubDeviceName(AudioDeviceId device) const
{
    std::string name;
    if (audioSystem_->getDeviceName(device, name) != kAudioOk)
        return "Unknown";
    return name;
}

std::string AudioEngine_CoreAudio::getChannelName(AudioDeviceId device, int channel, bool input) const
{
    const AudioScope scope = input ? AudioScope::Input : AudioScope::Output;
    // Some drivers answer the first question with nothing useful and the
    // second with the name, so the question is asked twice.
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::string name;
        if (audioSystem_->getElementName(device, scope, static_cast<uint32_t>(channel + 1), name) == kAudioOk
            && !name.empty() && name != kUnknownChannelName)
            return name;
    }
    return {};
}

std::vector<AudioDeviceId> AudioEngine_CoreAudio::getAggregateSubDevices(AudioDeviceId device) const
{
    std::vector<std::string> uids;
    if (audioSystem_->getSubDeviceUids(device, uids) != kAudioOk)
        return {};
    std::vector<AudioDeviceId> subDevices;
    for (const std::string& uid : uids) {
        AudioDeviceId subDevice = kNoAudioDevice;
        if (audioSystem_->getDeviceForUid(uid, subDevice) == kAudioOk && subDevice != kNoAudioDevice)
            subDevices.push_back(subDevice);
    }
    return subDevices;
}

bool AudioEngine_CoreAudio::isAggregateDevice(AudioDeviceId device) const
{
    std::vector<std::string> uids;
    return audioSystem_->getSubDeviceUids(device, uids) == kAudioOk && !uids.empty();
}

std::vector<std::string> AudioEngine_CoreAudio::getAvailableDevices()
{
    debugLog("CoreAudio: Enumerating audio devices...");
    std::vector<AudioDeviceId> devices;
    const AudioStatus status = audioSystem_->getDeviceIds(devices);
    if (status != kAudioOk || devices.empty()) {
        debugLog("CoreAudio: Failed to get device list size: " + std::to_string(status));
        return {};
    }
    debugLog("CoreAudio: Found " + std::to_string(devices.size()) + " total audio devices");
    std::vector<std::string> names;
    for (AudioDeviceId device : devices) {
        std::string name;
        if (audioSystem_->getDeviceName(device, name) != kAudioOk)
            name = "Unknown";
        const int inputs = getDeviceChannelCount(device, true);
        debugLog("CoreAudio: Device '" + name + "' (ID=" + std::to_string(device) + ") has "
                 + std::to_string(inputs) + " input channels");
        if (inputs > 0)
            names.push_back(name);
    }
    debugLog("CoreAudio: " + std::to_string(names.size()) + " devices with input capability");
    return names;
}

bool AudioEngine_CoreAudio::selectDevice(const std::string& name)
{
    debugLog("CoreAudio: selectDevice called with: " + name);
    return selectInputDevice(name);
}

bool AudioEngine_CoreAudio::selectInputDevice(const std::string& name)
{
    if (takeRecorder_.writerState() != WriterState::Idle) {
        debugLog("CoreAudio: Refusing device switch while take is recording, draining, or finalizing");
        return false;
    }
    debugLog("CoreAudio: selectInputDevice looking for: " + name);
    const std::vector<AudioDeviceId> devices = getAudioDeviceIDs(true);
    debugLog("CoreAudio: found " + std::to_string(devices.size()) + " devices");
    for (AudioDeviceId device : devices) {
        if (getDeviceName(device) != name)
            continue;
        debugLog("CoreAudio: found matching device, switching...");
        const bool wasRunning = isRunning();
        if (wasRunning)
            stop();
        teardownAudioUnit();
        inputDeviceId_ = device;
        currentDeviceName_ = name;
        if (!setupAudioUnit()) {
            debugLog("CoreAudio: setupAudioUnit failed!");
            return false;
        }
        updateChannelInfo();
        debugLog("CoreAudio: device switched successfully, " + std::to_string(inputChannelCount_) + " inputs, "
                 + std::to_string(outputChannelCount_) + " outputs");
        if (wasRunning)
            start();
        return true;
    }
    return false;
}

void AudioEngine_CoreAudio::updateChannelInfo()
{
    inputChannelNames_.clear();
    outputChannelNames_.clear();
    if (inputDeviceId_ != kNoAudioDevice && isAggregateDevice(inputDeviceId_)) {
        updateChannelInfoForAggregate(inputDeviceId_);
        return;
    }
    for (int channel = 0; channel < inputChannelCount_; ++channel) {
        std::string name = getChannelName(inputDeviceId_, channel, true);
        inputChannelNames_.push_back(name.empty() ? currentDeviceName_ + " Input " + std::to_string(channel + 1)
                                                  : name);
    }
    for (int channel = 0; channel < outputChannelCount_; ++channel) {
        std::string name = getChannelName(outputDeviceId_, channel, false);
        outputChannelNames_.push_back(
            name.empty() ? currentDeviceName_ + " Output " + std::to_string(channel + 1) : name);
    }
}

void AudioEngine_CoreAudio::updateChannelInfoForAggregate(AudioDeviceId aggregate)
{
    inputChannelNames_.clear();
    outputChannelNames_.clear();
    const std::vector<AudioDeviceId> subDevices = getAggregateSubDevices(aggregate);
    const auto nameScope = [&](bool input, int wanted, std::vector<std::string>& names) {
        if (!subDevices.empty()) {
            for (AudioDeviceId subDevice : subDevices) {
                const std::string subName = getSubDeviceName(subDevice);
                const int channels = getDeviceChannelCount(subDevice, input);
                for (int k = 0; k < channels && static_cast<int>(names.size()) < wanted; ++k) {
                    std::string name = getChannelName(subDevice, k, input);
                    names.push_back(name.empty() ? subName + " Ch " + std::to_string(k + 1) : name);
                }
            }
        }
        const std::string fallback = currentDeviceName_ + (input ? " Input " : " Output ");
        while (static_cast<int>(names.size()) < wanted)
            names.push_back(fallback + std::to_string(names.size() + 1));
    };
    nameScope(true, inputChannelCount_, inputChannelNames_);
    nameScope(false, outputChannelCount_, outputChannelNames_);
}

bool AudioEngine_CoreAudio::setBufferSize(int frames)
{
    if (inputDeviceId_ == kNoAudioDevice) {
        debugLog("CoreAudio: Cannot set buffer size - no device selected");
        return false;
    }
    // Changing the size stops audio and rebuilds the output unit: during a
    // take or its post-roll that would leave a hole in the files.
    if (takeRecorder_.writerState() != WriterState::Idle) {
        debugLog("CoreAudio: Refusing buffer size change while take is recording, draining, or finalizing");
        return false;
    }
    debugLog("CoreAudio: Setting buffer size to " + std::to_string(frames));
    const bool wasRunning = isRunning();
    if (wasRunning)
        stop();
    // An input-only device is captured directly while the unit runs on the
    // default output device, whose buffer size is the one the unit reads
    // back: both devices get the size, or the change would not take.
    AudioStatus status = frames > 0 ? audioSystem_->setBufferFrameSize(inputDeviceId_, static_cast<uint32_t>(frames))
                                    : kAudioErrorBadArgument;
    if (status == kAudioOk && outputDeviceId_ != kNoAudioDevice && outputDeviceId_ != inputDeviceId_)
        status = audioSystem_->setBufferFrameSize(outputDeviceId_, static_cast<uint32_t>(frames));
    if (status != kAudioOk) {
        debugLog("CoreAudio: Failed to set buffer size: " + std::to_string(status));
        if (wasRunning)
            start();
        return false;
    }
    teardownAudioUnit();
    bufferSizeFrames_ = frames;
    if (!setupAudioUnit()) {
        debugLog("CoreAudio: Failed to restart audio unit with new buffer size");
        return false;
    }
    updateChannelInfo();
    if (wasRunning)
        start();
    ConfigManager::getInstance()->setInt(AudioKeys::kBufferSize, frames);
    ConfigManager::getInstance()->saveConfig("");
    debugLog("CoreAudio: Buffer size set to " + std::to_string(bufferSizeFrames_));
    return true;
}
