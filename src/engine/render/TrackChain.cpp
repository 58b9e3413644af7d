#include "engine/render/TrackChain.h"

#include <cmath>
#include <cstdint>

// Four floats processed as one: GCC's and Clang's vector extensions compile
// to plain SSE on every x86-64 (and NEON elsewhere) without intrinsics, and
// each lane does exactly the scalar arithmetic, so results do not depend on
// which lane a track runs in.
typedef float Float4 __attribute__((vector_size(16)));
typedef int32_t Mask4 __attribute__((vector_size(16)));

namespace {

// Limiter gain approach to a higher target while above threshold, and its
// recovery toward unity at or below threshold, per sample.
constexpr float kLimiterApproach = 0.01f;
constexpr float kLimiterRecovery = 0.001f;

Float4 splat(float value)
{
    return Float4{value, value, value, value};
}

Float4 absolute(Float4 value)
{
    return reinterpret_cast<Float4>(reinterpret_cast<Mask4>(value) & Mask4{0x7fffffff, 0x7fffffff, 0x7fffffff,
                                                                              0x7fffffff});
}

// Plain comparisons (no library calls, no branches: audio peaks make
// branches unpredictable); a NaN is caught by resetIfNotFinite after the block.
Float4 maxOf(Float4 a, Float4 b)
{
    return a > b ? a : b;
}

Float4 minOf(Float4 a, Float4 b)
{
    return a < b ? a : b;
}

// One second-order section in transposed direct form II, four lanes wide.
struct SectionLanes {
    Float4 b0 = splat(1.0f), b1{}, b2{}, a1{}, a2{};
    Float4 z1{}, z2{};

    void setLane(int lane, const BiquadCoefficients& c, float state1, float state2)
    {
        b0[lane] = c.b0;
        b1[lane] = c.b1;
        b2[lane] = c.b2;
        a1[lane] = c.a1;
        a2[lane] = c.a2;
        z1[lane] = state1;
        z2[lane] = state2;
    }

    Float4 run(Float4 x)
    {
        const Float4 y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

} // namespace

// The lanes' coefficients and state while a block runs. A stage switched off
// in a lane runs there with pass-through coefficients and zero state (exactly
// the input for finite samples) and its real state is left untouched.
struct TrackChainLanes {
    static constexpr int kHpf = 2;
    static constexpr int kEq = 3;

    SectionLanes hpf[kHpf];
    SectionLanes eq[kEq];
    Float4 threshold = splat(1.0f), release{}, envelope{}, limiterGain = splat(1.0f);
    Mask4 limiterOn{};
    Float4 applied{}, faderTarget{}, smoothing{}, automix{};
    bool anyHpf = false;
    bool anyEq = false;
    bool anyLimiter = false;

    explicit TrackChainLanes(const TrackChain::Lanes& lanes)
    {
        for (int l = 0; l < TrackChain::kLanes; ++l) {
            const TrackChain* chain = lanes.chains[static_cast<size_t>(l)];
            if (chain == nullptr)
                continue;
            const TrackChain::BlockParameters& p = lanes.parameters[static_cast<size_t>(l)];
            if (p.hpfEnabled) {
                anyHpf = true;
                for (int s = 0; s < kHpf; ++s)
                    hpf[s].setLane(l, chain->hpfCoefficients_, chain->hpfState_[s].z1, chain->hpfState_[s].z2);
            }
            if (p.eqEnabled) {
                anyEq = true;
                for (int s = 0; s < kEq; ++s)
                    eq[s].setLane(l, chain->eqCoefficients_.bands[static_cast<size_t>(s)], chain->eqState_[s].z1,
                                  chain->eqState_[s].z2);
            }
            if (p.limiterEnabled) {
                anyLimiter = true;
                limiterOn[l] = -1;
                threshold[l] = chain->limiterCoefficients_.thresholdLinear;
                release[l] = chain->limiterCoefficients_.releaseCoefficient;
                envelope[l] = chain->limiterEnvelope_;
                limiterGain[l] = chain->limiterGain_;
            }
            applied[l] = lanes.appliedGainLinear[static_cast<size_t>(l)];
            faderTarget[l] = p.targetGainLinear;
            smoothing[l] = p.faderSmoothing;
            automix[l] = p.automixGain;
        }
    }

    template <bool Hpf, bool Eq, bool Limiter>
    void run(TrackChain::Lanes& lanes, uint32_t frames)
    {
        // An unused lane reads lane 0's input and writes nowhere.
        std::array<const float*, TrackChain::kLanes> in = lanes.inputs;
        for (int l = 0; l < TrackChain::kLanes; ++l) {
            if (lanes.chains[static_cast<size_t>(l)] == nullptr)
                in[static_cast<size_t>(l)] = in[0];
        }
        const bool used1 = lanes.chains[1] != nullptr;
        const bool used2 = lanes.chains[2] != nullptr;
        const bool used3 = lanes.chains[3] != nullptr;

        for (uint32_t i = 0; i < frames; ++i) {
            Float4 s{in[0][i], in[1][i], in[2][i], in[3][i]};
            if constexpr (Hpf) {
                s = hpf[0].run(s);
                s = hpf[1].run(s);
            }
            if constexpr (Eq) {
                s = eq[0].run(s);
                s = eq[1].run(s);
                s = eq[2].run(s);
            }
            applied += (faderTarget - applied) * smoothing;
            s *= applied;
            if constexpr (Limiter) {
                // max() takes a rising peak at once and lets a falling one
                // release; min() jumps down to a lower target and approaches
                // a higher one by kLimiterApproach.
                const Float4 a = absolute(s);
                const Float4 nextEnvelope = maxOf(a, envelope + (a - envelope) * release);
                const Float4 target = threshold / nextEnvelope;
                const Float4 limited = minOf(target, limiterGain + (target - limiterGain) * kLimiterApproach);
                const Float4 recovered = limiterGain + (1.0f - limiterGain) * kLimiterRecovery;
                const Float4 nextGain = nextEnvelope > threshold ? limited : recovered;
                envelope = limiterOn ? nextEnvelope : envelope;
                limiterGain = limiterOn ? nextGain : limiterGain;
                // The final clip keeps every sample at or below the threshold,
                // even in the first samples of a sudden peak.
                const Float4 clipped = minOf(maxOf(s * nextGain, -threshold), threshold);
                s = limiterOn ? clipped : s;
            }
            s *= automix;
            lanes.outputs[0][i] = s[0];
            if (used1)
                lanes.outputs[1][i] = s[1];
            if (used2)
                lanes.outputs[2][i] = s[2];
            if (used3)
                lanes.outputs[3][i] = s[3];
        }
    }

    void storeBack(TrackChain::Lanes& lanes) const
    {
        for (int l = 0; l < TrackChain::kLanes; ++l) {
            TrackChain* chain = lanes.chains[static_cast<size_t>(l)];
            if (chain == nullptr)
                continue;
            const TrackChain::BlockParameters& p = lanes.parameters[static_cast<size_t>(l)];
            if (p.hpfEnabled) {
                for (int s = 0; s < kHpf; ++s)
                    chain->hpfState_[s] = {hpf[s].z1[l], hpf[s].z2[l]};
            }
            if (p.eqEnabled) {
                for (int s = 0; s < kEq; ++s)
                    chain->eqState_[s] = {eq[s].z1[l], eq[s].z2[l]};
            }
            if (p.limiterEnabled) {
                chain->limiterEnvelope_ = envelope[l];
                chain->limiterGain_ = limiterGain[l];
            }
            lanes.appliedGainLinear[static_cast<size_t>(l)] = applied[l];
        }
    }
};

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

void TrackChain::processLanes(Lanes& lanes, uint32_t frames)
{
    if (lanes.chains[0] == nullptr)
        return;
    TrackChainLanes state(lanes);
    const int stages = (state.anyHpf ? 4 : 0) | (state.anyEq ? 2 : 0) | (state.anyLimiter ? 1 : 0);
    switch (stages) {
    case 0: state.run<false, false, false>(lanes, frames); break;
    case 1: state.run<false, false, true>(lanes, frames); break;
    case 2: state.run<false, true, false>(lanes, frames); break;
    case 3: state.run<false, true, true>(lanes, frames); break;
    case 4: state.run<true, false, false>(lanes, frames); break;
    case 5: state.run<true, false, true>(lanes, frames); break;
    case 6: state.run<true, true, false>(lanes, frames); break;
    default: state.run<true, true, true>(lanes, frames); break;
    }
    state.storeBack(lanes);
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
