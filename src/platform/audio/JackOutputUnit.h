#pragma once

#include "platform/audio/AudioOutputUnit.h"
#include "platform/audio/JackPortClient.h"

#include <memory>
#include <vector>

class JackAudioSystem;

// An output unit on a JACK server: a client named as the system says
// ("tonvale") with one input port
// per channel of the input bus format and one output port per channel of
// the output bus format, connected to the server's physical capture and
// playback ports in order. Each server period runs the render callback once
// on JACK's process thread; renderInput hands it that period's input.
//
// Initialising refuses a server whose rate differs from the bus formats':
// nothing converts rates on this path.
//
// Threads: as AudioOutputUnit. Configuration is written on the control
// thread while the unit is not initialised and read by the cycle; the cycle
// state (period frames, output buffers, sample clock) belongs to the process
// thread while the unit is started. stop() closes the client's gate, so the
// callback is not called again after it returns, also when the server died.
class JackOutputUnit : public AudioOutputUnit {
public:
    explicit JackOutputUnit(std::shared_ptr<JackAudioSystem> system);
    ~JackOutputUnit() override;

    JackOutputUnit(const JackOutputUnit&) = delete;
    JackOutputUnit& operator=(const JackOutputUnit&) = delete;

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

    // The JACK names of the unit's own ports, once initialised.
    std::vector<std::string> inputPortNames() const;
    std::vector<std::string> outputPortNames() const;

private:
    static void cycle(void* opaque, uint32_t frames);

    const std::shared_ptr<JackAudioSystem> system_;
    AudioDeviceId device_ = kNoAudioDevice;
    bool inputEnabled_ = false;
    bool outputEnabled_ = true;
    AudioStreamFormat inputFormat_{48000.0, 1, true, true};
    AudioStreamFormat outputFormat_{48000.0, 2, true, true};
    RenderCallback callback_ = nullptr;
    void* refcon_ = nullptr;
    bool initialized_ = false;
    bool started_ = false;
    JackPortClient client_;

    // Process thread: no locks, no allocation, no logging. Sized at initialize.
    uint32_t cycleFrames_ = 0;
    std::vector<AudioBlockBuffer> outputBuffers_;
    AudioBlockBufferList outputList_;
    int64_t sampleTimeFrames_ = 0;
};
