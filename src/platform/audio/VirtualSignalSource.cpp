#include "platform/audio/VirtualSignalSource.h"

#include <ltc.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <numbers>

namespace {

constexpr double kLtcSampleCenter = 128.0;
constexpr double kLtcSampleHalfRange = 127.0;

double dbToLinear(double levelDb)
{
    return std::pow(10.0, levelDb / 20.0);
}

// The local time of day as timecode at `framesPerSecond`.
SMPTETimecode timeOfDayTimecode(double framesPerSecond)
{
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    SMPTETimecode timecode{};
    timecode.years = static_cast<unsigned char>(local.tm_year % 100);
    timecode.months = static_cast<unsigned char>(local.tm_mon + 1);
    timecode.days = static_cast<unsigned char>(local.tm_mday);
    timecode.hours = static_cast<unsigned char>(local.tm_hour);
    timecode.mins = static_cast<unsigned char>(local.tm_min);
    timecode.secs = static_cast<unsigned char>(local.tm_sec);
    timecode.frame = static_cast<unsigned char>(static_cast<double>(millis) * framesPerSecond / 1000.0);
    return timecode;
}

}  // namespace

VirtualSignalSource::VirtualSignalSource(const VirtualSignal& signal, double sampleRate)
    : signal_(signal), sampleRate_(sampleRate), amplitudeLinear_(dbToLinear(signal.levelDb))
{
    if (signal_.kind != VirtualSignal::Kind::Ltc)
        return;
    const LTC_TV_STANDARD standard =
        std::lround(signal_.framesPerSecond) == 25 ? LTC_TV_625_50 : LTC_TV_525_60;
    ltcEncoder_ = ltc_encoder_create(sampleRate_, signal_.framesPerSecond, standard, LTC_USE_DATE);
    if (ltcEncoder_ == nullptr)
        return;
    ltc_encoder_set_volume(ltcEncoder_, signal_.levelDb);
    SMPTETimecode start = timeOfDayTimecode(signal_.framesPerSecond);
    ltc_encoder_set_timecode(ltcEncoder_, &start);
}

VirtualSignalSource::~VirtualSignalSource()
{
    if (ltcEncoder_ != nullptr)
        ltc_encoder_free(ltcEncoder_);
}

void VirtualSignalSource::feed(std::vector<float> samples)
{
    fed_ = true;
    fedSamples_ = std::move(samples);
    fedIndex_ = 0;
}

void VirtualSignalSource::render(float* destination, uint32_t frames, uint32_t strideSamples)
{
    for (uint32_t i = 0; i < frames; ++i) {
        float sample = 0.0f;
        if (fed_)
            sample = fedIndex_ < fedSamples_.size() ? fedSamples_[fedIndex_++] : 0.0f;
        else
            sample = nextGeneratedSample();
        destination[static_cast<size_t>(i) * strideSamples] = sample;
    }
}

float VirtualSignalSource::nextGeneratedSample()
{
    switch (signal_.kind) {
    case VirtualSignal::Kind::Silence:
        return 0.0f;
    case VirtualSignal::Kind::Tone: {
        const double sample = amplitudeLinear_ * std::sin(phase_);
        phase_ += 2.0 * std::numbers::pi * signal_.frequencyHz / sampleRate_;
        if (phase_ >= 2.0 * std::numbers::pi)
            phase_ -= 2.0 * std::numbers::pi;
        return static_cast<float>(sample);
    }
    case VirtualSignal::Kind::Noise: {
        // xorshift64*: deterministic, cheap, uniform in [-1, 1).
        noiseState_ ^= noiseState_ >> 12;
        noiseState_ ^= noiseState_ << 25;
        noiseState_ ^= noiseState_ >> 27;
        const uint64_t bits = noiseState_ * 0x2545F4914F6CDD1Dull;
        const double uniform = static_cast<double>(bits >> 11) / static_cast<double>(1ull << 52) - 1.0;
        return static_cast<float>(amplitudeLinear_ * uniform);
    }
    case VirtualSignal::Kind::Ltc:
        return nextLtcSample();
    }
    return 0.0f;
}

float VirtualSignalSource::nextLtcSample()
{
    if (ltcEncoder_ == nullptr)
        return 0.0f;
    if (ltcPendingIndex_ >= ltcPending_.size())
        encodeNextLtcFrame();
    if (ltcPendingIndex_ >= ltcPending_.size())
        return 0.0f;
    return ltcPending_[ltcPendingIndex_++];
}

void VirtualSignalSource::encodeNextLtcFrame()
{
    ltc_encoder_encode_frame(ltcEncoder_);
    ltcsnd_sample_t* buffer = nullptr;
    const int byteCount = ltc_encoder_get_bufferptr(ltcEncoder_, &buffer, 1);
    ltcPending_.resize(byteCount > 0 ? static_cast<size_t>(byteCount) : 0);
    for (size_t i = 0; i < ltcPending_.size(); ++i)
        ltcPending_[i] = static_cast<float>((buffer[i] - kLtcSampleCenter) / kLtcSampleHalfRange);
    ltcPendingIndex_ = 0;
    ltc_encoder_inc_timecode(ltcEncoder_);
}
