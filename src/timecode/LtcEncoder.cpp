#include "timecode/LtcEncoder.h"

#include <ltc.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

struct RateInfo {
    double fps;
    LTC_TV_STANDARD standard;
    int framesPerSecond;
    bool carriesDropFrame;
};

RateInfo rateInfo(LtcEncoder::FrameRate rate)
{
    switch (rate) {
    case LtcEncoder::Fps24: return {24.0, LTC_TV_FILM_24, 24, false};
    case LtcEncoder::Fps25: return {25.0, LTC_TV_625_50, 25, false};
    case LtcEncoder::Fps23976: return {24000.0 / 1001.0, LTC_TV_FILM_24, 24, false};
    case LtcEncoder::Fps2997: return {30000.0 / 1001.0, LTC_TV_525_60, 30, true};
    case LtcEncoder::Fps30: break;
    }
    return {30.0, LTC_TV_525_60, 30, true};
}

constexpr double kPpm = 1e6;
constexpr int64_t kUnstamped = -1;
constexpr int kMinFrameBufferBytes = 4096;
constexpr double kSlowestFps = 24000.0 / 1001.0;
constexpr int kMaxHours = 23;
constexpr int kMaxMinutes = 59;
constexpr int kMaxSeconds = 59;
// Drop-frame counting leaves labels 0 and 1 out at every minute but the tenth.
constexpr int kFirstDropFrameLabel = 2;

constexpr float sampleFromByte(uint8_t byte)
{
    return (static_cast<float>(byte) - 128.0f) / 128.0f;
}

// Clamps a time to a day and to the rate's frame labels; a drop-frame label
// that does not exist moves to the first one that does.
void clampToRate(SMPTETimecode& time, const RateInfo& info, bool dropFrame)
{
    time.hours = std::min<int>(time.hours, kMaxHours);
    time.mins = std::min<int>(time.mins, kMaxMinutes);
    time.secs = std::min<int>(time.secs, kMaxSeconds);
    time.frame = std::min<int>(time.frame, info.framesPerSecond - 1);
    const bool dropFrameCounting = dropFrame && info.carriesDropFrame;
    if (dropFrameCounting && time.secs == 0 && time.mins % 10 != 0 && time.frame < kFirstDropFrameLabel)
        time.frame = kFirstDropFrameLabel;
}

} // namespace

LtcEncoder::LtcEncoder(int rate, FrameRate initialRate)
    : sampleRate(rate), frameRate(initialRate)
{
    const RateInfo info = rateInfo(initialRate);
    // The buffer holds one frame at the slowest rate, so playing out never
    // allocates on the audio thread whatever rate is chosen later.
    const int slowestFrameBytes = sampleRate > 0 ? static_cast<int>(std::ceil(sampleRate / kSlowestFps)) + 2 : 0;
    frameBuffer.resize(static_cast<size_t>(std::max(kMinFrameBufferBytes, slowestFrameBytes)));
    if (sampleRate > 0)
        encoder = ltc_encoder_create(sampleRate, info.fps, info.standard, 0);
    if (encoder) {
        ltc_encoder_set_filter(encoder, 0.0);
        ltc_encoder_set_volume(encoder, kDefaultLevelDb);
        LTCFrame fresh;
        ltc_encoder_get_frame(encoder, &fresh);
        prepareFrameFlags(fresh.dfbit != 0);
    }
    setTimecode(Timecode{});
}

LtcEncoder::~LtcEncoder()
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    if (encoder)
        ltc_encoder_free(encoder);
    encoder = nullptr;
}

void LtcEncoder::setTimecode(const Timecode& timecode)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    if (!encoder)
        return;
    const RateInfo info = rateInfo(getFrameRate());
    SMPTETimecode time;
    std::memset(&time, 0, sizeof time);
    time.hours = timecode.hours;
    time.mins = timecode.minutes;
    time.secs = timecode.seconds;
    time.frame = timecode.frames;
    clampToRate(time, info, timecode.dropFrame);
    ltc_encoder_set_timecode(encoder, &time);
    prepareFrameFlags(timecode.dropFrame);
    publishDisplayedTime();
}

void LtcEncoder::setFrameRate(FrameRate rate)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    frameRate.store(rate, std::memory_order_relaxed);
    if (!encoder)
        return;
    const RateInfo info = rateInfo(rate);
    SMPTETimecode time;
    ltc_encoder_get_timecode(encoder, &time);
    LTCFrame current;
    ltc_encoder_get_frame(encoder, &current);
    const bool dropFrame = current.dfbit != 0;

    const size_t neededBytes = static_cast<size_t>(std::ceil(sampleRate / info.fps)) + 1;
    if (ltc_encoder_get_buffersize(encoder) < neededBytes)
        ltc_encoder_set_buffersize(encoder, sampleRate, info.fps);
    ltc_encoder_reinit(encoder, sampleRate, info.fps, info.standard, 0);
    ltc_encoder_set_filter(encoder, 0.0);
    ltc_encoder_set_volume(encoder, kDefaultLevelDb);
    prepareFrameFlags(dropFrame);
    // A frame label of the old rate may not exist at the new one (29 at 25).
    clampToRate(time, info, dropFrame);
    ltc_encoder_set_timecode(encoder, &time);
    publishDisplayedTime();
}

void LtcEncoder::setOutputLevel(double levelDb)
{
    std::lock_guard<std::mutex> lock(settingsMutex);
    if (encoder)
        ltc_encoder_set_volume(encoder, levelDb);
}

LtcEncoder::Timecode LtcEncoder::getTimecode() const
{
    // Acquire pairs with the release in publishDisplayedTime.
    return unpackTimecode(displayedTime.load(std::memory_order_acquire));
}

bool LtcEncoder::tryGetPlacement(Placement& where) const
{
    return placement.tryRead(where);
}

LtcEncoder::FrameRate LtcEncoder::getFrameRate() const
{
    return static_cast<FrameRate>(frameRate.load(std::memory_order_relaxed));
}

double LtcEncoder::getFpsDouble() const
{
    return rateInfo(getFrameRate()).fps;
}

int LtcEncoder::getLtcTVStandard() const
{
    return rateInfo(getFrameRate()).standard;
}

int LtcEncoder::getMaxFrames() const
{
    return rateInfo(getFrameRate()).framesPerSecond;
}

void LtcEncoder::prepareFrameFlags(bool dropFrameRequested)
{
    const RateInfo info = rateInfo(getFrameRate());
    LTCFrame frame;
    ltc_encoder_get_frame(encoder, &frame);
    frame.dfbit = (info.carriesDropFrame && dropFrameRequested) ? 1 : 0;
    frame.col_frame = 0;
    ltc_frame_set_parity(&frame, info.standard);
    ltc_encoder_set_frame(encoder, &frame);
}

void LtcEncoder::publishDisplayedTime()
{
    SMPTETimecode time;
    ltc_encoder_get_timecode(encoder, &time);
    LTCFrame frame;
    ltc_encoder_get_frame(encoder, &frame);
    const Timecode shown{time.hours, time.mins, time.secs, time.frame, frame.dfbit != 0};
    const uint64_t packed = packTimecode(shown);
    // Release: a reader sees a whole time, published after the frame moved on.
    displayedTime.store(packed, std::memory_order_release);
    // Every caller holds settingsMutex, so the placement has one writer at a time.
    placement.publish(Placement{packed, frameStartPosition});
}

int LtcEncoder::generateSamples(float* out, int count)
{
    return generate(out, count, kUnstamped);
}

int LtcEncoder::generateSamples(float* out, int count, int64_t position)
{
    return generate(out, count, position);
}

int LtcEncoder::generate(float* out, int count, int64_t position)
{
    if (count <= 0)
        return 0;
    std::unique_lock<std::mutex> lock(settingsMutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        // A setter is busy: this block stays silent, but the stream is owed
        // its length so the time on the wire stays tied to the sample clock.
        std::fill(out, out + count, 0.0f);
        owedSamples += count;
        return 0;
    }
    if (!encoder)
        return 0;
    // Samples owed by silent blocks were due before this block began.
    if (position != kUnstamped)
        streamPosition = position - owedSamples;
    while (owedSamples > 0) {
        const int chunk = static_cast<int>(std::min<int64_t>(owedSamples, count));
        const int skipped = render(nullptr, chunk);
        owedSamples -= chunk;
        if (skipped < chunk) {
            owedSamples = 0;
            break;
        }
    }
    if (position != kUnstamped)
        streamPosition = position;
    const int written = render(out, count);
    publishDisplayedTime();
    return written;
}

int LtcEncoder::render(float* out, int count)
{
    takeDriftCorrection(count);
    int written = 0;
    while (written < count) {
        float* destination = out ? out + written : nullptr;
        if (readPos < frameLength) {
            applyPendingSkip();
            written += copyFromFrame(destination, count - written);
            finishFrameIfPlayed();
            // The time now names the next frame, which begins right here
            // unless repeated samples come first (then its encoding moves it).
            if (frameLength == 0 && streamPosition >= 0)
                frameStartPosition = streamPosition + written;
        } else if (pendingRepeatSamples > 0 && hasLastSample) {
            const int repeats = static_cast<int>(std::min<int64_t>(pendingRepeatSamples, count - written));
            if (destination)
                std::fill(destination, destination + repeats, lastSample);
            pendingRepeatSamples -= repeats;
            written += repeats;
        } else {
            encodeNextFrame();
            if (frameLength == 0)
                break;
            frameStartPosition = streamPosition >= 0 ? streamPosition + written : -1;
        }
    }
    if (streamPosition >= 0)
        streamPosition += written;
    return written;
}

void LtcEncoder::takeDriftCorrection(int count)
{
    driftAccumulator += driftPpm.load(std::memory_order_relaxed) * count / kPpm;
    if (driftAccumulator >= 1.0) {
        const double whole = std::floor(driftAccumulator);
        pendingSkipSamples += static_cast<int64_t>(whole);
        driftAccumulator -= whole;
    } else if (driftAccumulator <= -1.0) {
        const double whole = std::floor(-driftAccumulator);
        pendingRepeatSamples += static_cast<int64_t>(whole);
        driftAccumulator += whole;
    }
    // A trim that changed sign cancels what the old one had not placed yet.
    const int64_t cancelled = std::min(pendingSkipSamples, pendingRepeatSamples);
    pendingSkipSamples -= cancelled;
    pendingRepeatSamples -= cancelled;
    // Corrections that cannot find a place are carried, but never beyond one
    // frame's worth, so an absurd trim cannot build an endless backlog.
    const int64_t limit = static_cast<int64_t>(frameBuffer.size());
    pendingSkipSamples = std::min(pendingSkipSamples, limit);
    pendingRepeatSamples = std::min(pendingRepeatSamples, limit);
}

void LtcEncoder::applyPendingSkip()
{
    // Skips stay inside the frame: its last sample always plays, so the time
    // still advances on a frame's last sample.
    const int unplayed = frameLength - readPos;
    if (pendingSkipSamples <= 0 || unplayed <= 1)
        return;
    const int skipped = static_cast<int>(std::min<int64_t>(pendingSkipSamples, unplayed - 1));
    readPos += skipped;
    pendingSkipSamples -= skipped;
}

int LtcEncoder::copyFromFrame(float* out, int count)
{
    const int n = std::min(frameLength - readPos, count);
    if (out) {
        for (int i = 0; i < n; ++i)
            out[i] = sampleFromByte(frameBuffer[static_cast<size_t>(readPos + i)]);
    }
    readPos += n;
    lastSample = sampleFromByte(frameBuffer[static_cast<size_t>(readPos - 1)]);
    hasLastSample = true;
    return n;
}

void LtcEncoder::encodeNextFrame()
{
    ltc_encoder_encode_frame(encoder);
    ltcsnd_sample_t* samples = nullptr;
    const int produced = ltc_encoder_get_bufferptr(encoder, &samples, 1);
    frameLength = std::clamp(produced, 0, static_cast<int>(frameBuffer.size()));
    if (frameLength > 0)
        std::memcpy(frameBuffer.data(), samples, static_cast<size_t>(frameLength));
    readPos = 0;
}

void LtcEncoder::finishFrameIfPlayed()
{
    if (readPos < frameLength)
        return;
    frameLength = 0;
    readPos = 0;
    ltc_encoder_inc_timecode(encoder);
}

uint64_t LtcEncoder::packTimecode(const Timecode& timecode)
{
    return static_cast<uint64_t>(timecode.hours) | static_cast<uint64_t>(timecode.minutes) << 8
           | static_cast<uint64_t>(timecode.seconds) << 16 | static_cast<uint64_t>(timecode.frames) << 24
           | static_cast<uint64_t>(timecode.dropFrame ? 1 : 0) << 32;
}

LtcEncoder::Timecode LtcEncoder::unpackTimecode(uint64_t packed)
{
    Timecode timecode;
    timecode.hours = static_cast<uint8_t>(packed & 0xff);
    timecode.minutes = static_cast<uint8_t>((packed >> 8) & 0xff);
    timecode.seconds = static_cast<uint8_t>((packed >> 16) & 0xff);
    timecode.frames = static_cast<uint8_t>((packed >> 24) & 0xff);
    timecode.dropFrame = ((packed >> 32) & 1u) != 0;
    return timecode;
}
