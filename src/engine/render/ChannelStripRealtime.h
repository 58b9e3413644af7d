#pragma once

#include "engine/render/BiquadCoefficients.h"
#include "realtime/SeqlockValue.h"

#include <array>
#include <atomic>

// The audio-side channel-strip records, one fixed array of 32 of each in the
// engine. The strip's setters (GUI thread, under the group mutex) publish
// into them; the render callback reads each once per block without a lock.
// Switches and gains are single relaxed atomics; coefficient sets are
// published whole through a SeqlockValue so a block never runs a filter
// with half old, half new coefficients.

struct TrackGainRealtime {
    std::atomic<float> targetGainLinear{1.0f};
    // Written back by the render callback at the end of every block.
    std::atomic<float> appliedGainLinear{1.0f};
    std::atomic<float> trimGainLinear{1.0f};
};

struct HpfRealtime {
    std::atomic<bool> enabled{false};
    SeqlockValue<BiquadCoefficients> coefficients;
};

struct EqBandCoefficients {
    std::array<BiquadCoefficients, 3> bands;
};

struct EqRealtime {
    std::atomic<bool> enabled{false};
    SeqlockValue<EqBandCoefficients> coefficients;
};

struct LimiterCoefficients {
    float thresholdLinear = 0.5f;
    float attackCoefficient = 0.0f;
    float releaseCoefficient = 0.0f;
};

struct LimiterRealtime {
    std::atomic<bool> enabled{false};
    SeqlockValue<LimiterCoefficients> coefficients;
};
