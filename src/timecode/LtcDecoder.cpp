#include "timecode/LtcDecoder.h"

#include "core/DebugLog.h"

#include <ltc.h>

#include <cmath>
#include <string>

namespace {

// libltc only needs a first guess of the frame length; it tracks the real one.
constexpr int kSlowestNominalFps = 24;
constexpr int kFrameQueueLength = 32;

constexpr int kInitialMeanFrames = 30;
constexpr double kSmoothingOld = 0.98;
constexpr double kSmoothingNew = 0.02;

// Nominal-rate bands, open at both ends; everything else counts as 30.
constexpr double kBand24Low = 23.5;
constexpr double kBand24High = 24.5;
constexpr double kBand25Low = 24.5;
constexpr double kBand25High = 25.5;

} // namespace

LtcDecoder::LtcDecoder()
{
    resetStatistics();
}

LtcDecoder::~LtcDecoder()
{
    if (decoder_)
        ltc_decoder_free(decoder_);
    decoder_ = nullptr;
}

bool LtcDecoder::initialize(int rate)
{
    sampleRate_ = rate;
    const int framesPerVideoFrame = rate / kSlowestNominalFps;
    debugLog("LtcDecoder::initialize - sampleRate=" + std::to_string(rate)
             + " apv=" + std::to_string(framesPerVideoFrame));
    if (decoder_)
        ltc_decoder_free(decoder_);
    decoder_ = framesPerVideoFrame > 0 ? ltc_decoder_create(framesPerVideoFrame, kFrameQueueLength)
                                      : nullptr;
    if (decoder_)
        debugLog("LtcDecoder: libltc decoder created successfully");
    else
        debugLog("LtcDecoder: ERROR - failed to create libltc decoder!");
    resetStatistics();
    if (decoder_)
        ltc_decoder_queue_flush(decoder_);
    return decoder_ != nullptr;
}

void LtcDecoder::shutdown()
{
    if (decoder_)
        ltc_decoder_free(decoder_);
    decoder_ = nullptr;
    resetStatistics();
}

void LtcDecoder::reset()
{
    resetStatistics();
    if (decoder_)
        ltc_decoder_queue_flush(decoder_);
}

void LtcDecoder::resetStatistics()
{
    restartMeasurement();
    nextPosition_ = 0;
    publish(TcSnapshot{});
}

void LtcDecoder::restartMeasurement()
{
    measuredFps_ = kNotMeasured;
    initialCount_ = 0;
    totalFrameSamples_ = 0;
    decodedFrames_ = 0;
    firstFrameOnly_ = false;
}

void LtcDecoder::processAudio(const float* samples, int count)
{
    processAudio(samples, count, nextPosition_);
}

void LtcDecoder::processAudio(const float* samples, int count, int64_t position)
{
    if (!decoder_)
        return;
    if (count <= 0) {
        nextPosition_ = position;
        return;
    }
    nextPosition_ = position + count;
    if (isBelowGate(samples, count))
        return;

    // libltc reads the buffer without writing it; its signature predates const.
    ltc_decoder_write_float(decoder_, const_cast<float*>(samples), static_cast<size_t>(count),
                            static_cast<ltc_off_t>(position));

    LTCFrameExt frame;
    LTCFrameExt last;
    bool decodedAny = false;
    while (ltc_decoder_read(decoder_, &frame)) {
        if (frame.off_end > frame.off_start)
            measureFrameLength(frame.off_end - frame.off_start + 1);
        last = frame;
        decodedAny = true;
    }
    if (!decodedAny)
        return;

    SMPTETimecode time;
    ltc_frame_to_time(&time, &last.ltc, 0);
    const double forced = forcedFps_.load(std::memory_order_relaxed);
    const double workingFps = forced > 0.0 ? forced : measuredFps_;

    TcSnapshot snapshot;
    snapshot.hours = time.hours;
    snapshot.minutes = time.mins;
    snapshot.seconds = time.secs;
    snapshot.frames = time.frame;
    snapshot.fps = nominalFps(workingFps);
    snapshot.dropFrame = last.ltc.dfbit != 0;
    snapshot.fpsEstimate = workingFps;
    snapshot.valid = true;
    snapshot.samplePosition = last.off_start;
    publish(snapshot);
}

bool LtcDecoder::isBelowGate(const float* samples, int count) const
{
    float peak = 0.0f;
    for (int i = 0; i < count; ++i)
        peak = std::fmax(peak, std::fabs(samples[i]));
    return peak < kGateLevel;
}

void LtcDecoder::measureFrameLength(int64_t frameSamples)
{
    // The first frame after a reset starts where libltc locked on, not on a
    // true frame edge (it comes out a sample or so long). It gives the first
    // estimate, and the measurement starts over from the second frame, so it
    // does not bias the rate for minutes through the smoothing.
    if (firstFrameOnly_)
        restartMeasurement();
    else if (decodedFrames_ == 0)
        firstFrameOnly_ = true;
    totalFrameSamples_ += frameSamples;
    decodedFrames_ += 1;
    const double rate = static_cast<double>(sampleRate_);
    if (initialCount_ >= kInitialMeanFrames) {
        // The new term is the mean over every frame since the reset, so a
        // single jittery frame barely moves the estimate.
        const double meanFrameSamples = static_cast<double>(totalFrameSamples_) / static_cast<double>(decodedFrames_);
        measuredFps_ = kSmoothingOld * measuredFps_ + kSmoothingNew * (rate / meanFrameSamples);
    } else if (measuredFps_ < 0.0) {
        measuredFps_ = rate / static_cast<double>(frameSamples);
        initialCount_ = 1;
    } else {
        measuredFps_ = (measuredFps_ * initialCount_ + rate / static_cast<double>(frameSamples)) / (initialCount_ + 1);
        initialCount_ += 1;
    }
}

int LtcDecoder::nominalFps(double workingFps)
{
    if (workingFps > kBand24Low && workingFps < kBand24High)
        return 24;
    if (workingFps > kBand25Low && workingFps < kBand25High)
        return 25;
    return 30;
}

void LtcDecoder::publish(const TcSnapshot& snapshot)
{
    // Single writer. An odd count tells readers a rewrite is under way; each
    // field store is a release so a reader that sees any new field also sees
    // the odd count when it checks again, and the final even count releases
    // the whole set.
    const uint32_t start = sequence_.load(std::memory_order_relaxed);
    sequence_.store(start + 1, std::memory_order_seq_cst);
    published_.hours.store(snapshot.hours, std::memory_order_release);
    published_.minutes.store(snapshot.minutes, std::memory_order_release);
    published_.seconds.store(snapshot.seconds, std::memory_order_release);
    published_.frames.store(snapshot.frames, std::memory_order_release);
    published_.fps.store(snapshot.fps, std::memory_order_release);
    published_.dropFrame.store(snapshot.dropFrame, std::memory_order_release);
    published_.fpsEstimate.store(snapshot.fpsEstimate, std::memory_order_release);
    published_.valid.store(snapshot.valid, std::memory_order_release);
    published_.samplePosition.store(snapshot.samplePosition, std::memory_order_release);
    sequence_.store(start + 2, std::memory_order_seq_cst);
}

LtcDecoder::TcSnapshot LtcDecoder::getSnapshot() const
{
    TcSnapshot copy;
    uint32_t before = 0;
    uint32_t after = 0;
    do {
        // Acquire on every load keeps the copy between the two counter reads.
        before = sequence_.load(std::memory_order_acquire);
        if (before & 1u)
            continue;
        copy.hours = published_.hours.load(std::memory_order_acquire);
        copy.minutes = published_.minutes.load(std::memory_order_acquire);
        copy.seconds = published_.seconds.load(std::memory_order_acquire);
        copy.frames = published_.frames.load(std::memory_order_acquire);
        copy.fps = published_.fps.load(std::memory_order_acquire);
        copy.dropFrame = published_.dropFrame.load(std::memory_order_acquire);
        copy.fpsEstimate = published_.fpsEstimate.load(std::memory_order_acquire);
        copy.valid = published_.valid.load(std::memory_order_acquire);
        copy.samplePosition = published_.samplePosition.load(std::memory_order_acquire);
        after = sequence_.load(std::memory_order_acquire);
    } while ((before & 1u) || before != after);
    return copy;
}
