#pragma once

#include "platform/audio/VirtualDeviceDescription.h"

#include <cstdint>
#include <vector>

struct LTCEncoder;

// The sample stream of one virtual input channel: its generator, or samples a
// test fed in (played once, then silence).
//
// Threads: one owner at a time; the virtual audio system calls it under its lock.
class VirtualSignalSource {
public:
    VirtualSignalSource(const VirtualSignal& signal, double sampleRate);
    ~VirtualSignalSource();

    VirtualSignalSource(const VirtualSignalSource&) = delete;
    VirtualSignalSource& operator=(const VirtualSignalSource&) = delete;

    // Replaces the generator: the next frames are these samples, then silence.
    void feed(std::vector<float> samples);
    // Writes `frames` samples, `strideSamples` apart.
    void render(float* destination, uint32_t frames, uint32_t strideSamples);

private:
    float nextGeneratedSample();
    float nextLtcSample();
    void encodeNextLtcFrame();

    VirtualSignal signal_;
    double sampleRate_;
    double amplitudeLinear_;
    double phase_ = 0.0;
    uint64_t noiseState_ = 0x9E3779B97F4A7C15ull;

    LTCEncoder* ltcEncoder_ = nullptr;
    std::vector<float> ltcPending_;
    size_t ltcPendingIndex_ = 0;

    bool fed_ = false;
    std::vector<float> fedSamples_;
    size_t fedIndex_ = 0;
};
