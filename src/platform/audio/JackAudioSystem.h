#pragma once

#include "platform/audio/AudioSystem.h"

#include <jack/types.h>

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class JackPortClient;

// The audio system of a running JACK server (jackd, or PipeWire's JACK
// library): one device per server, named "JACK (<server>)", whose input
// channels are the server's physical capture ports and whose output
// channels are its physical playback ports, each port a stream of one
// channel named after the port ("system:capture_1" is "capture_1").
// Sample rate, buffer size and alive state are the server's own.
//
// An output unit and each direct capture are JACK clients of their own,
// connected to those ports; see JackOutputUnit and JackPortClient.
//
// Threads: control calls may come from any thread but JACK's process
// threads; mutex_ guards the control client and the cached device state and
// is never held while a listener or a cycle runs. The server's shutdown and
// xrun notices arrive on the library's threads and only touch atomics and a
// pipe; the system's notification thread reads the pipe and calls the
// device-alive listeners (removing a listener waits for a call under way).
class JackAudioSystem : public AudioSystem, public std::enable_shared_from_this<JackAudioSystem> {
public:
    // The one device's id, apart from the ids other systems hand out.
    static constexpr AudioDeviceId kDeviceId = 0x4A000001;

    // Connects to a running server (empty name: the default server). Null
    // with a readable reason when no server of that name answers. Our
    // clients are named `clientName` (the output unit), and with "-control"
    // and "-capture" after it. The library names a client's socket after
    // the client and the user, not the server: two processes of one user
    // on two servers at once need two names.
    static std::shared_ptr<JackAudioSystem> connect(const std::string& serverName, std::string& error,
                                                    const std::string& clientName = "tonvale");
    ~JackAudioSystem() override;

    JackAudioSystem(const JackAudioSystem&) = delete;
    JackAudioSystem& operator=(const JackAudioSystem&) = delete;

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
    // Asks the server for the power of two at or above `frames` (16..8192).
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
    // Each xrun the server reports while a unit or capture of ours runs
    // counts the frames it delayed the graph by, at least one period.
    int64_t getDroppedFrameCount() const override;

    const std::string& serverName() const { return serverName_; }
    const std::string& clientName() const { return clientName_; }
    std::string deviceName() const;
    // Xruns the server reported since the system connected.
    uint64_t xrunCount() const { return xruns_.load(std::memory_order_relaxed); }
    // The server's DSP load in percent; 0 once the server is gone.
    float cpuLoadPercent();

private:
    friend class JackOutputUnit;

    struct Listener {
        AudioDeviceId device;
        DeviceAliveListener listener;
        void* clientData;
        bool operator==(const Listener&) const = default;
    };
    struct IOProcEntry;

    JackAudioSystem(std::string serverName, std::string clientName, jack_client_t* control);

    bool isAlive() const { return alive_.load(std::memory_order_acquire); }
    // The server's physical ports of one scope, full names, refreshed from
    // the server while it runs.
    std::vector<std::string> physicalPorts(AudioScope scope);
    std::vector<std::string> physicalPortsLocked(AudioScope scope);
    // A unit or capture of ours started or stopped rendering: xruns count
    // only while one does.
    void streamStarted() { activeStreams_.fetch_add(1, std::memory_order_relaxed); }
    void streamStopped() { activeStreams_.fetch_sub(1, std::memory_order_relaxed); }

    static void onShutdown(jack_status_t code, const char* reason, void* arg);
    static int onXrun(void* arg);
    static int onBufferSize(jack_nframes_t frames, void* arg);
    static void ioProcCycle(void* entry, uint32_t frames);
    void notificationThreadMain();
    void dispatchAliveChange();

    const std::string serverName_;
    const std::string clientName_;
    mutable std::mutex mutex_;
    jack_client_t* control_ = nullptr;
    std::vector<std::string> capturePorts_;
    std::vector<std::string> playbackPorts_;
    std::atomic<double> sampleRate_{0.0};

    std::atomic<bool> alive_{true};
    std::atomic<uint32_t> bufferFrames_{0};
    std::atomic<uint64_t> xruns_{0};
    std::atomic<int64_t> droppedFrames_{0};
    std::atomic<int> activeStreams_{0};

    std::map<IOProcId, std::unique_ptr<IOProcEntry>> ioProcs_;
    IOProcId nextIOProcId_ = 1;

    // Listener registrations are guarded by mutex_; dispatchMutex_ is held
    // while a listener runs.
    std::vector<Listener> listeners_;
    std::mutex dispatchMutex_;
    // The library's threads write one byte per notice: kShutdownNotice from
    // the shutdown callback, kQuitNotice from the destructor.
    int noticePipe_[2] = {-1, -1};
    std::thread notificationThread_;
};
