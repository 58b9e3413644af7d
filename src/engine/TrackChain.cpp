#include "engine/TrackChain.h"

#include <cmath>

namespace {

// Limiter gain approach to a higher target while above threshold, and its
// recovery toward unity at or below threshold, per sample.
constexpr float kLimiterApproach = 0.01f;
constexpr float kLimiterRecovery = 0.001f;

// Transposed direct form II: two state values per section.
// Plain comparisons: std::fmax/fmin are library calls (NaN rules) that cost a
// fifth of the chain; a NaN is caught by resetIfNotFinite after the block.
inline float maxOf(float a, float b)
{
    return a > b ? a : b;
}

inline float minOf(float a, float b)
{
    return a < b ? a : b;
}

inline float runSection(const BiquadCoefficients& c, float& z1, float& z2, float x)
{
    const float y = c.b0 * x + z1;
    z1 = c.b1 * x - c.a1 * y + z2;
    z2 = c.b2 * x - c.a2 * y;
    return y;
}

}  // namespace

void TrackChain::refresh(const HpfRealtime& hpf, const EqRealtime& eq, const LimiterRealtime& limiter,
                         BlockParameters& parameters)
{
    parameters.hpfEnabled = hpf.enabled.load(std::memory_order_relaxed);
    parameters.eqEnabled = eq.enabled.load(std::memory_order_relaxed);
    parameters.limiterEnabled = limiter.enabled.load(std::memory_order_relaxed);
    if (parameters.hpfEnabled)
        hpf.coefficients.tryRead(hpfCoefficients_);
    if (parameters.eqEnabled)
        eq.coefficients.tryRead(eqCoefficients_);
    if (parameters.limiterEnabled)
        limiter.coefficients.tryRead(limiterCoefficients_);
}

template <bool Hpf, bool Eq, bool Limiter>
void TrackChain::processBlock(const float* input, float* output, uint32_t frames,
                              const BlockParameters& parameters, float& appliedGainLinear)
{
    const BiquadCoefficients hpf = hpfCoefficients_;
    const BiquadCoefficients eq0 = eqCoefficients_.bands[0];
    const BiquadCoefficients eq1 = eqCoefficients_.bands[1];
    const BiquadCoefficients eq2 = eqCoefficients_.bands[2];
    std::array<SectionState, kHpfSections> hs = hpfState_;
    std::array<SectionState, kEqBands> es = eqState_;
    const float threshold = limiterCoefficients_.thresholdLinear;
    const float release = limiterCoefficients_.releaseCoefficient;
    float envelope = limiterEnvelope_;
    float limiterGain = limiterGain_;
    float applied = appliedGainLinear;
    const float faderTarget = parameters.targetGainLinear;
    const float smoothing = parameters.faderSmoothing;
    const float automix = parameters.automixGain;

    for (uint32_t i = 0; i < frames; ++i) {
        float s = input[i];
        if constexpr (Hpf) {
            s = runSection(hpf, hs[0].z1, hs[0].z2, s);
            s = runSection(hpf, hs[1].z1, hs[1].z2, s);
        }
        if constexpr (Eq) {
            s = runSection(eq0, es[0].z1, es[0].z2, s);
            s = runSection(eq1, es[1].z1, es[1].z2, s);
            s = runSection(eq2, es[2].z1, es[2].z2, s);
        }
        applied += (faderTarget - applied) * smoothing;
        s *= applied;
        if constexpr (Limiter) {
            // Written without branches (audio peaks make them unpredictable):
            // max() takes a rising peak at once and lets a falling one
            // release; min() jumps down to a lower target and approaches a
            // higher one by kLimiterApproach.
            const float a = std::fabs(s);
            envelope = maxOf(a, envelope + (a - envelope) * release);
            const float target = threshold / envelope;
            const float limited = minOf(target, limiterGain + (target - limiterGain) * kLimiterApproach);
            const float recovered = limiterGain + (1.0f - limiterGain) * kLimiterRecovery;
            limiterGain = envelope > threshold ? limited : recovered;
            s *= limiterGain;
            // The final clip keeps every sample at or below the threshold,
            // even in the first samples of a sudden peak.
            s = minOf(maxOf(s, -threshold), threshold);
        }
        output[i] = s * automix;
    }

    hpfState_ = hs;
    eqState_ = es;
    limiterEnvelope_ = envelope;
    limiterGain_ = limiterGain;
    appliedGainLinear = applied;
}

void TrackChain::process(const float* input, float* output, uint32_t frames, const BlockParameters& parameters,
                         float& appliedGainLinear)
{
    const int stages = (parameters.hpfEnabled ? 4 : 0) | (parameters.eqEnabled ? 2 : 0)
                       | (parameters.limiterEnabled ? 1 : 0);
    switch (stages) {
    case 0: processBlock<false, false, false>(input, output, frames, parameters, appliedGainLinear); break;
    case 1: processBlock<false, false, true>(input, output, frames, parameters, appliedGainLinear); break;
    case 2: processBlock<false, true, false>(input, output, frames, parameters, appliedGainLinear); break;
    case 3: processBlock<false, true, true>(input, output, frames, parameters, appliedGainLinear); break;
    case 4: processBlock<true, false, false>(input, output, frames, parameters, appliedGainLinear); break;
    case 5: processBlock<true, false, true>(input, output, frames, parameters, appliedGainLinear); break;
    case 6: processBlock<true, true, false>(input, output, frames, parameters, appliedGainLinear); break;
    default: processBlock<true, true, true>(input, output, frames, parameters, appliedGainLinear); break;
    }
}

bool TrackChain::resetIfNotFinite(float* output, uint32_t frames)
{
    bool finite = std::isfinite(limiterEnvelope_) && std::isfinite(limiterGain_);
    for (const SectionState& section : hpfState_)
        finite = finite && std::isfinite(section.z1) && std::isfinite(section.z2);
    for (const SectionState& section : eqState_)
        finite = finite && std::isfinite(section.z1) && std::isfinite(section.z2);
    if (finite)
        return false;
    hpfState_ = {};
    eqState_ = {};
    limiterEnvelope_ = 0.0f;
    limiterGain_ = 1.0f;
    for (uint32_t i = 0; i < frames; ++i)
        output[i] = 0.0f;
    return true;
}
