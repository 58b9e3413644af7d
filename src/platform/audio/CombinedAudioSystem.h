#pragma once

#include "platform/audio/AudioSystem.h"

#include <map>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

// Several audio systems seen as one: the devices of each member in member
// order, every device call answered by the member that owns the device, and
// output units that bind to whichever member's device they are given. The
// members' device ids must not overlap (the virtual system counts from 100,
// JACK uses its own fixed id).
//
// Threads: as AudioSystem; the members keep their own contracts. mutex_
// guards only the table of direct captures, never held across a member call.
class CombinedAudioSystem : public AudioSystem {
public:
    explicit CombinedAudioSystem(std::vector<std::shared_ptr<AudioSystem>> members);

    const std::vector<std::shared_ptr<AudioSystem>>& members() const { return members_; }
    // The member that answers for `device`; null when none knows it.
    AudioSystem* ownerOf(AudioDeviceId device) const;

    AudioStatus getDeviceIds(std::vector<AudioDeviceId>& devices) override;
    // The last member's default output: a server's playback reaches the
    // speakers, the built-in virtual device does not.
    AudioStatus getDefaultOutputDevice(AudioDeviceId& device) override;
    AudioStatus getDeviceForUid(const std::string& uid, AudioDeviceId& device) override;
    AudioStatus getDeviceName(AudioDeviceId device, std::string& name) override;
    AudioStatus getStreamConfiguration(AudioDeviceId device, AudioScope scope,
                                       std::vector<uint32_t>& channelsPerStream) override;
    AudioStatus getElementName(AudioDeviceId device, AudioScope scope, uint32_t element, std::string& name) override;
    AudioStatus getSubDeviceUids(AudioDeviceId device, std::vector<std::string>& uids) override;
    AudioStatus getNominalSampleRate(AudioDeviceId device, double& sampleRate) override;
    AudioStatus getBufferFrameSize(AudioDeviceId device, uint32_t& frames) override;
    AudioStatus setBufferFrameSize(AudioDeviceId device, uint32_t frames) override;
    AudioStatus getDeviceIsAlive(AudioDeviceId device, bool& alive) override;
    AudioStatus addDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener, void* clientData) override;
    AudioStatus removeDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                          void* clientData) override;
    AudioStatus createOutputUnit(std::unique_ptr<AudioOutputUnit>& unit) override;
    AudioStatus createIOProc(AudioDeviceId device, IOProc proc, void* clientData, IOProcId& id) override;
    AudioStatus startIOProc(AudioDeviceId device, IOProcId id) override;
    AudioStatus stopIOProc(AudioDeviceId device, IOProcId id) override;
    AudioStatus destroyIOProc(AudioDeviceId device, IOProcId id) override;
    int64_t getDroppedFrameCount() const override;

private:
    template <typename Call>
    AudioStatus forward(AudioDeviceId device, Call&& call);
    // The member and its own id of one of our direct-capture ids.
    bool findIOProc(IOProcId id, AudioSystem*& member, IOProcId& memberId) const;

    const std::vector<std::shared_ptr<AudioSystem>> members_;
    mutable std::mutex mutex_;
    std::map<IOProcId, std::pair<AudioSystem*, IOProcId>> ioProcs_;
    IOProcId nextIOProcId_ = 1;
};
