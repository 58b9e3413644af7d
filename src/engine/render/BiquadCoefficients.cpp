#include "engine/render/BiquadCoefficients.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr double kTwoPi = 6.283185307179586;
constexpr float kHighPassAlphaDivisor = 1.4142f;  // 2 Q with Q = 0.7071
constexpr int kFallbackSampleRateHz = 48000;

int usableSampleRate(int sampleRateHz)
{
    return sampleRateHz > 0 ? sampleRateHz : kFallbackSampleRateHz;
}

// w0 in double precision, then rounded: the coefficients match the values
// the strip dialog's curve is drawn from.
float angularFrequency(float frequencyHz, int sampleRateHz)
{
    return static_cast<float>(kTwoPi * frequencyHz / static_cast<double>(sampleRateHz));
}

}  // namespace

float limitFilterFrequencyHz(float frequencyHz, int sampleRateHz, float fallbackHz)
{
    if (std::isnan(frequencyHz))
        frequencyHz = fallbackHz;
    const float highest = kMaxFilterFrequencyRatio * static_cast<float>(usableSampleRate(sampleRateHz));
    return std::clamp(frequencyHz, kMinFilterFrequencyHz, highest);
}

float limitFilterQ(float q, float fallback)
{
    if (std::isnan(q))
        q = fallback;
    return std::clamp(q, kMinFilterQ, kMaxFilterQ);
}

float limitEqGainDb(float gainDb, float fallback)
{
    if (std::isnan(gainDb))
        gainDb = fallback;
    return std::clamp(gainDb, -kMaxEqGainDb, kMaxEqGainDb);
}

BiquadCoefficients BiquadCoefficients::highPass(int sampleRateHz, float frequencyHz)
{
    const int rate = usableSampleRate(sampleRateHz);
    const float w0 = angularFrequency(limitFilterFrequencyHz(frequencyHz, rate, 80.0f), rate);
    const float cosW0 = std::cos(w0);
    const float alpha = std::sin(w0) / kHighPassAlphaDivisor;
    const float norm = 1.0f + alpha;
    BiquadCoefficients c;
    c.b0 = 0.5f * (1.0f + cosW0) / norm;
    c.b1 = -(1.0f + cosW0) / norm;
    c.b2 = c.b0;
    c.a1 = -2.0f * cosW0 / norm;
    c.a2 = (1.0f - alpha) / norm;
    return c;
}

BiquadCoefficients BiquadCoefficients::peakingEq(int sampleRateHz, float frequencyHz, float gainDb, float q)
{
    const int rate = usableSampleRate(sampleRateHz);
    const float w0 = angularFrequency(limitFilterFrequencyHz(frequencyHz, rate, 1000.0f), rate);
    const float amplitude = std::pow(10.0f, limitEqGainDb(gainDb, 0.0f) / 40.0f);
    const float alpha = std::sin(w0) / (2.0f * limitFilterQ(q, 1.0f));
    const float norm = 1.0f + alpha / amplitude;
    BiquadCoefficients c;
    c.b0 = (1.0f + alpha * amplitude) / norm;
    c.b1 = -2.0f * std::cos(w0) / norm;
    c.b2 = (1.0f - alpha * amplitude) / norm;
    c.a1 = c.b1;
    c.a2 = (1.0f - alpha / amplitude) / norm;
    return c;
}
