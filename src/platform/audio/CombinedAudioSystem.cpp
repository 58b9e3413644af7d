#include "platform/audio/CombinedAudioSystem.h"

#include "platform/audio/AudioOutputUnit.h"

namespace {

// An output unit of a combined system: it keeps its configuration and hands
// it to a unit of the member that owns the device it is bound to.
//
// Threads: as AudioOutputUnit; renderInput forwards to the member's unit on
// its I/O thread, which is fixed while the unit is initialised.
class CombinedOutputUnit : public AudioOutputUnit {
public:
    explicit CombinedOutputUnit(const CombinedAudioSystem& system) : system_(system) {}

    AudioStatus setCurrentDevice(AudioDeviceId device) override
    {
        AudioSystem* owner = system_.ownerOf(device);
        if (owner == nullptr)
            return kAudioErrorUnknownDevice;
        if (owner != owner_) {
            if (initialized_)
                return kAudioErrorInvalidState;
            std::unique_ptr<AudioOutputUnit> unit;
            if (const AudioStatus status = owner->createOutputUnit(unit))
                return status;
            unit_ = std::move(unit);
            owner_ = owner;
            replayConfiguration();
        }
        return unit_->setCurrentDevice(device);
    }
    AudioStatus enableIO(AudioUnitBus bus, bool enabled) override
    {
        (bus == AudioUnitBus::Input ? inputEnabled_ : outputEnabled_) = enabled;
        enabledSet_[static_cast<size_t>(bus)] = true;
        return unit_ ? unit_->enableIO(bus, enabled) : kAudioOk;
    }
    AudioStatus setStreamFormat(AudioUnitBus bus, const AudioStreamFormat& format) override
    {
        formats_[static_cast<size_t>(bus)] = format;
        formatSet_[static_cast<size_t>(bus)] = true;
        return unit_ ? unit_->setStreamFormat(bus, format) : kAudioOk;
    }
    AudioStatus setRenderCallback(RenderCallback callback, void* refcon) override
    {
        callback_ = callback;
        refcon_ = refcon;
        return unit_ ? unit_->setRenderCallback(callback, refcon) : kAudioOk;
    }
    AudioStatus getBufferFrameSize(uint32_t& frames) override
    {
        return unit_ ? unit_->getBufferFrameSize(frames) : kAudioErrorInvalidState;
    }
    AudioStatus initialize() override
    {
        if (!unit_)
            return kAudioErrorInvalidState;
        const AudioStatus status = unit_->initialize();
        initialized_ = status == kAudioOk;
        return status;
    }
    AudioStatus uninitialize() override
    {
        if (!unit_)
            return kAudioOk;
        const AudioStatus status = unit_->uninitialize();
        if (status == kAudioOk)
            initialized_ = false;
        return status;
    }
    AudioStatus start() override { return unit_ ? unit_->start() : kAudioErrorInvalidState; }
    AudioStatus stop() override { return unit_ ? unit_->stop() : kAudioOk; }
    AudioStatus renderInput(const AudioRenderTime& time, uint32_t frames, AudioBlockBufferList& inputs) override
    {
        return unit_->renderInput(time, frames, inputs);
    }

private:
    void replayConfiguration()
    {
        for (const AudioUnitBus bus : {AudioUnitBus::Output, AudioUnitBus::Input}) {
            const size_t index = static_cast<size_t>(bus);
            if (enabledSet_[index])
                unit_->enableIO(bus, bus == AudioUnitBus::Input ? inputEnabled_ : outputEnabled_);
            if (formatSet_[index])
                unit_->setStreamFormat(bus, formats_[index]);
        }
        if (callback_ != nullptr)
            unit_->setRenderCallback(callback_, refcon_);
    }

    const CombinedAudioSystem& system_;
    AudioSystem* owner_ = nullptr;
    std::unique_ptr<AudioOutputUnit> unit_;
    bool inputEnabled_ = false;
    bool outputEnabled_ = true;
    bool enabledSet_[2] = {false, false};
    AudioStreamFormat formats_[2];
    bool formatSet_[2] = {false, false};
    RenderCallback callback_ = nullptr;
    void* refcon_ = nullptr;
    bool initialized_ = false;
};

}  // namespace

CombinedAudioSystem::CombinedAudioSystem(std::vector<std::shared_ptr<AudioSystem>> members)
    : members_(std::move(members))
{
}

AudioSystem* CombinedAudioSystem::ownerOf(AudioDeviceId device) const
{
    if (device == kNoAudioDevice)
        return nullptr;
    // Every member answers a name for each device it ever had, listed or
    // not, and "unknown device" for the others'.
    std::string name;
    for (const std::shared_ptr<AudioSystem>& member : members_) {
        if (member->getDeviceName(device, name) != kAudioErrorUnknownDevice)
            return member.get();
    }
    return nullptr;
}

template <typename Call>
AudioStatus CombinedAudioSystem::forward(AudioDeviceId device, Call&& call)
{
    AudioSystem* owner = ownerOf(device);
    return owner == nullptr ? kAudioErrorUnknownDevice : call(*owner);
}

AudioStatus CombinedAudioSystem::getDeviceIds(std::vector<AudioDeviceId>& devices)
{
    devices.clear();
    for (const std::shared_ptr<AudioSystem>& member : members_) {
        std::vector<AudioDeviceId> own;
        if (const AudioStatus status = member->getDeviceIds(own))
            return status;
        devices.insert(devices.end(), own.begin(), own.end());
    }
    return kAudioOk;
}

AudioStatus CombinedAudioSystem::getDefaultOutputDevice(AudioDeviceId& device)
{
    device = kNoAudioDevice;
    for (auto member = members_.rbegin(); member != members_.rend() && device == kNoAudioDevice; ++member) {
        AudioDeviceId own = kNoAudioDevice;
        if ((*member)->getDefaultOutputDevice(own) == kAudioOk)
            device = own;
    }
    return kAudioOk;
}

AudioStatus CombinedAudioSystem::getDeviceForUid(const std::string& uid, AudioDeviceId& device)
{
    device = kNoAudioDevice;
    for (const std::shared_ptr<AudioSystem>& member : members_) {
        AudioDeviceId own = kNoAudioDevice;
        if (member->getDeviceForUid(uid, own) == kAudioOk && own != kNoAudioDevice) {
            device = own;
            break;
        }
    }
    return kAudioOk;
}

AudioStatus CombinedAudioSystem::getDeviceName(AudioDeviceId device, std::string& name)
{
    return forward(device, [&](AudioSystem& owner) { return owner.getDeviceName(device, name); });
}

AudioStatus CombinedAudioSystem::getStreamConfiguration(AudioDeviceId device, AudioScope scope,
                                                        std::vector<uint32_t>& channelsPerStream)
{
    return forward(device,
                   [&](AudioSystem& owner) { return owner.getStreamConfiguration(device, scope, channelsPerStream); });
}

AudioStatus CombinedAudioSystem::getElementName(AudioDeviceId device, AudioScope scope, uint32_t element,
                                                std::string& name)
{
    return forward(device, [&](AudioSystem& owner) { return owner.getElementName(device, scope, element, name); });
}

AudioStatus CombinedAudioSystem::getSubDeviceUids(AudioDeviceId device, std::vector<std::string>& uids)
{
    return forward(device, [&](AudioSystem& owner) { return owner.getSubDeviceUids(device, uids); });
}

AudioStatus CombinedAudioSystem::getNominalSampleRate(AudioDeviceId device, double& sampleRate)
{
    return forward(device, [&](AudioSystem& owner) { return owner.getNominalSampleRate(device, sampleRate); });
}

AudioStatus CombinedAudioSystem::getBufferFrameSize(AudioDeviceId device, uint32_t& frames)
{
    return forward(device, [&](AudioSystem& owner) { return owner.getBufferFrameSize(device, frames); });
}

AudioStatus CombinedAudioSystem::setBufferFrameSize(AudioDeviceId device, uint32_t frames)
{
    return forward(device, [&](AudioSystem& owner) { return owner.setBufferFrameSize(device, frames); });
}

AudioStatus CombinedAudioSystem::getDeviceIsAlive(AudioDeviceId device, bool& alive)
{
    return forward(device, [&](AudioSystem& owner) { return owner.getDeviceIsAlive(device, alive); });
}

AudioStatus CombinedAudioSystem::addDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                                        void* clientData)
{
    return forward(device,
                   [&](AudioSystem& owner) { return owner.addDeviceAliveListener(device, listener, clientData); });
}

AudioStatus CombinedAudioSystem::removeDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                                           void* clientData)
{
    return forward(device,
                   [&](AudioSystem& owner) { return owner.removeDeviceAliveListener(device, listener, clientData); });
}

AudioStatus CombinedAudioSystem::createOutputUnit(std::unique_ptr<AudioOutputUnit>& unit)
{
    unit = std::make_unique<CombinedOutputUnit>(*this);
    return kAudioOk;
}

AudioStatus CombinedAudioSystem::createIOProc(AudioDeviceId device, IOProc proc, void* clientData, IOProcId& id)
{
    AudioSystem* owner = ownerOf(device);
    if (owner == nullptr)
        return kAudioErrorUnknownDevice;
    IOProcId memberId = 0;
    if (const AudioStatus status = owner->createIOProc(device, proc, clientData, memberId))
        return status;
    std::lock_guard<std::mutex> lock(mutex_);
    id = nextIOProcId_++;
    ioProcs_[id] = {owner, memberId};
    return kAudioOk;
}

bool CombinedAudioSystem::findIOProc(IOProcId id, AudioSystem*& member, IOProcId& memberId) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = ioProcs_.find(id);
    if (found == ioProcs_.end())
        return false;
    member = found->second.first;
    memberId = found->second.second;
    return true;
}

AudioStatus CombinedAudioSystem::startIOProc(AudioDeviceId device, IOProcId id)
{
    AudioSystem* member = nullptr;
    IOProcId memberId = 0;
    return findIOProc(id, member, memberId) ? member->startIOProc(device, memberId) : kAudioErrorBadArgument;
}

AudioStatus CombinedAudioSystem::stopIOProc(AudioDeviceId device, IOProcId id)
{
    AudioSystem* member = nullptr;
    IOProcId memberId = 0;
    return findIOProc(id, member, memberId) ? member->stopIOProc(device, memberId) : kAudioErrorBadArgument;
}

AudioStatus CombinedAudioSystem::destroyIOProc(AudioDeviceId device, IOProcId id)
{
    AudioSystem* member = nullptr;
    IOProcId memberId = 0;
    if (!findIOProc(id, member, memberId))
        return kAudioErrorBadArgument;
    const AudioStatus status = member->destroyIOProc(device, memberId);
    if (status == kAudioOk) {
        std::lock_guard<std::mutex> lock(mutex_);
        ioProcs_.erase(id);
    }
    return status;
}

int64_t CombinedAudioSystem::getDroppedFrameCount() const
{
    int64_t frames = 0;
    for (const std::shared_ptr<AudioSystem>& member : members_)
        frames += member->getDroppedFrameCount();
    return frames;
}
