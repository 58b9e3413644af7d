#pragma once

#include <numbers>

// A sine oscillator for the audio thread: a double-precision phase and
// Bhaskara I's rational sine, so no library sine runs per sample.
//
// Audio thread only (the owner resets it from the audio thread as well).
class ToneOscillator {
public:
    static constexpr double kTwoPi = 2.0 * std::numbers::pi;

    // Bhaskara I's approximation, for any phase (brought into (-pi, pi]).
    static float rationalSine(double phase)
    {
        constexpr double pi = std::numbers::pi;
        while (phase < 0.0)
            phase += kTwoPi;
        while (phase >= kTwoPi)
            phase -= kTwoPi;
        const double x = phase > pi ? phase - kTwoPi : phase;
        const double ax = x < 0.0 ? -x : x;
        const double product = ax * (pi - ax);
        return static_cast<float>(16.0 * x * (pi - ax) / (5.0 * pi * pi - 4.0 * product));
    }

    void reset() { phase_ = 0.0; }
    void setFrequency(double frequencyHz, int sampleRate) { increment_ = kTwoPi * frequencyHz / sampleRate; }

    // The current sample, then one step on.
    float next()
    {
        const float value = rationalSine(phase_);
        phase_ += increment_;
        if (phase_ > kTwoPi)
            phase_ -= kTwoPi;
        return value;
    }

private:
    double phase_ = 0.0;
    double increment_ = 0.0;
};
