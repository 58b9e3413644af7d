// The output unit's set-up and teardown, and direct capture of input-only
// devices through a per-channel ring.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"

#include <algorithm>
#include <cmath>

namespace {

AudioStreamFormat floatFormat(int sampleRate, int channels)
{
    return AudioStreamFormat{static_cast<double>(sampleRate), static_cast<uint32_t>(channels), true, true};
}

std::string statusText(AudioStatus status)
{
    return std::to_string(status);
}

}  // namespace

bool AudioEngine_CoreAudio::setupAudioUnit()
{
    if (inputDeviceId_ == kNoAudioDevice) {
        debugLog("CoreAudio: No input device selected yet - deferring audio unit setup");
        return true;
    }
    if (!createAudioUnit())
        return false;
    const bool useDirectCapture = bindUnitToDevice();
    const AudioStatus outputStatus = outputUnit_->enableIO(AudioUnitBus::Output, true);
    debugLog(outputStatus != kAudioOk ? "CoreAudio: Failed to enable output: " + statusText(outputStatus)
                                      : std::string("CoreAudio: Output enabled on bus 0"));
    if (useDirectCapture) {
        debugLog(setupDirectInputCapture(inputDeviceId_)
                     ? "CoreAudio: Direct input capture enabled"
                     : "CoreAudio: Warning - Failed to set up direct input capture");
    }
    configureUnitFormatsAndCallback();
    const AudioStatus initStatus = outputUnit_->initialize();
    if (initStatus != kAudioOk) {
        debugLog("CoreAudio: Failed to initialize Audio Unit: " + statusText(initStatus));
        // The capture was started for this unit; it must not outlive it.
        teardownAudioUnit();
        return false;
    }
    buildInputBuffers();
    resetStripGainsForUnit();
    debugLog("CoreAudio: Audio Unit setup complete - " + std::to_string(inputChannelCount_) + " inputs, "
             + std::to_string(outputChannelCount_) + " outputs");
    startUnitAndListen();
    return true;
}

bool AudioEngine_CoreAudio::createAudioUnit()
{
    const AudioStatus status = audioSystem_->createOutputUnit(outputUnit_);
    if (status != kAudioOk || !outputUnit_) {
        outputUnit_.reset();
        debugLog("CoreAudio: Failed to create Audio Unit instance: " + statusText(status));
        return false;
    }
    const AudioStatus deviceStatus = outputUnit_->setCurrentDevice(inputDeviceId_);
    debugLog(deviceStatus != kAudioOk ? "CoreAudio: Warning - immediate device set failed: " + statusText(deviceStatus)
                                      : "CoreAudio: Device set IMMEDIATELY after AU creation: "
                                            + getDeviceName(inputDeviceId_));
    return true;
}

// Binds the unit to the input device when it has outputs, else to the
// default output device. True when the input must be captured directly.
bool AudioEngine_CoreAudio::bindUnitToDevice()
{
    const std::string name = getDeviceName(inputDeviceId_);
    if (getDeviceChannelCount(inputDeviceId_, false) >= 1) {
        const AudioStatus deviceStatus = outputUnit_->setCurrentDevice(inputDeviceId_);
        if (deviceStatus != kAudioOk) {
            debugLog("CoreAudio: Failed to set device: " + statusText(deviceStatus));
        } else {
            debugLog("CoreAudio: Device set FIRST: " + name + " (inputs: "
                     + std::to_string(getDeviceChannelCount(inputDeviceId_, true)) + ", outputs: "
                     + std::to_string(getDeviceChannelCount(inputDeviceId_, false)) + ")");
            outputDeviceId_ = inputDeviceId_;
        }
        const AudioStatus inputStatus = outputUnit_->enableIO(AudioUnitBus::Input, true);
        debugLog(inputStatus != kAudioOk ? "CoreAudio: Failed to enable input: " + statusText(inputStatus)
                                         : std::string("CoreAudio: Input enabled on bus 1"));
        return false;
    }
    debugLog("CoreAudio: Device '" + name + "' is input-only");
    debugLog("CoreAudio: Will use direct device input capture (bypassing AUHAL for input)");
    AudioDeviceId defaultOutput = kNoAudioDevice;
    if (audioSystem_->getDefaultOutputDevice(defaultOutput) == kAudioOk)
        outputDeviceId_ = defaultOutput;
    outputUnit_->setCurrentDevice(outputDeviceId_);
    debugLog("CoreAudio: Output device set: " + getDeviceName(outputDeviceId_));
    outputUnit_->enableIO(AudioUnitBus::Input, false);
    debugLog("CoreAudio: Input disabled on AUHAL (using direct capture)");
    return true;
}

void AudioEngine_CoreAudio::configureUnitFormatsAndCallback()
{
    const int inputs = std::max(getDeviceChannelCount(inputDeviceId_, true), 1);
    const AudioStatus inputStatus = outputUnit_->setStreamFormat(AudioUnitBus::Input, floatFormat(sampleRate_, inputs));
    if (inputStatus != kAudioOk)
        debugLog("CoreAudio: Failed to set input format: " + statusText(inputStatus));
    const int outputs = std::max(getDeviceChannelCount(outputDeviceId_, false), 1);
    const AudioStatus outputStatus =
        outputUnit_->setStreamFormat(AudioUnitBus::Output, floatFormat(sampleRate_, outputs));
    if (outputStatus != kAudioOk)
        debugLog("CoreAudio: Failed to set output format: " + statusText(outputStatus));
    const AudioStatus callbackStatus = outputUnit_->setRenderCallback(&AudioEngine_CoreAudio::sRenderCallback, this);
    debugLog(callbackStatus != kAudioOk ? "CoreAudio: Failed to set render callback: " + statusText(callbackStatus)
                                        : std::string("CoreAudio: Render callback registered successfully"));
    uint32_t frames = 0;
    if (outputUnit_->getBufferFrameSize(frames) == kAudioOk) {
        bufferSizeFrames_ = static_cast<int>(frames);
        debugLog("CoreAudio: Buffer size: " + std::to_string(frames));
    }
    inputChannelCount_ = inputs;
    outputChannelCount_ = outputs;
}

// One buffer per input channel, each holding the largest block the callback
// processes, whatever the buffer size: a device may deliver more frames in a
// callback than it was asked for.
void AudioEngine_CoreAudio::buildInputBuffers()
{
    inputBufferStorage_.assign(static_cast<size_t>(inputChannelCount_), std::vector<float>(kMaxBlockFrames, 0.0f));
    inputBuffers_.clear();
    for (std::vector<float>& channel : inputBufferStorage_)
        inputBuffers_.push_back(AudioBlockBuffer{1, kMaxBlockFrames * sizeof(float), channel.data()});
    inputBufferList_.bufferCount = static_cast<uint32_t>(inputBuffers_.size());
    inputBufferList_.buffers = inputBuffers_.data();
}

void AudioEngine_CoreAudio::startUnitAndListen()
{
    const AudioStatus startStatus = outputUnit_->start();
    if (startStatus != kAudioOk) {
        debugLog("CoreAudio: Failed to start audio unit: " + statusText(startStatus));
    } else {
        unitStarted_.store(true, std::memory_order_release);
        running_.store(true, std::memory_order_release);
        debugLog("CoreAudio: Audio unit started automatically");
    }
    if (audioSystem_->addDeviceAliveListener(inputDeviceId_, &AudioEngine_CoreAudio::sDeviceAliveChanged, this)
        == kAudioOk) {
        listenerRegistered_ = true;
        listenerDeviceId_ = inputDeviceId_;
    }
}

void AudioEngine_CoreAudio::teardownAudioUnit()
{
    if (listenerRegistered_) {
        audioSystem_->removeDeviceAliveListener(listenerDeviceId_, &AudioEngine_CoreAudio::sDeviceAliveChanged, this);
        listenerRegistered_ = false;
        listenerDeviceId_ = kNoAudioDevice;
    }
    directCaptureActive_.store(false, std::memory_order_release);
    if (directCaptureProcExists_) {
        // The capture's own device: the selected input may have changed since.
        const AudioStatus stopStatus = audioSystem_->stopIOProc(directCaptureDeviceId_, directCaptureProcId_);
        if (stopStatus != kAudioOk)
            debugLog("CoreAudio: Failed to stop direct input capture: " + statusText(stopStatus));
        audioSystem_->destroyIOProc(directCaptureDeviceId_, directCaptureProcId_);
        directCaptureProcExists_ = false;
        directCaptureProcId_ = 0;
        directCaptureDeviceId_ = kNoAudioDevice;
    }
    if (outputUnit_) {
        outputUnit_->stop();
        outputUnit_->uninitialize();
        outputUnit_.reset();
        unitStarted_.store(false, std::memory_order_release);
        releaseRetiredObjects();
    }
    inputBuffers_.clear();
    inputBufferStorage_.clear();
    inputBufferList_ = AudioBlockBufferList{};
}

bool AudioEngine_CoreAudio::setupDirectInputCapture(AudioDeviceId device)
{
    if (device == kNoAudioDevice)
        return false;
    const std::string name = getDeviceName(device);
    debugLog("CoreAudio: Setting up direct input capture on device: " + name);
    // Nothing converts the rate on this path: a device at another rate would
    // be recorded at the wrong speed.
    double deviceRate = 0.0;
    const AudioStatus rateStatus = audioSystem_->getNominalSampleRate(device, deviceRate);
    if (rateStatus != kAudioOk) {
        debugLog("CoreAudio: Direct input capture refused: cannot read the sample rate of '" + name
                 + "': " + statusText(rateStatus));
        return false;
    }
    if (std::lround(deviceRate) != sampleRate_) {
        debugLog("CoreAudio: Direct input capture refused: '" + name + "' runs at "
                 + std::to_string(std::lround(deviceRate)) + " Hz, the engine records at "
                 + std::to_string(sampleRate_) + " Hz; set the device to " + std::to_string(sampleRate_) + " Hz");
        return false;
    }
    directCaptureChannelCount_ = std::max(getDeviceChannelCount(device, true), 1);
    directCaptureRing_.allocate(static_cast<size_t>(directCaptureChannelCount_), kDirectCaptureRingFrames);
    // The health counters only grow: what this capture's predecessor lost
    // stays in getDroppedSamples.
    directCaptureEarlierLostFrames_.fetch_add(directCaptureOverflowFrames_.exchange(0)
                                              + directCaptureUnderrunFrames_.exchange(0));
    AudioSystem::IOProcId procId = 0;
    const AudioStatus createStatus =
        audioSystem_->createIOProc(device, &AudioEngine_CoreAudio::sDirectInputIOProc, this, procId);
    if (createStatus != kAudioOk) {
        debugLog("CoreAudio: Failed to create IOProc: " + statusText(createStatus));
        return false;
    }
    const AudioStatus startStatus = audioSystem_->startIOProc(device, procId);
    if (startStatus != kAudioOk) {
        debugLog("CoreAudio: Failed to start input device: " + statusText(startStatus));
        audioSystem_->destroyIOProc(device, procId);
        return false;
    }
    directCaptureProcId_ = procId;
    directCaptureDeviceId_ = device;
    directCaptureProcExists_ = true;
    directCaptureActive_.store(true, std::memory_order_release);
    debugLog("CoreAudio: Direct input capture started successfully (" + std::to_string(directCaptureChannelCount_)
             + " channels via ring buffer)");
    return true;
}

AudioStatus AudioEngine_CoreAudio::sDirectInputIOProc(AudioDeviceId /*device*/, const AudioBlockBufferList& input,
                                                      void* clientData)
{
    if (clientData != nullptr)
        static_cast<AudioEngine_CoreAudio*>(clientData)->directInputIOProc(input);
    return kAudioOk;
}

// Input device's I/O thread: no locks, no allocation, no logging. Each
// buffer is one stream of `channelCount` interleaved channels; the ring's
// channels are the streams' channels in order. The ring is lossless: frames
// the render callback has not read yet are never overwritten, so what does
// not fit (the callback stopped reading) is dropped and counted as overflow.
void AudioEngine_CoreAudio::directInputIOProc(const AudioBlockBufferList& input)
{
    if (input.bufferCount == 0 || input.buffers == nullptr || !directCaptureRing_.isAllocated())
        return;
    const AudioBlockBuffer& first = input.buffers[0];
    const uint32_t firstChannels = std::max<uint32_t>(first.channelCount, 1);
    if (first.data == nullptr || first.byteSize < sizeof(float) * firstChannels)
        return;
    const uint64_t frames = first.byteSize / sizeof(float) / firstChannels;
    const uint64_t kept = std::min(frames, directCaptureRing_.freeFrames());
    if (kept < frames)
        directCaptureOverflowFrames_.fetch_add(static_cast<int64_t>(frames - kept), std::memory_order_relaxed);
    const uint64_t writePosition = directCaptureRing_.writePosition();
    const uint32_t ringChannels = static_cast<uint32_t>(directCaptureChannelCount_);
    uint32_t ringChannel = 0;
    for (uint32_t b = 0; b < input.bufferCount && ringChannel < ringChannels; ++b) {
        const AudioBlockBuffer& buffer = input.buffers[b];
        const uint32_t channels = std::max<uint32_t>(buffer.channelCount, 1);
        const uint64_t bufferFrames = buffer.data == nullptr ? 0 : buffer.byteSize / sizeof(float) / channels;
        for (uint32_t k = 0; k < channels && ringChannel < ringChannels; ++k, ++ringChannel) {
            for (uint64_t i = 0; i < kept; ++i)
                directCaptureRing_.frameAt(writePosition + i)[ringChannel] =
                    i < bufferFrames ? buffer.data[i * channels + k] : 0.0f;
        }
    }
    for (; ringChannel < ringChannels; ++ringChannel) {
        for (uint64_t i = 0; i < kept; ++i)
            directCaptureRing_.frameAt(writePosition + i)[ringChannel] = 0.0f;
    }
    directCaptureRing_.publishWrite(kept);
}

bool AudioEngine_CoreAudio::isDirectCaptureActive() const
{
    return directCaptureActive_.load(std::memory_order_acquire);
}

int AudioEngine_CoreAudio::getDirectCaptureChannelCount() const
{
    return directCaptureChannelCount_;
}

int64_t AudioEngine_CoreAudio::getDirectCaptureOverflowFrames() const
{
    return directCaptureOverflowFrames_.load(std::memory_order_relaxed);
}

int64_t AudioEngine_CoreAudio::getDirectCaptureUnderrunFrames() const
{
    return directCaptureUnderrunFrames_.load(std::memory_order_relaxed);
}
