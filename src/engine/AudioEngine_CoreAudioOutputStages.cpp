// The render callback's output stages: what the recordist and the crew hear
// besides the mix. In block order: monitor bus (PFL or the mix), coms bus
// (COM inputs and slate), record beep, aux buses, LTC generator output, LTC
// reader feed, file playback; the test tone replaces every output at the
// very end of the block.
//
// Audio thread: no locks, no allocation, no logging (the generator's own
// try-lock never waits). Set-up: GUI thread.
#include "engine/AudioEngine_CoreAudio.h"

#include "engine/render/RenderBlockBuffers.h"
#include "timecode/LtcEncoder.h"

#include <algorithm>

using namespace RenderBlockBuffers;

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

constexpr float kPflLevelFactor = 1.4125f;  // +3 dB
constexpr double kTestToneHz = 1000.0;
constexpr float kTestToneAmplitude = 0.5f;
constexpr double kBeepHz = 500.0;
constexpr float kBeepAmplitude = 0.35f;
constexpr int kBeepToneMilliseconds = 150;
constexpr int kBeepGapDivisor = 20;  // 50 ms

void addToOutputs(AudioBlockBufferList& outputs, const std::vector<int>& indices, const float* source,
                  uint32_t frames)
{
    for (const int index : indices) {
        if (float* destination = outputChannel(outputs, index, frames))
            addInto(destination, source, frames);
    }
}

// Adds one interleaved channel of the playback buffer, scaled by gain.
void addInterleavedToOutputs(AudioBlockBufferList& outputs, const std::vector<int>& indices, const float* interleaved,
                             int stride, uint32_t frames, float gain = 1.0f)
{
    for (const int index : indices) {
        float* destination = outputChannel(outputs, index, frames);
        if (destination == nullptr)
            continue;
        for (uint32_t i = 0; i < frames; ++i)
            destination[i] += gain * interleaved[static_cast<size_t>(i) * static_cast<size_t>(stride)];
    }
}

}  // namespace

// --- Set-up (GUI thread) ------------------------------------------------------------

void AudioEngine_CoreAudio::initializeOutputStages()
{
    for (std::atomic<float>& level : auxLevels_)
        level.store(1.0f, kRelaxed);
    for (std::atomic<int>& index : playbackOutputIndices_)
        index.store(RoutingSnapshot::kNoChannel, kRelaxed);
    testTone_.setFrequency(kTestToneHz, sampleRate_);
    beepTone_.setFrequency(kBeepHz, sampleRate_);
}

int AudioEngine_CoreAudio::recordBeepTotalSamples(bool doubleBeep) const
{
    const int toneSamples = sampleRate_ * kBeepToneMilliseconds / 1000;
    const int gapSamples = sampleRate_ / kBeepGapDivisor;
    return 2 * toneSamples + (doubleBeep ? gapSamples : 0);
}

// --- Hooks of the block ---------------------------------------------------------------

bool AudioEngine_CoreAudio::renderTestTone(AudioBlockBufferList& outputs, uint32_t blockFrames)
{
    if (!testToneOn_.load(kRelaxed))
        return false;
    const uint64_t starts = testToneStartCount_.load(std::memory_order_acquire);
    if (starts != testToneStartsSeen_) {
        testToneStartsSeen_ = starts;
        testTone_.reset();
    }
    for (uint32_t i = 0; i < blockFrames; ++i) {
        const float sample = kTestToneAmplitude * testTone_.next();
        for (uint32_t b = 0; b < outputs.bufferCount; ++b) {
            if (float* destination = outputChannel(outputs, static_cast<int>(b), blockFrames))
                destination[i] = sample;
        }
    }
    return true;
}

bool AudioEngine_CoreAudio::playbackHoldsMix() const
{
    if (!playbackPlaying_.load(std::memory_order_acquire) || playbackPaused_.load(std::memory_order_acquire))
        return false;
    for (const std::atomic<int>& target : playbackTargets_) {
        const int kind = target.load(kRelaxed);
        if (kind == kPlaybackMix || kind == kPlaybackMixAndMonitor || kind == kPlaybackMonitor)
            return true;
    }
    return false;
}

// Not the virtual getter: the audio thread may still run while the engine's
// destructor has begun, and must not dispatch through the object's vtable.
bool AudioEngine_CoreAudio::bitbucketModeForRender() const
{
    return bitbucketMode_.load(kRelaxed);
}

// The generator's samples (of the last block until this block's generator
// stage has run) while it is enabled, else null.
const float* AudioEngine_CoreAudio::ltcGeneratorBlock() const
{
    if (!ltcGeneratorEnabled_.load(kRelaxed))
        return nullptr;
    return busBuffers_.data() + static_cast<size_t>(kLtcGeneratorBus) * kMaxBlockFrames;
}

void AudioEngine_CoreAudio::renderOutputStages(const RoutingSnapshot& routing, const TrackMask& live, bool holdsMix,
                                               uint32_t blockFrames, AudioBlockBufferList& outputs)
{
    renderMonitorBus(routing, blockFrames, outputs, holdsMix);
    renderComsBus(routing, blockFrames, outputs);
    renderRecordBeep(routing, blockFrames, outputs);
    renderAuxBuses(routing, live, blockFrames, outputs);
    renderLtcGenerator(routing, blockFrames, outputs);
    feedLtcReader(routing, blockFrames);
    renderPlayback(routing, blockFrames, outputs);
}

// --- Stages ---------------------------------------------------------------------------

void AudioEngine_CoreAudio::renderMonitorBus(const RoutingSnapshot& routing, uint32_t blockFrames,
                                             AudioBlockBufferList& outputs, bool holdsMix)
{
    if (routing.monitorOutputs.empty())
        return;
    float* monitor = busBuffer(kMonitorBus);
    std::fill_n(monitor, blockFrames, 0.0f);
    const int pfl = pflTrack_.load(kRelaxed);
    if (pfl >= 0 && pfl < kMaxTracks) {
        if (static_cast<size_t>(pfl) < routing.trackInputs.size()) {
            const int input = routing.trackInputs[static_cast<size_t>(pfl)];
            if (const float* samples = inputChannel(input)) {
                const float gain = gainRealtime_[static_cast<size_t>(pfl)].trimGainLinear.load(kRelaxed)
                                   * kPflLevelFactor;
                addScaledInto(monitor, samples, gain, blockFrames);
            } else if (input == RoutingSnapshot::kLtcGeneratorChannel) {
                if (const float* generator = ltcGeneratorBlock())
                    addScaledInto(monitor, generator, kPflLevelFactor, blockFrames);
            }
        }
    } else if (!bitbucketModeForRender() && !holdsMix) {
        std::copy_n(busBuffer(kMixBus), blockFrames, monitor);
    }
    if (!holdsMix)
        addToOutputs(outputs, routing.monitorOutputs, monitor, blockFrames);
}

void AudioEngine_CoreAudio::renderComsBus(const RoutingSnapshot& routing, uint32_t blockFrames,
                                          AudioBlockBufferList& outputs)
{
    if (comInput1Enabled_.load(kRelaxed)) {
        if (const float* com = inputChannel(routing.com1Input))
            addToOutputs(outputs, routing.comsOutputs, com, blockFrames);
    }
    if (comInput2Enabled_.load(kRelaxed)) {
        if (const float* com = inputChannel(routing.com2Input))
            addToOutputs(outputs, routing.comsOutputs, com, blockFrames);
    }
    if (inputChannel(routing.slateInput) == nullptr)
        return;
    const float* slate = busBuffer(kSlateBus);
    if (slateIntoComs_.load(kRelaxed)) {
        addToOutputs(outputs, routing.comsOutputs, slate, blockFrames);
    } else if (slateIntoBuses_.load(kRelaxed)) {
        if (slateInputEnabled_.load(kRelaxed)) {
            addToOutputs(outputs, routing.comsOutputs, slate, blockFrames);
        } else if (slateMonitorOnly_.load(kRelaxed)) {
            addToOutputs(outputs, routing.mixOutputs, slate, blockFrames);
            addToOutputs(outputs, routing.comsOutputs, slate, blockFrames);
        }
    }
}

void AudioEngine_CoreAudio::renderRecordBeep(const RoutingSnapshot& routing, uint32_t blockFrames,
                                             AudioBlockBufferList& outputs)
{
    // Acquire: the kind of beep was stored before the trigger was counted.
    const uint64_t triggers = beepTriggerCount_.load(std::memory_order_acquire);
    if (triggers != beepTriggersSeen_) {
        beepTriggersSeen_ = triggers;
        beepIsDouble_ = doubleBeepRequested_.load(kRelaxed);
        beepSamplesRemaining_ = recordBeepTotalSamples(beepIsDouble_);
        beepTone_.reset();
    }
    if (!beepOnRecord_.load(kRelaxed)) {
        beepSamplesRemaining_ = 0;  // switching beeps off silences one in progress
        return;
    }
    if (beepSamplesRemaining_ < 1)
        return;
    const int toneSamples = sampleRate_ * kBeepToneMilliseconds / 1000;
    const int gapSamples = sampleRate_ / kBeepGapDivisor;
    const int count = std::min(beepSamplesRemaining_, static_cast<int>(blockFrames));
    const int elapsed = recordBeepTotalSamples(beepIsDouble_) - beepSamplesRemaining_;
    float beep[kMaxBlockFrames];
    for (int i = 0; i < count; ++i) {
        const int at = elapsed + i;
        const bool inGap = beepIsDouble_ && at >= toneSamples && at < toneSamples + gapSamples;
        beep[i] = inGap ? 0.0f : kBeepAmplitude * beepTone_.next();
    }
    const uint32_t frames = static_cast<uint32_t>(count);
    addToOutputs(outputs, routing.mixOutputs, beep, frames);
    addToOutputs(outputs, routing.comsOutputs, beep, frames);
    addToOutputs(outputs, routing.monitorOutputs, beep, frames);
    beepSamplesRemaining_ -= count;
}

float* AudioEngine_CoreAudio::auxBusBuffer(int aux)
{
    return auxBusBuffers_.data() + static_cast<size_t>(aux) * kMaxBlockFrames;
}

void AudioEngine_CoreAudio::renderAuxBuses(const RoutingSnapshot& routing, const TrackMask& live,
                                           uint32_t blockFrames, AudioBlockBufferList& outputs)
{
    constexpr int kAuxCount = RoutingSnapshot::kAuxBusCount;
    for (int a = 0; a < kAuxCount; ++a)
        std::fill_n(auxBusBuffer(a), blockFrames, 0.0f);
    for (size_t track = 0; track < kAuxSendTracks; ++track) {
        if (!live[track])
            continue;
        const float* postTrim = postTrimTapBuffers_.data() + track * kMaxBlockFrames;
        const float* chain = chainOutputBuffers_.data() + track * kMaxBlockFrames;
        for (int a = 0; a < kAuxCount; ++a) {
            const float send = trackAuxSends_[track][static_cast<size_t>(a)].load(kRelaxed);
            if (send <= 0.0f)
                continue;
            const bool preFader = trackAuxPreFader_[track][static_cast<size_t>(a)].load(kRelaxed);
            addScaledInto(auxBusBuffer(a), preFader ? postTrim : chain, send, blockFrames);
        }
    }
    const float* mix = busBuffer(kMixBus);
    for (int a = 0; a < kAuxCount; ++a) {
        const float send = mixSendLevels_[static_cast<size_t>(a)].load(kRelaxed);
        if (send > 0.0f)
            addScaledInto(auxBusBuffer(a), mix, send, blockFrames);
    }
    for (int a = 0; a < kAuxCount; ++a) {
        const float level = auxLevels_[static_cast<size_t>(a)].load(kRelaxed);
        if (level <= 0.0f)
            continue;
        for (const int index : routing.auxOutputs[static_cast<size_t>(a)]) {
            if (float* destination = outputChannel(outputs, index, blockFrames))
                addScaledInto(destination, auxBusBuffer(a), level, blockFrames);
        }
    }
}

void AudioEngine_CoreAudio::renderLtcGenerator(const RoutingSnapshot& routing, uint32_t blockFrames,
                                               AudioBlockBufferList& outputs)
{
    float* buffer = busBuffer(kLtcGeneratorBus);
    const RealtimeSlotUse<LtcEncoder> generator(ltcGenerator_);
    if (!ltcGeneratorEnabled_.load(kRelaxed) || generator.get() == nullptr) {
        std::fill_n(buffer, kMaxBlockFrames, 0.0f);
        return;
    }
    // Stamped like the LTC reader's blocks, so the generator's frames and the
    // decoded ones are placed on one clock.
    const int64_t position = static_cast<int64_t>(recordingRing_->writerPosition());
    const int written =
        std::max(0, generator.get()->generateSamples(buffer, static_cast<int>(blockFrames), position));
    // Without a libltc encoder nothing was written: no stale block goes out.
    std::fill(buffer + std::min<uint32_t>(static_cast<uint32_t>(written), blockFrames), buffer + blockFrames, 0.0f);
    for (const int index : routing.ltcGeneratorOutputs) {
        if (float* destination = outputChannel(outputs, index, blockFrames))
            std::copy_n(buffer, blockFrames, destination);
    }
}

void AudioEngine_CoreAudio::feedLtcReader(const RoutingSnapshot& routing, uint32_t blockFrames)
{
    LtcDecoder* decoder = ltcDecoder_.get();
    if (decoder == nullptr || !ltcInputEnabled_.load(kRelaxed) || blockFrames == 0)
        return;
    // Stamped with the ring index of the block's first sample, before this
    // block is written into the ring.
    const int64_t position = static_cast<int64_t>(recordingRing_->writerPosition());
    const float* samples = routing.ltcInput == RoutingSnapshot::kLtcGeneratorChannel ? ltcGeneratorBlock()
                                                                                     : inputChannel(routing.ltcInput);
    if (samples != nullptr)
        decoder->processAudio(samples, static_cast<int>(blockFrames), position);
}

void AudioEngine_CoreAudio::renderPlayback(const RoutingSnapshot& routing, uint32_t blockFrames,
                                           AudioBlockBufferList& outputs)
{
    if (!playbackPlaying_.load(std::memory_order_acquire) || playbackPaused_.load(std::memory_order_acquire))
        return;
    const RealtimeSlotUse<WavFileReader> reader(playbackReader_);
    if (reader.get() == nullptr || blockFrames == 0)
        return;
    // Once the last frame has been played the playback ends by itself, so the
    // live mix gets its outputs back at once. Cleared inside the reader's use:
    // a start or stop that unpublishes the reader waits for this store, so it
    // never overwrites the flag of the next playback.
    if (playbackPositionFrames_.load(kRelaxed) >= reader.get()->getTotalFrames()) {
        playbackPlaying_.store(false, std::memory_order_release);
        return;
    }
    float* buffer = playbackBuffer_.data();
    const int got = reader.get()->readFrames(buffer, static_cast<int>(blockFrames), kPlaybackChannels);
    if (got < 1)
        return;
    playbackPositionFrames_.fetch_add(got, kRelaxed);
    const int fileChannels = reader.get()->getChannels();
    if (fileChannels < 1)
        return;
    const int stride = std::min(fileChannels, kPlaybackChannels);
    const uint32_t frames = static_cast<uint32_t>(got);
    for (int c = 0; c < stride; ++c) {
        const float* channel = buffer + c;
        switch (playbackTargets_[static_cast<size_t>(c)].load(kRelaxed)) {
        case kPlaybackMixAndMonitor:
            addInterleavedToOutputs(outputs, routing.mixOutputs, channel, stride, frames);
            addInterleavedToOutputs(outputs, routing.monitorOutputs, channel, stride, frames);
            break;
        case kPlaybackMonitor:
            addInterleavedToOutputs(outputs, routing.monitorOutputs, channel, stride, frames);
            break;
        case kPlaybackMix:
            addInterleavedToOutputs(outputs, routing.mixOutputs, channel, stride, frames);
            break;
        case kPlaybackComs:
            addInterleavedToOutputs(outputs, routing.comsOutputs, channel, stride, frames);
            break;
        case kPlaybackAux: {
            // Joins the bus after its sends: heard on its outputs at its master level.
            const int aux = playbackOutputIndices_[static_cast<size_t>(c)].load(kRelaxed);
            if (aux < 0 || aux >= RoutingSnapshot::kAuxBusCount)
                break;
            const float level = auxLevels_[static_cast<size_t>(aux)].load(kRelaxed);
            if (level > 0.0f)
                addInterleavedToOutputs(outputs, routing.auxOutputs[static_cast<size_t>(aux)], channel, stride,
                                        frames, level);
            break;
        }
        case kPlaybackPort: {
            float* destination =
                outputChannel(outputs, playbackOutputIndices_[static_cast<size_t>(c)].load(kRelaxed), frames);
            if (destination == nullptr)
                break;
            for (uint32_t i = 0; i < frames; ++i)
                destination[i] += channel[static_cast<size_t>(i) * static_cast<size_t>(stride)];
            break;
        }
        default:
            break;
        }
    }
}
