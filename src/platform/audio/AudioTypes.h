#pragma once

#include <cstdint>

// Plain values shared by every audio system implementation and its callers.

// Every platform call answers a status: 0 is success, anything else is the
// reason, logged by the caller in decimal.
using AudioStatus = int32_t;

constexpr AudioStatus kAudioOk = 0;
constexpr AudioStatus kAudioErrorUnknownDevice = -10;    // no such device (removed or never existed)
constexpr AudioStatus kAudioErrorUnknownProperty = -11;  // the device does not have this property
constexpr AudioStatus kAudioErrorBadArgument = -50;      // a parameter or buffer the call cannot use
constexpr AudioStatus kAudioErrorInvalidState = -12;     // the object is not in a state for this call
constexpr AudioStatus kAudioErrorDeviceGone = -13;       // the device was unplugged
constexpr AudioStatus kAudioErrorUnsupportedRate = -14;  // the device runs at a rate the caller cannot use

// Devices are numbered by the system; 0 is "no device".
using AudioDeviceId = uint32_t;
constexpr AudioDeviceId kNoAudioDevice = 0;

enum class AudioScope { Input, Output };

// An output unit's two buses, numbered as the unit numbers them.
enum class AudioUnitBus : uint32_t { Output = 0, Input = 1 };

// One buffer of samples. `channelCount` channels are interleaved in it;
// non-interleaved formats use one buffer per channel with channelCount 1.
struct AudioBlockBuffer {
    uint32_t channelCount = 1;
    uint32_t byteSize = 0;  // bytes the buffer holds; calls that fill it leave it unchanged
    float* data = nullptr;
};

struct AudioBlockBufferList {
    uint32_t bufferCount = 0;
    AudioBlockBuffer* buffers = nullptr;
};

// The sample format of a unit's bus. The engine only ever asks for 32-bit
// float, one buffer per channel, at 48 kHz.
struct AudioStreamFormat {
    double sampleRate = 48000.0;
    uint32_t channelsPerFrame = 1;
    bool floatSamples = true;
    bool nonInterleaved = true;
};

// When a block is rendered: the first frame's position on the unit's own
// sample clock.
struct AudioRenderTime {
    int64_t sampleTimeFrames = 0;
};
