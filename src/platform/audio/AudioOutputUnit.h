#pragma once

#include "platform/audio/AudioTypes.h"

// An output unit bound to one device: once started it calls its render
// callback once per block on the system's I/O thread; the callback fills the
// output buffers and may pull the block's input with renderInput.
//
// Threads: every member but renderInput is called on the control (GUI) thread
// while the caller owns the unit. renderInput is called only from inside the
// render callback, on the I/O thread. stop() returns only after a block that
// was running has finished, so after stop() the callback is not running.
// Destroying the unit stops and disposes of it.
class AudioOutputUnit {
public:
    // Called once per block. `outputs` has one non-interleaved float buffer
    // per output channel of the output bus, each holding `frames` frames.
    using RenderCallback = AudioStatus (*)(void* refcon, const AudioRenderTime& time, AudioUnitBus bus,
                                           uint32_t frames, AudioBlockBufferList& outputs);

    virtual ~AudioOutputUnit();

    virtual AudioStatus setCurrentDevice(AudioDeviceId device) = 0;
    virtual AudioStatus enableIO(AudioUnitBus bus, bool enabled) = 0;
    // The format the engine sees: on the input bus the format of what
    // renderInput delivers, on the output bus the format the callback fills.
    virtual AudioStatus setStreamFormat(AudioUnitBus bus, const AudioStreamFormat& format) = 0;
    virtual AudioStatus setRenderCallback(RenderCallback callback, void* refcon) = 0;
    // The buffer size of the bound device, in frames.
    virtual AudioStatus getBufferFrameSize(uint32_t& frames) = 0;

    virtual AudioStatus initialize() = 0;
    virtual AudioStatus uninitialize() = 0;
    virtual AudioStatus start() = 0;
    virtual AudioStatus stop() = 0;

    // I/O thread only, from inside the render callback: copies the block's
    // input, `frames` frames of each channel, into `inputs` (one buffer per
    // channel). Fails without writing when a buffer is too small for `frames`.
    virtual AudioStatus renderInput(const AudioRenderTime& time, uint32_t frames,
                                    AudioBlockBufferList& inputs) = 0;
};
