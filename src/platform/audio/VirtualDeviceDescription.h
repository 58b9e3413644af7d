#pragma once

#include <cstdint>
#include <string>
#include <vector>

// What a virtual input channel carries until a test feeds it samples.
struct VirtualSignal {
    enum class Kind { Silence, Tone, Noise, Ltc };
    Kind kind = Kind::Silence;
    double frequencyHz = 1000.0;  // tones
    double levelDb = -20.0;       // peak level in dBFS (tones, noise, LTC)
    double framesPerSecond = 25.0;  // LTC
};

// One virtual device as a test or the description file states it.
struct VirtualDeviceDescription {
    std::string name;
    std::string uid;  // empty: made up from the name and the device's id
    // Channels per stream; a stream's channels are interleaved in capture.
    std::vector<uint32_t> inputStreams;
    std::vector<uint32_t> outputStreams;
    // Per channel; a missing or empty entry means the channel has no name.
    std::vector<std::string> inputChannelNames;
    std::vector<std::string> outputChannelNames;
    std::vector<VirtualSignal> inputSignals;  // per input channel; missing = silence
    std::vector<std::string> subDeviceUids;   // non-empty makes an aggregate device
    double sampleRate = 48000.0;
    uint32_t bufferFrameSize = 256;
    // Sizes the device can run at, ascending; a request settles on the
    // smallest one at least as large (or the largest). Empty: 32 to 4096 in
    // powers of two.
    std::vector<uint32_t> supportedBufferFrameSizes;
    bool defaultOutput = false;

    uint32_t inputChannelCount() const;
    uint32_t outputChannelCount() const;
};
