#include "platform/audio/JackOutputUnit.h"

#include "core/DebugLog.h"
#include "platform/audio/JackAudioSystem.h"

#include <cmath>
#include <cstring>

namespace {

bool isUsableFormat(const AudioStreamFormat& format)
{
    return format.floatSamples && format.nonInterleaved && format.sampleRate > 0.0
           && format.channelsPerFrame >= 1;
}

}  // namespace

JackOutputUnit::JackOutputUnit(std::shared_ptr<JackAudioSystem> system) : system_(std::move(system)) {}

JackOutputUnit::~JackOutputUnit()
{
    stop();
    client_.close();
}

AudioStatus JackOutputUnit::setCurrentDevice(AudioDeviceId device)
{
    if (initialized_)
        return kAudioErrorInvalidState;
    if (device != JackAudioSystem::kDeviceId)
        return kAudioErrorUnknownDevice;
    device_ = device;
    return kAudioOk;
}

AudioStatus JackOutputUnit::enableIO(AudioUnitBus bus, bool enabled)
{
    if (initialized_)
        return kAudioErrorInvalidState;
    (bus == AudioUnitBus::Input ? inputEnabled_ : outputEnabled_) = enabled;
    return kAudioOk;
}

AudioStatus JackOutputUnit::setStreamFormat(AudioUnitBus bus, const AudioStreamFormat& format)
{
    if (initialized_)
        return kAudioErrorInvalidState;
    if (!isUsableFormat(format))
        return kAudioErrorBadArgument;
    (bus == AudioUnitBus::Input ? inputFormat_ : outputFormat_) = format;
    return kAudioOk;
}

AudioStatus JackOutputUnit::setRenderCallback(RenderCallback callback, void* refcon)
{
    if (initialized_)
        return kAudioErrorInvalidState;
    callback_ = callback;
    refcon_ = refcon;
    return kAudioOk;
}

AudioStatus JackOutputUnit::getBufferFrameSize(uint32_t& frames)
{
    return system_->getBufferFrameSize(device_, frames);
}

AudioStatus JackOutputUnit::initialize()
{
    if (initialized_)
        return kAudioOk;
    if (device_ == kNoAudioDevice)
        return kAudioErrorInvalidState;
    if (!system_->isAlive())
        return kAudioErrorDeviceGone;
    if (outputEnabled_ && system_->physicalPorts(AudioScope::Output).empty())
        return kAudioErrorBadArgument;
    const uint32_t inputs = inputEnabled_ ? inputFormat_.channelsPerFrame : 0;
    const uint32_t outputs = outputEnabled_ ? outputFormat_.channelsPerFrame : 0;
    std::string error;
    if (!client_.open(system_->serverName(), system_->clientName(), inputs, outputs, &JackOutputUnit::cycle, this, error)) {
        debugLog("JACK: Cannot open a client on " + system_->deviceName() + ": " + error);
        return kAudioErrorDeviceGone;
    }
    // Nothing converts the rate: a server at another rate would be
    // recorded and monitored at the wrong speed.
    const long serverRate = std::lround(client_.sampleRate());
    const long formatRate = std::lround(outputEnabled_ ? outputFormat_.sampleRate : inputFormat_.sampleRate);
    if (serverRate != formatRate) {
        debugLog("JACK: " + system_->deviceName() + " refused: the server runs at " + std::to_string(serverRate)
                 + " Hz, the engine records at " + std::to_string(formatRate) + " Hz; restart the server at "
                 + std::to_string(formatRate) + " Hz");
        client_.close();
        return kAudioErrorUnsupportedRate;
    }
    outputBuffers_.assign(outputs, AudioBlockBuffer{});
    outputList_ = AudioBlockBufferList{outputs, outputBuffers_.data()};
    sampleTimeFrames_ = 0;
    initialized_ = true;
    return kAudioOk;
}

AudioStatus JackOutputUnit::uninitialize()
{
    if (started_)
        return kAudioErrorInvalidState;
    client_.close();
    initialized_ = false;
    return kAudioOk;
}

AudioStatus JackOutputUnit::start()
{
    if (!initialized_)
        return kAudioErrorInvalidState;
    if (started_)
        return kAudioOk;
    const AudioStatus status = client_.start(system_->physicalPorts(AudioScope::Input),
                                             system_->physicalPorts(AudioScope::Output));
    if (status != kAudioOk)
        return status;
    started_ = true;
    system_->streamStarted();
    return kAudioOk;
}

AudioStatus JackOutputUnit::stop()
{
    if (!started_)
        return kAudioOk;
    client_.stop();
    started_ = false;
    system_->streamStopped();
    return kAudioOk;
}

std::vector<std::string> JackOutputUnit::inputPortNames() const
{
    std::vector<std::string> names;
    for (uint32_t k = 0; k < client_.inputCount(); ++k)
        names.push_back(client_.inputPortName(k));
    return names;
}

std::vector<std::string> JackOutputUnit::outputPortNames() const
{
    std::vector<std::string> names;
    for (uint32_t k = 0; k < client_.outputCount(); ++k)
        names.push_back(client_.outputPortName(k));
    return names;
}

// --- Process thread: no locks, no allocation, no logging ------------------

void JackOutputUnit::cycle(void* opaque, uint32_t frames)
{
    auto* self = static_cast<JackOutputUnit*>(opaque);
    self->cycleFrames_ = frames;
    const uint32_t bytes = frames * static_cast<uint32_t>(sizeof(float));
    for (uint32_t k = 0; k < self->outputBuffers_.size(); ++k)
        self->outputBuffers_[k] = AudioBlockBuffer{1, bytes, self->client_.outputBuffer(k)};
    if (self->callback_ != nullptr) {
        self->callback_(self->refcon_, AudioRenderTime{self->sampleTimeFrames_}, AudioUnitBus::Output, frames,
                        self->outputList_);
    } else {
        for (const AudioBlockBuffer& buffer : self->outputBuffers_)
            std::memset(buffer.data, 0, bytes);
    }
    self->sampleTimeFrames_ += frames;
}

AudioStatus JackOutputUnit::renderInput(const AudioRenderTime& /*time*/, uint32_t frames, AudioBlockBufferList& inputs)
{
    if (!inputEnabled_)
        return kAudioErrorInvalidState;
    if (frames > cycleFrames_ || (inputs.bufferCount > 0 && inputs.buffers == nullptr))
        return kAudioErrorBadArgument;
    const size_t bytes = static_cast<size_t>(frames) * sizeof(float);
    for (uint32_t b = 0; b < inputs.bufferCount; ++b) {
        if (inputs.buffers[b].data == nullptr || inputs.buffers[b].byteSize < bytes)
            return kAudioErrorBadArgument;
    }
    for (uint32_t b = 0; b < inputs.bufferCount; ++b) {
        if (b < client_.inputCount())
            std::memcpy(inputs.buffers[b].data, client_.inputBuffer(b), bytes);
        else
            std::memset(inputs.buffers[b].data, 0, bytes);
    }
    return kAudioOk;
}
