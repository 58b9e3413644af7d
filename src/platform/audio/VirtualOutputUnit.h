#pragma once

#include "platform/audio/AudioOutputUnit.h"

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

class VirtualAudioSystem;

// An output unit of the virtual audio system. Its cycles are run by the
// system: on the unit's own I/O thread in real-time mode, on the stepping
// thread in stepped mode.
//
// Threads: configuration members are written by the control thread while the
// unit is stopped and read by the cycle; the cycle state (staged input,
// output buffers) belongs to whichever thread runs the cycle.
class VirtualOutputUnit : public AudioOutputUnit {
public:
    explicit VirtualOutputUnit(VirtualAudioSystem& system);
    ~VirtualOutputUnit() override;

    VirtualOutputUnit(const VirtualOutputUnit&) = delete;
    VirtualOutputUnit& operator=(const VirtualOutputUnit&) = delete;

    AudioStatus setCurrentDevice(AudioDeviceId device) override;
    AudioStatus enableIO(AudioUnitBus bus, bool enabled) override;
    AudioStatus setStreamFormat(AudioUnitBus bus, const AudioStreamFormat& format) override;
    AudioStatus setRenderCallback(RenderCallback callback, void* refcon) override;
    AudioStatus getBufferFrameSize(uint32_t& frames) override;
    AudioStatus initialize() override;
    AudioStatus uninitialize() override;
    AudioStatus start() override;
    AudioStatus stop() override;
    AudioStatus renderInput(const AudioRenderTime& time, uint32_t frames, AudioBlockBufferList& inputs) override;

private:
    friend class VirtualAudioSystem;

    void stopThread();
    void threadMain();

    VirtualAudioSystem& system_;
    AudioDeviceId device_ = kNoAudioDevice;
    bool inputEnabled_ = false;
    bool outputEnabled_ = true;
    AudioStreamFormat inputFormat_{48000.0, 1, true, true};
    AudioStreamFormat outputFormat_{48000.0, 2, true, true};
    RenderCallback callback_ = nullptr;
    void* refcon_ = nullptr;
    bool initialized_ = false;
    std::atomic<bool> started_{false};

    // Cycle state.
    std::vector<std::vector<float>> inputStage_;
    uint32_t stagedFrames_ = 0;
    AudioStatus renderInputStatus_ = kAudioOk;
    std::vector<std::vector<float>> outputStorage_;
    std::vector<AudioBlockBuffer> outputBuffers_;
    int64_t sampleTimeFrames_ = 0;

    // Real-time I/O thread.
    std::thread thread_;
    std::atomic<bool> threadRunning_{false};
    std::mutex threadMutex_;
    std::condition_variable threadCondition_;
};
