#include "RenderTestSupport.h"

#include "engine/render/AutomixEngine.h"

#include <gtest/gtest.h>

#include <complex>
#include <limits>
#include <numbers>

namespace {

using RenderPathTest = RenderTest;
constexpr uint32_t kBlock = 256;

// Outside oracle: the textbook (RBJ) biquads evaluated in double precision.
struct Biquad {
    double b0, b1, b2, a1, a2;
};

Biquad highPass(double hz)
{
    const double w0 = 2 * std::numbers::pi * hz / 48000.0;
    const double alpha = std::sin(w0) / (2 * 0.7071);
    const double n = 1 + alpha;
    return {(1 + std::cos(w0)) / 2 / n, -(1 + std::cos(w0)) / n, (1 + std::cos(w0)) / 2 / n, -2 * std::cos(w0) / n,
            (1 - alpha) / n};
}

Biquad peaking(double hz, double gainDb, double q)
{
    const double w0 = 2 * std::numbers::pi * hz / 48000.0;
    const double a = std::pow(10.0, gainDb / 40);
    const double alpha = std::sin(w0) / (2 * q);
    const double n = 1 + alpha / a;
    return {(1 + alpha * a) / n, -2 * std::cos(w0) / n, (1 - alpha * a) / n, -2 * std::cos(w0) / n,
            (1 - alpha / a) / n};
}

double magnitudeDb(const std::vector<Biquad>& sections, double hz)
{
    const std::complex<double> z = std::polar(1.0, -2 * std::numbers::pi * hz / 48000.0);
    std::complex<double> h = 1.0;
    for (const Biquad& s : sections)
        h *= (s.b0 + s.b1 * z + s.b2 * z * z) / (1.0 + s.a1 * z + s.a2 * z * z);
    return 20 * std::log10(std::abs(h));
}

class FilterResponseTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        routeInputs({inputNames_[0]});
        routeOutputs({{outputNames_[0]}}, {});
        engine_->armTrackForTest(0, true);
    }
    // A sine through track 0 to output 0; the gain in dB over whole periods
    // at the end, after the filters have settled.
    double gainDb(double hz)
    {
        constexpr size_t kFrames = 24576;
        const double amplitude = 0.25;
        feed(0, sine(hz, amplitude, kFrames));
        const auto out = render(static_cast<int>(kFrames / kBlock), kBlock);
        const size_t window = static_cast<size_t>(std::lround(std::floor(0.25 * hz) * 48000.0 / hz));
        return 20 * std::log10(rms(out[0], kFrames - window, kFrames) / (amplitude / std::sqrt(2.0)));
    }
};

TEST_F(FilterResponseTest, HighPassMatchesTheDoubleBiquadResponse)
{
    engine_->setTrackHPFFrequency(0, 120.0f);
    engine_->setTrackHPFEnabled(0, true);
    const Biquad hpf = highPass(120.0);
    for (const double hz : {40.0, 80.0, 120.0, 240.0, 1000.0, 8000.0})
        EXPECT_NEAR(gainDb(hz), magnitudeDb({hpf, hpf}, hz), 0.05) << hz << " Hz";
}

TEST_F(FilterResponseTest, EqMatchesTheThreeBandResponse)
{
    engine_->setTrackEQBand(0, 0, 100.0f, 6.0f, 1.0f);
    engine_->setTrackEQBand(0, 1, 1000.0f, -9.0f, 2.0f);
    engine_->setTrackEQBand(0, 2, 5000.0f, 3.0f, 0.7f);
    engine_->setTrackEQEnabled(0, true);
    const std::vector<Biquad> eq = {peaking(100, 6, 1), peaking(1000, -9, 2), peaking(5000, 3, 0.7)};
    for (const double hz : {50.0, 100.0, 300.0, 1000.0, 2500.0, 5000.0, 12000.0})
        EXPECT_NEAR(gainDb(hz), magnitudeDb(eq, hz), 0.05) << hz << " Hz";
}

TEST_F(FilterResponseTest, LimiterKeepsEverySampleAtOrBelowItsThresholdAndRecovers)
{
    engine_->setTrackLimiterThreshold(0, 20.0f * std::log10(0.5f));
    engine_->setTrackLimiterEnabled(0, true);
    feed(0, sine(997.0, 1.0, 48 * kBlock));
    auto out = render(48, kBlock);
    float peak = 0.0f;
    for (const float s : out[0])
        peak = std::max(peak, std::fabs(s));
    EXPECT_LE(peak, 0.5f + 1e-6f);
    EXPECT_GT(peak, 0.49f) << "limited, not muted";

    // Silence, then a quiet sine: the gain has recovered toward unity by
    // 0.1 % of the distance per sample.
    render(40, kBlock);
    feed(0, sine(997.0, 0.1, 8 * kBlock));
    out = render(8, kBlock);
    float quietPeak = 0.0f;
    for (size_t i = 4 * kBlock; i < out[0].size(); ++i)
        quietPeak = std::max(quietPeak, std::fabs(out[0][i]));
    EXPECT_NEAR(quietPeak, 0.1f, 0.002f);
}

TEST_F(RenderPathTest, MixIsTheSumOfTheArmedTracksChainOutputs)
{
    routeInputs({inputNames_[0], inputNames_[1], inputNames_[2], inputNames_[3]});
    routeOutputs({{outputNames_[0]}, {outputNames_[1]}, {outputNames_[2]}, {outputNames_[3]}}, {outputNames_[7]});
    engine_->setTrackHPFEnabled(0, true);
    engine_->setTrackDigitalGain(1, -6.0f);
    engine_->setTrackEQEnabled(1, true);
    engine_->setTrackEQBand(1, 1, 800.0f, 6.0f, 1.0f);
    engine_->setTrackLimiterEnabled(2, true);
    engine_->setTrackGain(2, 0.7f);
    for (int t = 0; t < 3; ++t)
        engine_->armTrackForTest(t, true);
    for (uint32_t c = 0; c < 4; ++c)
        feed(c, sine(150.0 * (c + 1), 0.6, 16 * kBlock));
    const auto out = render(16, kBlock);
    double energy = 0.0;
    for (size_t i = 0; i < out[7].size(); ++i) {
        ASSERT_NEAR(out[7][i], out[0][i] + out[1][i] + out[2][i], 1e-6f) << "frame " << i;
        EXPECT_EQ(out[3][i], 0.0f) << "an unarmed track reaches no output";
        energy += std::fabs(out[7][i]);
    }
    EXPECT_GT(energy, 100.0);
}

TEST_F(RenderPathTest, RingHoldsTheMixAndThePostTrimInputOfEveryInputFedTrack)
{
    routeInputs({inputNames_[0], inputNames_[1], inputNames_[2], "LTCGEN", "", inputNames_[5]});
    engine_->setTrackDigitalGain(1, 6.0f);
    engine_->setTrackHPFEnabled(1, true);
    engine_->setTrackDigitalGain(2, -12.0f);
    engine_->armTrackForTest(0, true);  // tracks 1, 2 and 5 are not armed: they record all the same
    const size_t frames = 6 * kBlock;
    std::vector<std::vector<float>> inputs(6);
    for (uint32_t c : {0u, 1u, 2u, 5u}) {
        inputs[c].resize(frames);
        for (size_t i = 0; i < frames; ++i)
            inputs[c][i] = static_cast<float>(((i * (c + 3)) % 97) / 97.0 - 0.5);
        feed(c, inputs[c]);
    }
    const int64_t start = engine_->getRecordingRingWritePosition();
    render(6, kBlock);
    ASSERT_EQ(engine_->getRecordingRingWritePosition(), start + static_cast<int64_t>(frames));

    const auto ring = engine_->getRecordingRing();
    const int64_t capacity = engine_->getRecordingRingCapacityFrames();
    const float trims[6] = {1.0f, std::pow(10.0f, 6.0f / 20), std::pow(10.0f, -12.0f / 20), 0, 0, 1.0f};
    for (size_t i = 0; i < frames; ++i) {
        const float* row = ring->frameAt(static_cast<uint64_t>((start + static_cast<int64_t>(i)) % capacity));
        ASSERT_FLOAT_EQ(row[0], inputs[0][i]) << "the mix: track 0 alone, flat strip, frame " << i;
        for (const size_t t : {0u, 1u, 2u, 5u})
            ASSERT_FLOAT_EQ(row[1 + t], inputs[t][i] * trims[t]) << "track " << t << " frame " << i;
        EXPECT_EQ(row[1 + 3], 0.0f) << "LTCGEN with the generator off";
        EXPECT_EQ(row[1 + 4], 0.0f) << "no input";
        EXPECT_EQ(row[1 + 6], 0.0f) << "beyond the routed tracks";
    }
}

// The checked block straddles the ring's end: its first half goes into the
// last rows, its second half into the first rows.
TEST_F(RenderPathTest, RingWrapsAroundItsCapacity)
{
    routeInputs({inputNames_[0]});
    const int64_t capacity = engine_->getRecordingRingCapacityFrames();
    const int64_t straddle = capacity - kBlock / 2;
    ASSERT_EQ(straddle % kBlock, 0) << "whole blocks lead up to the straddling block";
    render(static_cast<int>(straddle / kBlock), kBlock);
    const int64_t start = engine_->getRecordingRingWritePosition();
    ASSERT_EQ(start, straddle);
    std::vector<float> last(kBlock);
    for (size_t i = 0; i < kBlock; ++i)
        last[i] = 0.001f * static_cast<float>(i + 1);
    feed(0, last);
    render(1, kBlock);
    ASSERT_EQ(engine_->getRecordingRingWritePosition(), start + static_cast<int64_t>(kBlock));
    const auto ring = engine_->getRecordingRing();
    for (size_t i = 0; i < kBlock; ++i) {
        const int64_t row = (start + static_cast<int64_t>(i)) % capacity;
        ASSERT_EQ(ring->frameAt(static_cast<uint64_t>(row))[1], last[i]) << "frame " << i << " in row " << row;
    }
}

TEST_F(RenderPathTest, AutomixConvergesInTheRealChain)
{
    routeInputs({inputNames_[0], inputNames_[1], inputNames_[2]});
    routeOutputs({{outputNames_[0]}, {outputNames_[1]}, {outputNames_[2]}}, {});
    AutomixEngine* automix = engine_->getAutomixEngine();
    ASSERT_NE(automix, nullptr);
    automix->setGlobalEnabled(true);
    for (int t = 0; t < 3; ++t) {
        automix->setTrackGroup(t, 1);
        engine_->armTrackForTest(t, true);
    }
    constexpr int kBlocks = 80;
    feed(0, sine(1000.0, 0.5, kBlocks * kBlock));
    feed(1, sine(700.0, 0.002, kBlocks * kBlock));  // below the activity gate
    feed(2, std::vector<float>(kBlocks * kBlock, 0.0f));
    const auto out = render(kBlocks, kBlock);
    EXPECT_NEAR(automix->getTrackNOMContribution(0), 1.0f, 1e-3f);
    EXPECT_NEAR(automix->getNOM(), 1.0f, 1e-3f);
    const size_t from = (kBlocks - 8) * kBlock, to = kBlocks * kBlock;
    EXPECT_NEAR(rms(out[0], from, to), 0.5 / std::sqrt(2.0), 0.005) << "the speaker passes at unity";
    EXPECT_NEAR(rms(out[1], from, to), 0.06 * 0.002 / std::sqrt(2.0), 2e-5) << "the quiet member at 0.06";
}

// A NaN or infinity that reaches a filter resets it; the track, the mix and
// the ring carry on with finite audio.
TEST_F(RenderPathTest, NonFiniteInputResetsTheFilterAndTheTrackRecovers)
{
    routeInputs({inputNames_[0]});
    routeOutputs({{outputNames_[0]}}, {outputNames_[7]});
    engine_->setTrackHPFEnabled(0, true);
    engine_->setTrackEQEnabled(0, true);
    engine_->setTrackEQBand(0, 0, 30000.0f, 6.0f, 0.0f);
    engine_->armTrackForTest(0, true);
    std::vector<float> input = sine(1000.0, 0.5, 8 * kBlock);
    input[kBlock + 10] = std::numeric_limits<float>::infinity();
    input[2 * kBlock + 3] = std::numeric_limits<float>::quiet_NaN();
    feed(0, input);
    const auto out = render(8, kBlock);
    for (size_t i = 0; i < out[0].size(); ++i) {
        ASSERT_TRUE(std::isfinite(out[0][i])) << "frame " << i;
        ASSERT_TRUE(std::isfinite(out[7][i])) << "mix frame " << i;
    }
    EXPECT_GT(rms(out[0], 6 * kBlock, 8 * kBlock), 0.2) << "the track plays again";
}

}  // namespace
