// Tracks share vector lanes in the track chain; a track's output must not
// depend on which lane it runs in or on what its neighbours have switched on.

#include "engine/render/TrackChain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

namespace {

constexpr int kRate = 48000;
constexpr uint32_t kFrames = 512;

struct StripSetup {
    bool hpf;
    bool eq;
    bool limiter;
    float gain;
    unsigned inputSeed;
};

struct StripRecords {
    HpfRealtime hpf;
    EqRealtime eq;
    LimiterRealtime limiter;

    explicit StripRecords(const StripSetup& setup)
    {
        hpf.enabled = setup.hpf;
        hpf.coefficients.publish(BiquadCoefficients::highPass(kRate, 120.0f));
        eq.enabled = setup.eq;
        eq.coefficients.publish(EqBandCoefficients{{BiquadCoefficients::peakingEq(kRate, 200.0f, 6.0f, 0.7f),
                                                    BiquadCoefficients::peakingEq(kRate, 2000.0f, -8.0f, 2.0f),
                                                    BiquadCoefficients::peakingEq(kRate, 9000.0f, 4.0f, 0.9f)}});
        limiter.enabled = setup.limiter;
        limiter.coefficients.publish(LimiterCoefficients{0.25f, 0.2f, 0.0005f});
    }
};

std::vector<float> loudNoise(unsigned seed)
{
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> sample(-0.9f, 0.9f);
    std::vector<float> samples(kFrames * 3);
    for (float& s : samples)
        s = sample(random);
    return samples;
}

// Runs `setups` side by side for three blocks and returns every lane's output.
std::vector<std::vector<float>> runTogether(const std::vector<StripSetup>& setups)
{
    const size_t count = setups.size();
    std::vector<TrackChain> chains(count);
    std::vector<std::unique_ptr<StripRecords>> records;
    std::vector<std::vector<float>> inputs, outputs(count, std::vector<float>(kFrames * 3));
    std::vector<float> applied(count, 1.0f);
    for (size_t l = 0; l < count; ++l) {
        records.push_back(std::make_unique<StripRecords>(setups[l]));
        inputs.push_back(loudNoise(setups[l].inputSeed));
    }
    for (uint32_t block = 0; block < 3; ++block) {
        TrackChain::Lanes lanes;
        for (size_t l = 0; l < count; ++l) {
            lanes.chains[l] = &chains[l];
            chains[l].refresh(records[l]->hpf, records[l]->eq, records[l]->limiter, lanes.parameters[l]);
            lanes.parameters[l].targetGainLinear = setups[l].gain;
            lanes.parameters[l].faderSmoothing = 0.001f;
            lanes.parameters[l].automixGain = 0.8f;
            lanes.appliedGainLinear[l] = applied[l];
            lanes.inputs[l] = inputs[l].data() + block * kFrames;
            lanes.outputs[l] = outputs[l].data() + block * kFrames;
        }
        TrackChain::processLanes(lanes, kFrames);
        for (size_t l = 0; l < count; ++l)
            applied[l] = lanes.appliedGainLinear[l];
    }
    return outputs;
}

TEST(TrackChainLanesTest, EachLaneMatchesTheSameTrackRunAlone)
{
    // Mixed switches, so stages run with pass-through coefficients in some
    // lanes and real ones in others; inputs are loud enough to limit.
    const std::vector<std::vector<StripSetup>> groups = {
        {{true, true, true, 2.0f, 1}},
        {{false, false, false, 1.0f, 2}, {true, true, true, 2.0f, 1}},
        {{true, false, false, 1.5f, 3}, {false, true, false, 0.5f, 4}, {false, false, true, 3.0f, 5}},
        {{true, true, true, 2.0f, 6}, {false, false, false, 1.0f, 7}, {true, false, true, 1.9f, 1}, {false, true, false, 0.7f, 4}},
    };
    for (const auto& group : groups) {
        const auto together = runTogether(group);
        for (size_t l = 0; l < group.size(); ++l) {
            SCOPED_TRACE("group of " + std::to_string(group.size()) + ", lane " + std::to_string(l));
            // The same track with the same input, alone in lane 0.
            const auto reference = runTogether({group[l]});
            ASSERT_EQ(together[l], reference[0]);
        }
    }
}

TEST(TrackChainLanesTest, SwitchedOffStagesPassTheSignalThroughUnchanged)
{
    const auto outputs = runTogether({{true, true, true, 2.0f, 1}, {false, false, false, 1.0f, 2}});
    const auto input = loudNoise(2);
    // Unity fader from the start and the 0.8 automix gain only.
    for (size_t i = 0; i < input.size(); ++i)
        ASSERT_FLOAT_EQ(outputs[1][i], input[i] * 0.8f) << i;
}

TEST(TrackChainLanesTest, LimitedLaneStaysAtItsThresholdWhileItsNeighbourDoesNot)
{
    const auto outputs = runTogether({{false, false, true, 4.0f, 1}, {false, false, false, 4.0f, 2}});
    float limitedPeak = 0.0f, freePeak = 0.0f;
    for (size_t i = kFrames; i < outputs[0].size(); ++i) {
        limitedPeak = std::max(limitedPeak, std::fabs(outputs[0][i]));
        freePeak = std::max(freePeak, std::fabs(outputs[1][i]));
    }
    EXPECT_LE(limitedPeak, 0.25f * 0.8f + 1e-6f);
    EXPECT_GT(freePeak, 1.0f);
}

} // namespace
