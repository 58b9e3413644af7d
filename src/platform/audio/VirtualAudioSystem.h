#pragma once

#include "platform/audio/AudioSystem.h"
#include "platform/audio/VirtualAudioDescription.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class VirtualOutputUnit;
class VirtualSignalSource;

// Platform calls a test can make fail (see failCall).
enum class VirtualAudioCall {
    DeviceList, DefaultOutputDevice, DeviceForUid, DeviceName, StreamConfiguration, ElementName,
    SubDeviceList, NominalSampleRate, GetBufferFrameSize, SetBufferFrameSize, DeviceIsAlive,
    AddListener, RemoveListener, CreateOutputUnit,
    UnitSetDevice, UnitEnableIO, UnitSetFormat, UnitSetRenderCallback, UnitGetBufferFrameSize,
    UnitInitialize, UnitUninitialize, UnitStart, UnitStop, UnitRenderInput,
    CreateIOProc, StartIOProc, StopIOProc, DestroyIOProc,
};

// An audio system made of described devices, so the program runs and is
// tested without audio hardware.
//
// Two ways to run:
// - RealTime: each started output unit and each started IOProc has its own
//   I/O thread that runs a cycle on absolute deadlines at the device's rate.
// - Stepped: nothing runs by itself; renderBlocks() runs capture cycles and
//   render callbacks synchronously on the caller's thread.
//
// Threads: control calls (devices, faults, feeds, captured output) may come
// from any thread; one mutex guards the device table and is never held while
// a render callback, an IOProc or a listener runs. Device-alive listeners are
// called on the system's own notification thread.
class VirtualAudioSystem : public AudioSystem {
public:
    enum class Mode { RealTime, Stepped };

    VirtualAudioSystem(Mode mode, const VirtualAudioDescription& description);
    ~VirtualAudioSystem() override;

    VirtualAudioSystem(const VirtualAudioSystem&) = delete;
    VirtualAudioSystem& operator=(const VirtualAudioSystem&) = delete;

    Mode mode() const { return mode_; }

    // AudioSystem
    AudioStatus getDeviceIds(std::vector<AudioDeviceId>& devices) override;
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

    // --- Test controls ---------------------------------------------------
    AudioDeviceId addDevice(const VirtualDeviceDescription& description);
    // The device disappears at once, without an alive notification.
    bool removeDevice(AudioDeviceId device);
    bool renameDevice(AudioDeviceId device, const std::string& name);
    // The device stops delivering cycles, leaves the device list, reads as
    // not alive, and its alive listeners are called on the notification thread.
    bool unplugDevice(AudioDeviceId device);
    // Calls the listeners of a device whose alive state did not change.
    bool notifyAliveUnchanged(AudioDeviceId device);
    // The first device of that name, kNoAudioDevice when none.
    AudioDeviceId findDevice(const std::string& name) const;

    // The call answers `status` `times` times (-1: until cleared), for one
    // device or (kNoAudioDevice) for all.
    void failCall(VirtualAudioCall call, AudioStatus status, AudioDeviceId device = kNoAudioDevice, int times = -1);
    void clearFailures();

    // RealTime mode: frames per render callback cycle through this pattern
    // (0 and sizes above the buffer size allowed); empty uses the device's
    // buffer size.
    void setFramesPerCallbackPattern(std::vector<uint32_t> pattern);
    // The capture clock of a device runs fast (positive) or slow (negative)
    // against the output units' clocks by this many parts per million.
    void setCaptureDriftPpm(AudioDeviceId device, double driftPpm);

    // The channel plays these samples next (to whichever unit or IOProc pulls
    // the device's input), then silence.
    bool feedInput(AudioDeviceId device, uint32_t channel, std::vector<float> samples);
    // Every output channel's samples rendered to the device since the last
    // call (always kept in Stepped mode; in RealTime mode only when enabled).
    std::vector<std::vector<float>> takeOutput(AudioDeviceId device);
    void setOutputCaptureEnabled(bool enabled);

    // Stepped mode: per block, first the capture cycles the block's time
    // allows (with drift), then one render callback of `frames` frames for
    // every started unit. False in RealTime mode.
    bool renderBlocks(int blocks, uint32_t frames);

    // IOProcs created and not yet destroyed, over all devices.
    size_t ioProcCount() const;

    // Render callbacks run so far, over all units.
    uint64_t renderCycleCount() const;
    // Waits until renderCycleCount() reaches `count`; false on timeout.
    bool waitForRenderCycles(uint64_t count, std::chrono::milliseconds timeout);
    // Waits until every queued alive notification has been delivered.
    void waitForNotifications();

private:
    friend class VirtualOutputUnit;

    struct Device;
    struct Listener {
        AudioDeviceId device;
        DeviceAliveListener listener;
        void* clientData;
        bool operator==(const Listener&) const = default;
    };
    struct Failure {
        VirtualAudioCall call;
        AudioDeviceId device;
        AudioStatus status;
        int remaining;
    };
    struct IOProcEntry;

    Device* findLocked(AudioDeviceId device) const;
    Device* findListedLocked(AudioDeviceId device) const;
    AudioStatus failureLocked(VirtualAudioCall call, AudioDeviceId device);
    template <typename Read>
    AudioStatus queryDevice(VirtualAudioCall call, AudioDeviceId device, Read&& read);
    AudioDeviceId addDeviceLocked(const VirtualDeviceDescription& description);
    void queueNotificationsLocked(AudioDeviceId device);
    void notificationThreadMain();

    // Units (called by VirtualOutputUnit).
    void registerUnit(VirtualOutputUnit* unit);
    void unregisterUnit(VirtualOutputUnit* unit);
    AudioStatus unitCallStatus(VirtualAudioCall call, AudioDeviceId device);
    bool deviceHasOutputs(AudioDeviceId device);
    uint32_t nextCallbackFrames(AudioDeviceId device);
    // One render cycle of `unit`; false when its device delivers no cycles.
    bool runUnitCycle(VirtualOutputUnit& unit, uint32_t frames);

    // The IOProc `id` when it exists and was created on `device`.
    IOProcEntry* findIOProcLocked(AudioDeviceId device, IOProcId id) const;
    // Ends the entry's real-time thread, if any. Called without mutex_: each
    // cycle takes it.
    static void joinIOProcThread(IOProcEntry& entry);
    void runIOProcCycle(IOProcEntry& entry);
    void ioProcThreadMain(IOProcEntry* entry);
    void deliverSteppedCaptureLocked(uint32_t outputFrames, std::vector<IOProcEntry*>& due);

    const Mode mode_;
    mutable std::mutex mutex_;
    std::condition_variable cyclesCondition_;
    std::map<AudioDeviceId, std::unique_ptr<Device>> devices_;
    std::vector<AudioDeviceId> order_;  // listed devices in system order
    AudioDeviceId nextDeviceId_ = 100;
    AudioDeviceId defaultOutput_ = kNoAudioDevice;
    std::vector<Failure> failures_;
    std::vector<uint32_t> framesPattern_;
    size_t framesPatternIndex_ = 0;
    bool captureOutputInRealTime_ = false;
    std::vector<VirtualOutputUnit*> units_;
    std::map<IOProcId, std::unique_ptr<IOProcEntry>> ioProcs_;
    IOProcId nextIOProcId_ = 1;
    uint64_t renderCycles_ = 0;

    // Listener registrations are guarded by mutex_; dispatchMutex_ is held
    // while a listener runs, so removal waits for a call under way.
    std::vector<Listener> listeners_;
    std::mutex dispatchMutex_;
    std::deque<Listener> pendingNotifications_;
    bool dispatching_ = false;
    std::condition_variable notificationCondition_;
    std::condition_variable notificationsIdleCondition_;
    std::atomic<bool> notificationThreadRunning_{true};
    std::thread notificationThread_;
};
