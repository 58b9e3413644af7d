#pragma once

#include "EngineTestSupport.h"

#include <cmath>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// The engine on the stepped "Virtual Interface" (8 in, 8 out) with helpers
// to route, feed exact input and read the outputs back block by block.
class RenderTest : public EngineTest {
protected:
    static constexpr double kRate = 48000.0;

    void SetUp() override;
    // Routing while the unit is stopped retires old snapshots at once, so a
    // stepped test does not wait for blocks nobody renders.
    void whileStopped(const std::function<void()>& change);
    // Track t fed by input channel inputs[t] ("" = none); direct outputs per track.
    void routeInputs(const std::vector<std::string>& inputPorts);
    void routeOutputs(const std::vector<std::vector<std::string>>& trackOutputs,
                      const std::vector<std::string>& mixOutputs);
    void feed(uint32_t channel, std::vector<float> samples);
    // Renders and returns every output channel's samples of these blocks.
    std::vector<std::vector<float>> render(int blocks, uint32_t frames);

    std::vector<std::string> inputNames_;
    std::vector<std::string> outputNames_;
    AudioDeviceId device_ = kNoAudioDevice;
};

std::vector<float> sine(double frequencyHz, double amplitude, size_t frames, double rate = 48000.0);
double rms(const std::vector<float>& samples, size_t from, size_t to);
// A 48 kHz WAV written by libsndfile, so the engine's reader is checked
// against files it did not write itself. `subtype` is a libsndfile sample
// format (SF_FORMAT_FLOAT, SF_FORMAT_PCM_24, ...); false unless every frame
// of `interleaved` was written.
bool writeWavWithSndfile(const std::string& path, int channels, int subtype, const std::vector<float>& interleaved);
