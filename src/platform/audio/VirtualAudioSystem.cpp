#include "platform/audio/VirtualAudioSystem.h"

#include "platform/audio/VirtualOutputUnit.h"
#include "platform/audio/VirtualSignalSource.h"

#include <algorithm>

namespace {

// Stepped mode measures capture time against output blocks at this rate.
constexpr double kSteppedOutputRate = 48000.0;
// A real-time capture cycle that falls further behind than this starts a
// new schedule instead of bursting to catch up.
constexpr std::chrono::milliseconds kMaxLateness{100};
constexpr double kPartsPerMillion = 1e-6;

std::vector<uint32_t> defaultBufferSizes()
{
    std::vector<uint32_t> sizes;
    for (uint32_t frames = 32; frames <= 4096; frames *= 2)
        sizes.push_back(frames);
    return sizes;
}

}  // namespace

struct VirtualAudioSystem::Device {
    AudioDeviceId id = kNoAudioDevice;
    VirtualDeviceDescription description;
    bool alive = true;
    bool listed = true;
    double captureDriftPpm = 0.0;
    std::vector<std::unique_ptr<VirtualSignalSource>> inputSources;
    std::vector<std::vector<float>> capturedOutput;
};

struct VirtualAudioSystem::IOProcEntry {
    AudioDeviceId device = kNoAudioDevice;
    IOProc proc = nullptr;
    void* clientData = nullptr;
    bool started = false;
    double captureBudgetFrames = 0.0;
    std::vector<std::vector<float>> streamStorage;
    std::vector<AudioBlockBuffer> buffers;
    std::thread thread;
    std::atomic<bool> threadRunning{false};
    std::mutex threadMutex;
    std::condition_variable threadCondition;
};

VirtualAudioSystem::VirtualAudioSystem(Mode mode, const VirtualAudioDescription& description) : mode_(mode)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const VirtualDeviceDescription& device : description.devices)
            addDeviceLocked(device);
    }
    notificationThread_ = std::thread(&VirtualAudioSystem::notificationThreadMain, this);
}

VirtualAudioSystem::~VirtualAudioSystem()
{
    std::vector<IOProcEntry*> entries;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : ioProcs_)
            entries.push_back(entry.second.get());
    }
    for (IOProcEntry* entry : entries)
        joinIOProcThread(*entry);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        notificationThreadRunning_.store(false);
    }
    notificationCondition_.notify_all();
    notificationThread_.join();
}

// --- Device table ---------------------------------------------------------

VirtualAudioSystem::Device* VirtualAudioSystem::findLocked(AudioDeviceId device) const
{
    const auto found = devices_.find(device);
    return found == devices_.end() ? nullptr : found->second.get();
}

VirtualAudioSystem::Device* VirtualAudioSystem::findListedLocked(AudioDeviceId device) const
{
    Device* found = findLocked(device);
    return found != nullptr && found->listed ? found : nullptr;
}

AudioStatus VirtualAudioSystem::failureLocked(VirtualAudioCall call, AudioDeviceId device)
{
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->call != call || (it->device != kNoAudioDevice && it->device != device))
            continue;
        const AudioStatus status = it->status;
        if (it->remaining > 0 && --it->remaining == 0)
            failures_.erase(it);
        return status;
    }
    return kAudioOk;
}

AudioDeviceId VirtualAudioSystem::addDeviceLocked(const VirtualDeviceDescription& description)
{
    auto device = std::make_unique<Device>();
    device->id = nextDeviceId_++;
    device->description = description;
    if (device->description.uid.empty())
        device->description.uid = description.name + "#" + std::to_string(device->id);
    if (device->description.supportedBufferFrameSizes.empty())
        device->description.supportedBufferFrameSizes = defaultBufferSizes();
    const uint32_t inputs = description.inputChannelCount();
    for (uint32_t channel = 0; channel < inputs; ++channel) {
        const VirtualSignal signal =
            channel < description.inputSignals.size() ? description.inputSignals[channel] : VirtualSignal{};
        device->inputSources.push_back(std::make_unique<VirtualSignalSource>(signal, description.sampleRate));
    }
    device->capturedOutput.resize(description.outputChannelCount());
    if (description.defaultOutput && defaultOutput_ == kNoAudioDevice)
        defaultOutput_ = device->id;
    const AudioDeviceId id = device->id;
    order_.push_back(id);
    devices_[id] = std::move(device);
    return id;
}

AudioStatus VirtualAudioSystem::getDeviceIds(std::vector<AudioDeviceId>& devices)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::DeviceList, kNoAudioDevice))
        return status;
    devices = order_;
    return kAudioOk;
}

AudioStatus VirtualAudioSystem::getDefaultOutputDevice(AudioDeviceId& device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::DefaultOutputDevice, kNoAudioDevice))
        return status;
    device = findListedLocked(defaultOutput_) != nullptr ? defaultOutput_ : kNoAudioDevice;
    return kAudioOk;
}

AudioStatus VirtualAudioSystem::getDeviceForUid(const std::string& uid, AudioDeviceId& device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::DeviceForUid, kNoAudioDevice))
        return status;
    device = kNoAudioDevice;
    for (AudioDeviceId id : order_) {
        if (devices_.at(id)->description.uid == uid) {
            device = id;
            break;
        }
    }
    return kAudioOk;
}

// The common shape of a device query: the lock, an injected failure of the
// call, then the lookup; `read` runs under the lock on the found device.
template <typename Read>
AudioStatus VirtualAudioSystem::queryDevice(VirtualAudioCall call, AudioDeviceId device, Read&& read)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(call, device))
        return status;
    const Device* found = findLocked(device);
    if (found == nullptr)
        return kAudioErrorUnknownDevice;
    return read(*found);
}

AudioStatus VirtualAudioSystem::getDeviceName(AudioDeviceId device, std::string& name)
{
    return queryDevice(VirtualAudioCall::DeviceName, device, [&](const Device& found) {
        name = found.description.name;
        return kAudioOk;
    });
}

AudioStatus VirtualAudioSystem::getStreamConfiguration(AudioDeviceId device, AudioScope scope,
                                                       std::vector<uint32_t>& channelsPerStream)
{
    return queryDevice(VirtualAudioCall::StreamConfiguration, device, [&](const Device& found) {
        channelsPerStream =
            scope == AudioScope::Input ? found.description.inputStreams : found.description.outputStreams;
        return kAudioOk;
    });
}

AudioStatus VirtualAudioSystem::getElementName(AudioDeviceId device, AudioScope scope, uint32_t element,
                                               std::string& name)
{
    return queryDevice(VirtualAudioCall::ElementName, device, [&](const Device& found) {
        const bool input = scope == AudioScope::Input;
        const uint32_t channels =
            input ? found.description.inputChannelCount() : found.description.outputChannelCount();
        if (element == 0 || element > channels)
            return kAudioErrorUnknownProperty;
        const std::vector<std::string>& names =
            input ? found.description.inputChannelNames : found.description.outputChannelNames;
        name = element - 1 < names.size() ? names[element - 1] : std::string();
        return kAudioOk;
    });
}

AudioStatus VirtualAudioSystem::getSubDeviceUids(AudioDeviceId device, std::vector<std::string>& uids)
{
    return queryDevice(VirtualAudioCall::SubDeviceList, device, [&](const Device& found) {
        if (found.description.subDeviceUids.empty())
            return kAudioErrorUnknownProperty;  // only aggregates have the property
        uids = found.description.subDeviceUids;
        return kAudioOk;
    });
}

AudioStatus VirtualAudioSystem::getNominalSampleRate(AudioDeviceId device, double& sampleRate)
{
    return queryDevice(VirtualAudioCall::NominalSampleRate, device, [&](const Device& found) {
        sampleRate = found.description.sampleRate;
        return kAudioOk;
    });
}

AudioStatus VirtualAudioSystem::getBufferFrameSize(AudioDeviceId device, uint32_t& frames)
{
    return queryDevice(VirtualAudioCall::GetBufferFrameSize, device, [&](const Device& found) {
        frames = found.description.bufferFrameSize;
        return kAudioOk;
    });
}

AudioStatus VirtualAudioSystem::setBufferFrameSize(AudioDeviceId device, uint32_t frames)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::SetBufferFrameSize, device))
        return status;
    Device* found = findListedLocked(device);
    if (found == nullptr)
        return kAudioErrorUnknownDevice;
    if (frames == 0)
        return kAudioErrorBadArgument;
    const std::vector<uint32_t>& sizes = found->description.supportedBufferFrameSizes;
    const auto settled = std::lower_bound(sizes.begin(), sizes.end(), frames);
    found->description.bufferFrameSize = settled == sizes.end() ? sizes.back() : *settled;
    return kAudioOk;
}

AudioStatus VirtualAudioSystem::getDeviceIsAlive(AudioDeviceId device, bool& alive)
{
    return queryDevice(VirtualAudioCall::DeviceIsAlive, device, [&](const Device& found) {
        alive = found.alive;
        return kAudioOk;
    });
}

// --- Listeners and the notification thread --------------------------------

AudioStatus VirtualAudioSystem::addDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                                       void* clientData)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::AddListener, device))
        return status;
    if (findLocked(device) == nullptr)
        return kAudioErrorUnknownDevice;
    if (listener == nullptr)
        return kAudioErrorBadArgument;
    listeners_.push_back(Listener{device, listener, clientData});
    return kAudioOk;
}

AudioStatus VirtualAudioSystem::removeDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                                          void* clientData)
{
    std::lock_guard<std::mutex> dispatchLock(dispatchMutex_);
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::RemoveListener, device))
        return status;
    const Listener key{device, listener, clientData};
    const auto found = std::find(listeners_.begin(), listeners_.end(), key);
    if (found == listeners_.end())
        return kAudioErrorBadArgument;
    listeners_.erase(found);
    std::erase(pendingNotifications_, key);
    return kAudioOk;
}

void VirtualAudioSystem::queueNotificationsLocked(AudioDeviceId device)
{
    for (const Listener& listener : listeners_) {
        if (listener.device == device)
            pendingNotifications_.push_back(listener);
    }
    notificationCondition_.notify_all();
}

void VirtualAudioSystem::notificationThreadMain()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (true) {
        notificationCondition_.wait(
            lock, [this] { return !notificationThreadRunning_.load() || !pendingNotifications_.empty(); });
        if (!notificationThreadRunning_.load())
            break;
        const Listener next = pendingNotifications_.front();
        pendingNotifications_.pop_front();
        dispatching_ = true;
        lock.unlock();
        {
            std::lock_guard<std::mutex> dispatchLock(dispatchMutex_);
            bool stillRegistered = false;
            {
                std::lock_guard<std::mutex> check(mutex_);
                stillRegistered = std::find(listeners_.begin(), listeners_.end(), next) != listeners_.end();
            }
            if (stillRegistered)
                next.listener(next.device, next.clientData);
        }
        lock.lock();
        dispatching_ = false;
        notificationsIdleCondition_.notify_all();
    }
    dispatching_ = false;
    notificationsIdleCondition_.notify_all();
}

void VirtualAudioSystem::waitForNotifications()
{
    std::unique_lock<std::mutex> lock(mutex_);
    notificationsIdleCondition_.wait(lock, [this] {
        return (pendingNotifications_.empty() && !dispatching_) || !notificationThreadRunning_.load();
    });
}

// --- Test controls --------------------------------------------------------

AudioDeviceId VirtualAudioSystem::addDevice(const VirtualDeviceDescription& description)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return addDeviceLocked(description);
}

bool VirtualAudioSystem::removeDevice(AudioDeviceId device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device* found = findLocked(device);
    if (found == nullptr)
        return false;
    // Units and IOProcs may still name the id; they find no device and
    // deliver no cycles, and every property read of it fails.
    std::erase(order_, device);
    devices_.erase(device);
    if (defaultOutput_ == device)
        defaultOutput_ = kNoAudioDevice;
    return true;
}

bool VirtualAudioSystem::renameDevice(AudioDeviceId device, const std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device* found = findLocked(device);
    if (found == nullptr)
        return false;
    found->description.name = name;
    return true;
}

bool VirtualAudioSystem::unplugDevice(AudioDeviceId device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device* found = findListedLocked(device);
    if (found == nullptr)
        return false;
    found->alive = false;
    found->listed = false;
    std::erase(order_, device);
    if (defaultOutput_ == device)
        defaultOutput_ = kNoAudioDevice;
    queueNotificationsLocked(device);
    return true;
}

bool VirtualAudioSystem::notifyAliveUnchanged(AudioDeviceId device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (findLocked(device) == nullptr)
        return false;
    queueNotificationsLocked(device);
    return true;
}

AudioDeviceId VirtualAudioSystem::findDevice(const std::string& name) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (AudioDeviceId id : order_) {
        if (devices_.at(id)->description.name == name)
            return id;
    }
    return kNoAudioDevice;
}

void VirtualAudioSystem::failCall(VirtualAudioCall call, AudioStatus status, AudioDeviceId device, int times)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (times != 0)
        failures_.push_back(Failure{call, device, status, times});
}

void VirtualAudioSystem::clearFailures()
{
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.clear();
}

void VirtualAudioSystem::setFramesPerCallbackPattern(std::vector<uint32_t> pattern)
{
    std::lock_guard<std::mutex> lock(mutex_);
    framesPattern_ = std::move(pattern);
    framesPatternIndex_ = 0;
}

void VirtualAudioSystem::setCaptureDriftPpm(AudioDeviceId device, double driftPpm)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (Device* found = findLocked(device))
        found->captureDriftPpm = driftPpm;
}

bool VirtualAudioSystem::feedInput(AudioDeviceId device, uint32_t channel, std::vector<float> samples)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device* found = findLocked(device);
    if (found == nullptr || channel >= found->inputSources.size())
        return false;
    found->inputSources[channel]->feed(std::move(samples));
    return true;
}

std::vector<std::vector<float>> VirtualAudioSystem::takeOutput(AudioDeviceId device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Device* found = findLocked(device);
    if (found == nullptr)
        return {};
    std::vector<std::vector<float>> taken(found->capturedOutput.size());
    taken.swap(found->capturedOutput);
    return taken;
}

void VirtualAudioSystem::setOutputCaptureEnabled(bool enabled)
{
    std::lock_guard<std::mutex> lock(mutex_);
    captureOutputInRealTime_ = enabled;
}

size_t VirtualAudioSystem::ioProcCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ioProcs_.size();
}

uint64_t VirtualAudioSystem::renderCycleCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return renderCycles_;
}

bool VirtualAudioSystem::waitForRenderCycles(uint64_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return cyclesCondition_.wait_for(lock, timeout, [&] { return renderCycles_ >= count; });
}

// --- Output units ---------------------------------------------------------

AudioStatus VirtualAudioSystem::createOutputUnit(std::unique_ptr<AudioOutputUnit>& unit)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const AudioStatus status = failureLocked(VirtualAudioCall::CreateOutputUnit, kNoAudioDevice))
            return status;
    }
    unit = std::make_unique<VirtualOutputUnit>(*this);
    return kAudioOk;
}

void VirtualAudioSystem::registerUnit(VirtualOutputUnit* unit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    units_.push_back(unit);
}

void VirtualAudioSystem::unregisterUnit(VirtualOutputUnit* unit)
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::erase(units_, unit);
}

AudioStatus VirtualAudioSystem::unitCallStatus(VirtualAudioCall call, AudioDeviceId device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    return failureLocked(call, device);
}

bool VirtualAudioSystem::deviceHasOutputs(AudioDeviceId device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const Device* found = findListedLocked(device);
    return found != nullptr && found->description.outputChannelCount() > 0;
}

uint32_t VirtualAudioSystem::nextCallbackFrames(AudioDeviceId device)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!framesPattern_.empty()) {
        const uint32_t frames = framesPattern_[framesPatternIndex_ % framesPattern_.size()];
        ++framesPatternIndex_;
        return frames;
    }
    const Device* found = findLocked(device);
    return found != nullptr ? found->description.bufferFrameSize : 0;
}

bool VirtualAudioSystem::runUnitCycle(VirtualOutputUnit& unit, uint32_t frames)
{
    AudioBlockBufferList outputs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Device* device = findListedLocked(unit.device_);
        if (device == nullptr || !device->alive || unit.callback_ == nullptr)
            return false;
        unit.inputStage_.clear();
        if (unit.inputEnabled_) {
            unit.inputStage_.assign(unit.inputFormat_.channelsPerFrame, std::vector<float>(frames, 0.0f));
            const size_t channels = std::min(unit.inputStage_.size(), device->inputSources.size());
            for (size_t channel = 0; channel < channels; ++channel)
                device->inputSources[channel]->render(unit.inputStage_[channel].data(), frames, 1);
        }
        unit.stagedFrames_ = frames;
        unit.renderInputStatus_ = failureLocked(VirtualAudioCall::UnitRenderInput, unit.device_);
        unit.outputStorage_.assign(unit.outputFormat_.channelsPerFrame, std::vector<float>(frames, 0.0f));
        unit.outputBuffers_.clear();
        for (std::vector<float>& channel : unit.outputStorage_) {
            unit.outputBuffers_.push_back(AudioBlockBuffer{
                1, static_cast<uint32_t>(frames * sizeof(float)), channel.empty() ? nullptr : channel.data()});
        }
        outputs.bufferCount = static_cast<uint32_t>(unit.outputBuffers_.size());
        outputs.buffers = unit.outputBuffers_.data();
    }

    const AudioRenderTime time{unit.sampleTimeFrames_};
    unit.callback_(unit.refcon_, time, AudioUnitBus::Output, frames, outputs);

    std::lock_guard<std::mutex> lock(mutex_);
    unit.sampleTimeFrames_ += frames;
    Device* device = findListedLocked(unit.device_);
    if (device != nullptr && (mode_ == Mode::Stepped || captureOutputInRealTime_)) {
        for (size_t channel = 0; channel < device->capturedOutput.size(); ++channel) {
            std::vector<float>& captured = device->capturedOutput[channel];
            if (channel < unit.outputStorage_.size())
                captured.insert(captured.end(), unit.outputStorage_[channel].begin(),
                                unit.outputStorage_[channel].end());
            else
                captured.insert(captured.end(), frames, 0.0f);
        }
    }
    ++renderCycles_;
    cyclesCondition_.notify_all();
    return true;
}

bool VirtualAudioSystem::renderBlocks(int blocks, uint32_t frames)
{
    if (mode_ != Mode::Stepped)
        return false;
    for (int block = 0; block < blocks; ++block) {
        std::vector<IOProcEntry*> dueCaptures;
        std::vector<VirtualOutputUnit*> startedUnits;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            deliverSteppedCaptureLocked(frames, dueCaptures);
            for (VirtualOutputUnit* unit : units_) {
                if (unit->started_.load())
                    startedUnits.push_back(unit);
            }
        }
        for (IOProcEntry* entry : dueCaptures)
            runIOProcCycle(*entry);
        for (VirtualOutputUnit* unit : startedUnits)
            runUnitCycle(*unit, frames);
    }
    return true;
}

// --- Direct capture (IOProcs) ---------------------------------------------

AudioStatus VirtualAudioSystem::createIOProc(AudioDeviceId device, IOProc proc, void* clientData, IOProcId& id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::CreateIOProc, device))
        return status;
    if (findListedLocked(device) == nullptr)
        return kAudioErrorUnknownDevice;
    if (proc == nullptr)
        return kAudioErrorBadArgument;
    auto entry = std::make_unique<IOProcEntry>();
    entry->device = device;
    entry->proc = proc;
    entry->clientData = clientData;
    id = nextIOProcId_++;
    ioProcs_[id] = std::move(entry);
    return kAudioOk;
}

AudioStatus VirtualAudioSystem::startIOProc(AudioDeviceId device, IOProcId id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (const AudioStatus status = failureLocked(VirtualAudioCall::StartIOProc, device))
        return status;
    IOProcEntry* found = findIOProcLocked(device, id);
    if (found == nullptr)
        return kAudioErrorBadArgument;
    if (findListedLocked(device) == nullptr)
        return kAudioErrorDeviceGone;
    IOProcEntry& entry = *found;
    if (entry.started)
        return kAudioOk;
    entry.started = true;
    entry.captureBudgetFrames = 0.0;
    if (mode_ == Mode::RealTime) {
        entry.threadRunning.store(true);
        entry.thread = std::thread(&VirtualAudioSystem::ioProcThreadMain, this, &entry);
    }
    return kAudioOk;
}

AudioStatus VirtualAudioSystem::stopIOProc(AudioDeviceId device, IOProcId id)
{
    IOProcEntry* entry = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const AudioStatus status = failureLocked(VirtualAudioCall::StopIOProc, device))
            return status;
        entry = findIOProcLocked(device, id);
        if (entry == nullptr)
            return kAudioErrorBadArgument;
        entry->started = false;
    }
    joinIOProcThread(*entry);
    return kAudioOk;
}

AudioStatus VirtualAudioSystem::destroyIOProc(AudioDeviceId device, IOProcId id)
{
    std::unique_ptr<IOProcEntry> entry;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (const AudioStatus status = failureLocked(VirtualAudioCall::DestroyIOProc, device))
            return status;
        if (findIOProcLocked(device, id) == nullptr)
            return kAudioErrorBadArgument;
        entry = std::move(ioProcs_.extract(id).mapped());
        entry->started = false;
    }
    // Destroying a running IOProc stops it first, as a real device would.
    joinIOProcThread(*entry);
    return kAudioOk;
}

VirtualAudioSystem::IOProcEntry* VirtualAudioSystem::findIOProcLocked(AudioDeviceId device, IOProcId id) const
{
    const auto found = ioProcs_.find(id);
    return found != ioProcs_.end() && found->second->device == device ? found->second.get() : nullptr;
}

void VirtualAudioSystem::joinIOProcThread(IOProcEntry& entry)
{
    if (!entry.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(entry.threadMutex);
        entry.threadRunning.store(false);
    }
    entry.threadCondition.notify_all();
    entry.thread.join();
}

void VirtualAudioSystem::deliverSteppedCaptureLocked(uint32_t outputFrames, std::vector<IOProcEntry*>& due)
{
    for (auto& [id, entry] : ioProcs_) {
        if (!entry->started)
            continue;
        const Device* device = findListedLocked(entry->device);
        if (device == nullptr || !device->alive)
            continue;
        const double captureRatio =
            device->description.sampleRate / kSteppedOutputRate * (1.0 + device->captureDriftPpm * kPartsPerMillion);
        entry->captureBudgetFrames += outputFrames * captureRatio;
        const double cycleFrames = device->description.bufferFrameSize;
        while (entry->captureBudgetFrames >= cycleFrames) {
            entry->captureBudgetFrames -= cycleFrames;
            due.push_back(entry.get());
        }
    }
}

void VirtualAudioSystem::runIOProcCycle(IOProcEntry& entry)
{
    AudioBlockBufferList input;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        Device* device = findListedLocked(entry.device);
        if (device == nullptr || !device->alive || !entry.started)
            return;
        const uint32_t frames = device->description.bufferFrameSize;
        const std::vector<uint32_t>& streams = device->description.inputStreams;
        entry.streamStorage.resize(streams.size());
        entry.buffers.clear();
        size_t firstChannel = 0;
        for (size_t stream = 0; stream < streams.size(); ++stream) {
            const uint32_t channels = streams[stream];
            std::vector<float>& storage = entry.streamStorage[stream];
            storage.assign(static_cast<size_t>(frames) * channels, 0.0f);
            for (uint32_t k = 0; k < channels; ++k)
                device->inputSources[firstChannel + k]->render(storage.data() + k, frames, channels);
            firstChannel += channels;
            entry.buffers.push_back(AudioBlockBuffer{
                channels, static_cast<uint32_t>(storage.size() * sizeof(float)), storage.data()});
        }
        input.bufferCount = static_cast<uint32_t>(entry.buffers.size());
        input.buffers = entry.buffers.data();
    }
    entry.proc(entry.device, input, entry.clientData);
}

void VirtualAudioSystem::ioProcThreadMain(IOProcEntry* entry)
{
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now();
    while (entry->threadRunning.load()) {
        runIOProcCycle(*entry);
        double seconds = 0.01;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (const Device* device = findLocked(entry->device)) {
                const double rate =
                    device->description.sampleRate * (1.0 + device->captureDriftPpm * kPartsPerMillion);
                seconds = device->description.bufferFrameSize / rate;
            }
        }
        deadline += std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
        const auto now = Clock::now();
        if (now - deadline > kMaxLateness)
            deadline = now;
        std::unique_lock<std::mutex> lock(entry->threadMutex);
        entry->threadCondition.wait_until(lock, deadline, [entry] { return !entry->threadRunning.load(); });
    }
}
