#pragma once

#include "platform/audio/AudioOutputUnit.h"
#include "platform/audio/AudioTypes.h"

#include <memory>
#include <string>
#include <vector>

// The machine's audio devices and the means to run audio on them: device
// properties, an output unit per use, and direct (IOProc-style) capture of a
// device's input on the device's own I/O thread.
//
// Threads: property calls may come from any thread but the I/O threads.
// A device-alive listener is called on the system's notification thread;
// removing a listener waits until a call of it that is under way returns, so
// a listener must not remove itself. An IOProc is called on its device's I/O
// thread from startIOProc until stopIOProc returns.
class AudioSystem {
public:
    // Called when a device's alive state changes. The return value is ignored.
    using DeviceAliveListener = AudioStatus (*)(AudioDeviceId device, void* clientData);
    // Called once per capture cycle with the device's input: one buffer per
    // input stream, each interleaved with that stream's channel count.
    using IOProc = AudioStatus (*)(AudioDeviceId device, const AudioBlockBufferList& input, void* clientData);
    using IOProcId = uint64_t;

    virtual ~AudioSystem();

    // All devices in the system's order.
    virtual AudioStatus getDeviceIds(std::vector<AudioDeviceId>& devices) = 0;
    virtual AudioStatus getDefaultOutputDevice(AudioDeviceId& device) = 0;
    virtual AudioStatus getDeviceForUid(const std::string& uid, AudioDeviceId& device) = 0;

    virtual AudioStatus getDeviceName(AudioDeviceId device, std::string& name) = 0;
    // Channels of each stream of the device in a scope, in stream order; the
    // device's channel count is their sum.
    virtual AudioStatus getStreamConfiguration(AudioDeviceId device, AudioScope scope,
                                               std::vector<uint32_t>& channelsPerStream) = 0;
    // The name of one channel; elements count channels from 1. A channel
    // without a name of its own answers success and an empty name.
    virtual AudioStatus getElementName(AudioDeviceId device, AudioScope scope, uint32_t element,
                                       std::string& name) = 0;
    // UIDs of an aggregate device's sub-devices, in order; empty for others.
    virtual AudioStatus getSubDeviceUids(AudioDeviceId device, std::vector<std::string>& uids) = 0;
    virtual AudioStatus getNominalSampleRate(AudioDeviceId device, double& sampleRate) = 0;
    virtual AudioStatus getBufferFrameSize(AudioDeviceId device, uint32_t& frames) = 0;
    // Asks for a buffer size; the device may settle on another one, which
    // getBufferFrameSize then reports.
    virtual AudioStatus setBufferFrameSize(AudioDeviceId device, uint32_t frames) = 0;
    virtual AudioStatus getDeviceIsAlive(AudioDeviceId device, bool& alive) = 0;

    virtual AudioStatus addDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                               void* clientData) = 0;
    virtual AudioStatus removeDeviceAliveListener(AudioDeviceId device, DeviceAliveListener listener,
                                                  void* clientData) = 0;

    // A new, unbound output unit.
    virtual AudioStatus createOutputUnit(std::unique_ptr<AudioOutputUnit>& unit) = 0;

    virtual AudioStatus createIOProc(AudioDeviceId device, IOProc proc, void* clientData, IOProcId& id) = 0;
    virtual AudioStatus startIOProc(AudioDeviceId device, IOProcId id) = 0;
    // Returns after a cycle that was under way has finished.
    virtual AudioStatus stopIOProc(AudioDeviceId device, IOProcId id) = 0;
    virtual AudioStatus destroyIOProc(AudioDeviceId device, IOProcId id) = 0;

    // Frames the system's devices failed to move in time while this system
    // was rendering or capturing for its caller (an audio server's xruns),
    // over all devices since the system was created; it only grows. Systems
    // that cannot lose frames answer 0.
    virtual int64_t getDroppedFrameCount() const;
};
