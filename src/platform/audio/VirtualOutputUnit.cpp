#include "platform/audio/VirtualOutputUnit.h"

#include "platform/audio/VirtualAudioSystem.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

// A real-time cycle that falls further behind than this starts a new
// schedule instead of bursting to catch up.
constexpr std::chrono::milliseconds kMaxLateness{100};

bool isUsableFormat(const AudioStreamFormat& format)
{
    return format.floatSamples && format.nonInterleaved && format.sampleRate > 0.0
           && format.channelsPerFrame >= 1;
}

}  // namespace

VirtualOutputUnit::VirtualOutputUnit(VirtualAudioSystem& system) : system_(system)
{
    system_.registerUnit(this);
}

VirtualOutputUnit::~VirtualOutputUnit()
{
    stopThread();
    started_.store(false);
    system_.unregisterUnit(this);
}

AudioStatus VirtualOutputUnit::setCurrentDevice(AudioDeviceId device)
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitSetDevice, device))
        return status;
    if (initialized_)
        return kAudioErrorInvalidState;
    device_ = device;
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::enableIO(AudioUnitBus bus, bool enabled)
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitEnableIO, device_))
        return status;
    if (initialized_)
        return kAudioErrorInvalidState;
    (bus == AudioUnitBus::Input ? inputEnabled_ : outputEnabled_) = enabled;
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::setStreamFormat(AudioUnitBus bus, const AudioStreamFormat& format)
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitSetFormat, device_))
        return status;
    if (initialized_)
        return kAudioErrorInvalidState;
    if (!isUsableFormat(format))
        return kAudioErrorBadArgument;
    (bus == AudioUnitBus::Input ? inputFormat_ : outputFormat_) = format;
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::setRenderCallback(RenderCallback callback, void* refcon)
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitSetRenderCallback, device_))
        return status;
    if (initialized_)
        return kAudioErrorInvalidState;
    callback_ = callback;
    refcon_ = refcon;
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::getBufferFrameSize(uint32_t& frames)
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitGetBufferFrameSize, device_))
        return status;
    return system_.getBufferFrameSize(device_, frames);
}

AudioStatus VirtualOutputUnit::initialize()
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitInitialize, device_))
        return status;
    if (device_ == kNoAudioDevice)
        return kAudioErrorInvalidState;
    if (outputEnabled_ && !system_.deviceHasOutputs(device_))
        return kAudioErrorBadArgument;
    initialized_ = true;
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::uninitialize()
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitUninitialize, device_))
        return status;
    if (started_.load())
        return kAudioErrorInvalidState;
    initialized_ = false;
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::start()
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitStart, device_))
        return status;
    if (!initialized_)
        return kAudioErrorInvalidState;
    if (started_.load())
        return kAudioOk;
    started_.store(true);
    if (system_.mode() == VirtualAudioSystem::Mode::RealTime) {
        threadRunning_.store(true);
        thread_ = std::thread(&VirtualOutputUnit::threadMain, this);
    }
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::stop()
{
    if (const AudioStatus status = system_.unitCallStatus(VirtualAudioCall::UnitStop, device_))
        return status;
    stopThread();
    started_.store(false);
    return kAudioOk;
}

AudioStatus VirtualOutputUnit::renderInput(const AudioRenderTime& /*time*/, uint32_t frames,
                                           AudioBlockBufferList& inputs)
{
    if (!inputEnabled_)
        return kAudioErrorInvalidState;
    if (renderInputStatus_ != kAudioOk)
        return renderInputStatus_;
    if (frames > stagedFrames_ || (inputs.bufferCount > 0 && inputs.buffers == nullptr))
        return kAudioErrorBadArgument;
    const size_t bytes = static_cast<size_t>(frames) * sizeof(float);
    for (uint32_t b = 0; b < inputs.bufferCount; ++b) {
        if (inputs.buffers[b].data == nullptr || inputs.buffers[b].byteSize < bytes)
            return kAudioErrorBadArgument;
    }
    for (uint32_t b = 0; b < inputs.bufferCount; ++b) {
        if (b < inputStage_.size() && frames > 0)
            std::memcpy(inputs.buffers[b].data, inputStage_[b].data(), bytes);
        else if (frames > 0)
            std::memset(inputs.buffers[b].data, 0, bytes);
    }
    return kAudioOk;
}

void VirtualOutputUnit::stopThread()
{
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(threadMutex_);
        threadRunning_.store(false);
    }
    threadCondition_.notify_all();
    if (thread_.get_id() != std::this_thread::get_id())
        thread_.join();
    else
        thread_.detach();
}

void VirtualOutputUnit::threadMain()
{
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now();
    while (threadRunning_.load()) {
        const uint32_t frames = system_.nextCallbackFrames(device_);
        system_.runUnitCycle(*this, frames);
        uint32_t periodFrames = frames;
        if (periodFrames == 0)
            system_.getBufferFrameSize(device_, periodFrames);
        const double seconds = std::max<uint32_t>(periodFrames, 1) / outputFormat_.sampleRate;
        deadline += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        const auto now = Clock::now();
        if (now - deadline > kMaxLateness)
            deadline = now;
        std::unique_lock<std::mutex> lock(threadMutex_);
        threadCondition_.wait_until(lock, deadline, [this] { return !threadRunning_.load(); });
    }
}
