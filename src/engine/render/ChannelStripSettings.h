#pragma once

#include "engine/render/BiquadCoefficients.h"

#include <array>

// The channel strip's parameters as the engine's tables keep them (GUI
// thread, under the group's mutex). Defaults are those of a track never set.

struct HpfSettings {
    bool enabled = false;
    float frequencyHz = 80.0f;
};

struct EqBand {
    float frequencyHz = 1000.0f;
    float gainDb = 0.0f;
    float q = 1.0f;
    BiquadCoefficients coefficients;
};

struct EqSettings {
    static constexpr int kBandCount = 3;
    bool enabled = false;
    std::array<EqBand, kBandCount> bands;
};

struct LimiterSettings {
    bool enabled = false;
    float thresholdDb = -6.0f;
    // Switching on a limiter whose coefficients were never calculated
    // calculates them first.
    bool coefficientsComputed = false;
};
