#pragma once

// One second-order section normalised to a0 = 1:
// y[n] = b0 x[n] + b1 x[n-1] + b2 x[n-2] - a1 y[n-1] - a2 y[n-2].
// The default is a pass-through. A plain value: computed on the GUI thread
// and handed to the audio thread whole, inside the strip's sequence-locked
// records.
struct BiquadCoefficients {
    float b0 = 1.0f;
    float b1 = 0.0f;
    float b2 = 0.0f;
    float a1 = 0.0f;
    float a2 = 0.0f;

    // High-pass with Q 0.7071 at `frequencyHz`; the frequency is limited to a
    // usable range first (see limitFilterFrequencyHz).
    static BiquadCoefficients highPass(int sampleRateHz, float frequencyHz);
    // Peaking EQ band; frequency and Q are limited first, a non-finite gain
    // counts as 0 dB.
    static BiquadCoefficients peakingEq(int sampleRateHz, float frequencyHz, float gainDb, float q);
};

// Filter parameters that still give stable, finite coefficients: a
// frequency between kMinFilterFrequencyHz and kMaxFilterFrequencyRatio of
// the sample rate (below Nyquist), a Q between kMinFilterQ and kMaxFilterQ,
// an EQ gain within +-kMaxEqGainDb. A NaN frequency or Q gives `fallback`.
constexpr float kMinFilterFrequencyHz = 10.0f;
constexpr float kMaxFilterFrequencyRatio = 0.45f;
constexpr float kMinFilterQ = 0.05f;
constexpr float kMaxFilterQ = 40.0f;
constexpr float kMaxEqGainDb = 40.0f;

float limitFilterFrequencyHz(float frequencyHz, int sampleRateHz, float fallbackHz);
float limitFilterQ(float q, float fallback);
float limitEqGainDb(float gainDb, float fallback);
