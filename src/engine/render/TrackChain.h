#pragma once

#include "engine/render/BiquadCoefficients.h"
#include "engine/render/ChannelStripRealtime.h"

#include <array>
#include <cstdint>

// One track's processing after the trim: double high-pass, three EQ bands,
// fader ramp, limiter and the automix gain, with the filter and limiter
// state it keeps from block to block.
//
// Audio thread: no locks, no allocation, no logging. Only the render
// callback (or a benchmark driving it) touches a TrackChain.
class TrackChain {
public:
    // The parameters of one block, read from the strip's audio-side records.
    struct BlockParameters {
        bool hpfEnabled = false;
        bool eqEnabled = false;
        bool limiterEnabled = false;
        float targetGainLinear = 1.0f;
        float faderSmoothing = 0.0f;  // per-sample approach of the applied gain to the target
        float automixGain = 1.0f;
    };

    // Takes this block's switches and coefficients; a coefficient set that
    // is being republished right now keeps last block's copy.
    void refresh(const HpfRealtime& hpf, const EqRealtime& eq, const LimiterRealtime& limiter,
                 BlockParameters& parameters);

    // Up to kLanes tracks run side by side, one per vector lane: every stage
    // is a sample-to-sample recurrence whose speed is set by its latency, so
    // four independent tracks cost about what one does. A lane whose chain
    // is null is unused (its input and output pointers are ignored).
    // `inputs` are the post-trim signals, `outputs` receive the chain outputs;
    // `appliedGainLinear` is each fader's ramp position, carried between blocks.
    static constexpr int kLanes = 4;
    struct Lanes {
        std::array<TrackChain*, kLanes> chains{};
        std::array<const float*, kLanes> inputs{};
        std::array<float*, kLanes> outputs{};
        std::array<BlockParameters, kLanes> parameters{};
        std::array<float, kLanes> appliedGainLinear{};
    };
    static void processLanes(Lanes& lanes, uint32_t frames);

    // A state that is no longer finite (a NaN or an overflow got in) would
    // keep the track silent or NaN for good: clear it and this block's output.
    // True when something was reset.
    bool resetIfNotFinite(float* output, uint32_t frames);

private:
    friend struct TrackChainLanes;

    struct SectionState {
        float z1 = 0.0f;
        float z2 = 0.0f;
    };

    static constexpr int kHpfSections = 2;
    static constexpr int kEqBands = 3;

    BiquadCoefficients hpfCoefficients_;
    EqBandCoefficients eqCoefficients_;
    LimiterCoefficients limiterCoefficients_;
    std::array<SectionState, kHpfSections> hpfState_{};
    std::array<SectionState, kEqBands> eqState_{};
    float limiterEnvelope_ = 0.0f;
    float limiterGain_ = 1.0f;
};
