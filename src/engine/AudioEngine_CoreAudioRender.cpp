// The render callback: one block of the whole signal path.
//
// Block order: cycle counter and routing snapshot; input (pull or direct
// capture); track meters and slate; cleared outputs; the block's live
// tracks and whether playback holds the mix; automix gains; post-trim taps
// of every input-fed track; track chains and direct outputs; mix bus;
// output stages (monitor, coms, beep, aux, LTC generator, LTC reader,
// playback: AudioEngine_CoreAudioOutputStages.cpp); recording ring; mix
// meter; test tone over every output.
//
// Audio thread: no locks, no allocation, no logging.
#include "engine/AudioEngine_CoreAudio.h"

#include "engine/render/RenderBlockBuffers.h"
#include "realtime/RenderThreadMark.h"

#include <algorithm>
#include <cmath>
#include <cstring>

using namespace RenderBlockBuffers;

namespace {

constexpr float kMeterDecayPerBlock = 0.95f;
constexpr float kClipLevel = 1.0f;
constexpr float kFaderSmoothingSeconds = 0.02f;

// Read for columns and sends that carry nothing; static storage, so the
// audio thread never allocates it.
alignas(64) const float kSilentBlock[AudioEngine_CoreAudio::kMaxBlockFrames] = {};

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

// --- Set-up (GUI thread) ------------------------------------------------------------

void AudioEngine_CoreAudio::initializeSignalPath()
{
    faderSmoothingCoefficient_ = 1.0f - std::exp(-1.0f / (static_cast<float>(sampleRate_) * kFaderSmoothingSeconds));
    automixGains_.fill(1.0f);
    automixEngine_ = std::make_unique<AutomixEngine>();
    // The callback always finds a snapshot: an empty one until routing arrives.
    std::lock_guard<std::mutex> lock(routingMutex_);
    publishRoutingSnapshotLocked();
}

// --- The block ------------------------------------------------------------------------

AudioStatus AudioEngine_CoreAudio::sRenderCallback(void* refcon, const AudioRenderTime& time, AudioUnitBus /*bus*/,
                                                   uint32_t frames, AudioBlockBufferList& outputs)
{
    if (refcon != nullptr)
        static_cast<AudioEngine_CoreAudio*>(refcon)->renderCallback(time, frames, outputs);
    return kAudioOk;
}

AudioStatus AudioEngine_CoreAudio::renderCallback(const AudioRenderTime& time, uint32_t frames,
                                                  AudioBlockBufferList& outputs)
{
    const RenderThreadMark::Scope renderThread;
    // Sequentially consistent, like the publisher's exchange: a block that
    // counts itself after an exchange must load the new snapshot.
    renderCycleCounter_.fetch_add(1);
    const RoutingSnapshot* routing = routingSnapshot_.load();
    const uint32_t blockFrames = std::min(frames, kMaxBlockFrames);

    if (inputBufferList_.buffers != nullptr && inputChannelCount_ >= 1 && pullInput(time, blockFrames)
        && routing != nullptr) {
        measureTrackMeters(*routing, blockFrames);
        readSlateInput(*routing, blockFrames);
    }

    for (uint32_t b = 0; b < outputs.bufferCount; ++b) {
        if (outputs.buffers[b].data != nullptr)
            std::memset(outputs.buffers[b].data, 0, outputs.buffers[b].byteSize);
    }
    if (routing == nullptr)
        return kAudioOk;

    const TrackMask live = liveTracks(*routing);
    const bool holdsMix = playbackHoldsMix();
    computeAutomixGains();
    computePostTrimTaps(*routing, blockFrames);
    runTrackChains(*routing, live, blockFrames, outputs);
    mixBus(*routing, live, holdsMix, blockFrames, outputs);
    renderOutputStages(*routing, live, holdsMix, blockFrames, outputs);
    writeRecordingRing(*routing, blockFrames);
    // Frames of the running take, its post-roll included.
    takeRecorder_.countRenderedFrames(blockFrames);

    const float* mix = busBuffer(kMixBus);
    float mainPeak = 0.0f;
    for (uint32_t i = 0; i < blockFrames; ++i)
        mainPeak = std::max(mainPeak, std::fabs(mix[i]));
    mainPeakLevel_.store(mainPeak, kRelaxed);
    // The tone replaces what the outputs carry, but the take, the LTC reader
    // and the meters go on underneath it.
    renderTestTone(outputs, blockFrames);
    return kAudioOk;
}

// False when the input bus could not be pulled: the input buffers are then
// silenced, so no block is repeated into the taps and the ring.
bool AudioEngine_CoreAudio::pullInput(const AudioRenderTime& time, uint32_t blockFrames)
{
    if (directCaptureActive_.load(std::memory_order_acquire)) {
        readDirectCaptureRing(blockFrames);
        return true;
    }
    // The input buffers hold kMaxBlockFrames: the pull is limited to the
    // processed block so a longer callback cannot overrun them.
    if (outputUnit_->renderInput(time, blockFrames, inputBufferList_) == kAudioOk)
        return true;
    for (uint32_t c = 0; c < inputBufferList_.bufferCount; ++c) {
        if (inputBufferList_.buffers[c].data != nullptr)
            std::fill_n(inputBufferList_.buffers[c].data, blockFrames, 0.0f);
    }
    return false;
}

void AudioEngine_CoreAudio::measureTrackMeters(const RoutingSnapshot& routing, uint32_t blockFrames)
{
    const int routedTracks = std::min(static_cast<int>(routing.trackInputs.size()), kMaxTracks);
    const float* generator = ltcGeneratorBlock();
    for (int t = 0; t < kMaxTracks; ++t) {
        TrackMeter& meter = trackMeters_[static_cast<size_t>(t)];
        const int input = t < routedTracks ? routing.trackInputs[static_cast<size_t>(t)] : RoutingSnapshot::kNoChannel;
        const bool generatorInput = input == RoutingSnapshot::kLtcGeneratorChannel;
        if (!generatorInput && (input < 0 || input >= inputChannelCount_)) {
            meter.peakLevel.store(meter.peakLevel.load(kRelaxed) * kMeterDecayPerBlock, kRelaxed);
            continue;
        }
        const float* samples = generatorInput ? generator : inputChannel(input);
        const float trim = gainRealtime_[static_cast<size_t>(t)].trimGainLinear.load(kRelaxed);
        float peak = 0.0f;
        if (samples != nullptr) {
            for (uint32_t i = 0; i < blockFrames; ++i)
                peak = std::max(peak, std::fabs(trim * samples[i]));
        }
        meter.peakLevel.store(peak, kRelaxed);
        if (peak >= kClipLevel)
            meter.clipped.store(true, kRelaxed);
    }
}

void AudioEngine_CoreAudio::readSlateInput(const RoutingSnapshot& routing, uint32_t blockFrames)
{
    const float* slate = inputChannel(routing.slateInput);
    if (slate == nullptr)
        return;
    const float gain = slateGainLinear_.load(kRelaxed);
    float* buffer = busBuffer(kSlateBus);
    for (uint32_t i = 0; i < blockFrames; ++i)
        buffer[i] = slate[i] * gain;
}

void AudioEngine_CoreAudio::computeAutomixGains()
{
    if (!automixEngine_) {
        automixGains_.fill(1.0f);
        return;
    }
    for (size_t t = 0; t < kMaxTracks; ++t)
        automixLevels_[t] = trackArmed_[t].load(kRelaxed) ? trackMeters_[t].peakLevel.load(kRelaxed) : 0.0f;
    automixEngine_->processAudio(automixLevels_.data(), kMaxTracks);
    automixEngine_->calculateAutomixGains(automixGains_.data(), kMaxTracks);
}

// Every track fed by a device channel gets its tap every block, armed or not:
// the ring records it, and a track armed at the moment of a take must not
// carry a stale block into its pre-roll.
void AudioEngine_CoreAudio::computePostTrimTaps(const RoutingSnapshot& routing, uint32_t blockFrames)
{
    const int routedTracks = std::min(static_cast<int>(routing.trackInputs.size()), kMaxTracks);
    for (int t = 0; t < routedTracks; ++t) {
        const float* input = inputChannel(routing.trackInputs[static_cast<size_t>(t)]);
        if (input == nullptr)
            continue;
        const float trim = gainRealtime_[static_cast<size_t>(t)].trimGainLinear.load(kRelaxed);
        float* tap = postTrimTapBuffers_.data() + static_cast<size_t>(t) * kMaxBlockFrames;
        for (uint32_t i = 0; i < blockFrames; ++i)
            tap[i] = input[i] * trim;
    }
}

void AudioEngine_CoreAudio::runTrackChains(const RoutingSnapshot& routing, const TrackMask& live,
                                           uint32_t blockFrames, AudioBlockBufferList& outputs)
{
    // Live tracks go through their chains four at a time (one per vector lane).
    std::array<int, TrackChain::kLanes> laneTracks{};
    int lanesFilled = 0;
    for (int t = 0; t < kMaxTracks; ++t) {
        if (!live[static_cast<size_t>(t)])
            continue;
        laneTracks[static_cast<size_t>(lanesFilled++)] = t;
        if (lanesFilled == TrackChain::kLanes) {
            runTrackChainLanes(routing, laneTracks, lanesFilled, blockFrames, outputs);
            lanesFilled = 0;
        }
    }
    if (lanesFilled > 0)
        runTrackChainLanes(routing, laneTracks, lanesFilled, blockFrames, outputs);
}

void AudioEngine_CoreAudio::runTrackChainLanes(const RoutingSnapshot& routing,
                                               const std::array<int, TrackChain::kLanes>& tracks, int trackCount,
                                               uint32_t blockFrames, AudioBlockBufferList& outputs)
{
    TrackChain::Lanes lanes;
    for (int l = 0; l < trackCount; ++l) {
        const size_t lane = static_cast<size_t>(l);
        const size_t track = static_cast<size_t>(tracks[lane]);
        TrackChain::BlockParameters& parameters = lanes.parameters[lane];
        lanes.chains[lane] = &trackChains_[track];
        lanes.chains[lane]->refresh(hpfRealtime_[track], eqRealtime_[track], limiterRealtime_[track], parameters);
        parameters.targetGainLinear = gainRealtime_[track].targetGainLinear.load(kRelaxed);
        parameters.faderSmoothing = faderSmoothingCoefficient_;
        parameters.automixGain = automixGains_[track];
        lanes.appliedGainLinear[lane] = gainRealtime_[track].appliedGainLinear.load(kRelaxed);
        lanes.inputs[lane] = postTrimTapBuffers_.data() + track * kMaxBlockFrames;
        lanes.outputs[lane] = chainOutputBuffers_.data() + track * kMaxBlockFrames;
    }
    TrackChain::processLanes(lanes, blockFrames);

    for (int l = 0; l < trackCount; ++l) {
        const size_t lane = static_cast<size_t>(l);
        const size_t track = static_cast<size_t>(tracks[lane]);
        float* output = lanes.outputs[lane];
        lanes.chains[lane]->resetIfNotFinite(output, blockFrames);
        const float applied = lanes.appliedGainLinear[lane];
        gainRealtime_[track].appliedGainLinear.store(
            std::isfinite(applied) ? applied : lanes.parameters[lane].targetGainLinear, kRelaxed);

        if (track >= routing.trackOutputs.size())
            continue;
        for (const int index : routing.trackOutputs[track]) {
            if (float* destination = outputChannel(outputs, index, blockFrames))
                addInto(destination, output, blockFrames);
        }
    }
}

void AudioEngine_CoreAudio::mixBus(const RoutingSnapshot& routing, const TrackMask& live, bool holdsMix,
                                   uint32_t blockFrames, AudioBlockBufferList& outputs)
{
    float* mix = busBuffer(kMixBus);
    std::fill_n(mix, blockFrames, 0.0f);
    for (size_t t = 0; t < kMaxTracks; ++t) {
        if (live[t])
            addInto(mix, chainOutputBuffers_.data() + t * kMaxBlockFrames, blockFrames);
    }
    if (slateIntoBuses_.load(kRelaxed) && !slateMonitorOnly_.load(kRelaxed) && inputChannel(routing.slateInput))
        addInto(mix, busBuffer(kSlateBus), blockFrames);
    // Bitbucket mode and playback to the mix keep the mix off its outputs;
    // the ring still records it.
    if (bitbucketModeForRender() || holdsMix)
        return;
    for (const int index : routing.mixOutputs) {
        if (float* destination = outputChannel(outputs, index, blockFrames))
            addInto(destination, mix, blockFrames);
    }
}

void AudioEngine_CoreAudio::writeRecordingRing(const RoutingSnapshot& routing, uint32_t blockFrames)
{
    if (!recordingRing_)
        return;
    std::array<const float*, kMaxTracks> columns{};
    const float* generator = ltcGeneratorBlock();
    const int routedTracks = std::min(static_cast<int>(routing.trackInputs.size()), kMaxTracks);
    for (int t = 0; t < kMaxTracks; ++t) {
        const size_t track = static_cast<size_t>(t);
        const int input = t < routedTracks ? routing.trackInputs[track] : RoutingSnapshot::kNoChannel;
        if (input == RoutingSnapshot::kLtcGeneratorChannel)
            columns[track] = generator != nullptr ? generator : kSilentBlock;
        else if (inputChannel(input) != nullptr)
            columns[track] = postTrimTapBuffers_.data() + track * kMaxBlockFrames;
        else
            columns[track] = kSilentBlock;
    }
    const float* mix = busBuffer(kMixBus);
    // The render callback is the ring's only writer.
    RecordingRing& ring = *recordingRing_;
    const uint64_t start = ring.writerPosition();
    uint32_t done = 0;
    while (done < blockFrames) {
        const uint32_t chunk =
            static_cast<uint32_t>(std::min<uint64_t>(blockFrames - done, ring.contiguousFramesAt(start + done)));
        float* frame = ring.frameAt(start + done);
        for (uint32_t i = done; i < done + chunk; ++i, frame += kRingFrameFloats) {
            frame[0] = mix[i];
            for (size_t t = 0; t < kMaxTracks; ++t)
                frame[1 + t] = columns[t][i];
        }
        done += chunk;
    }
    ring.publishWritePosition(start + blockFrames);
}

// Armed and fed by a device channel; a track on the LTC input records its
// tap but never reaches the chains, the mix or the sends.
AudioEngine_CoreAudio::TrackMask AudioEngine_CoreAudio::liveTracks(const RoutingSnapshot& routing) const
{
    TrackMask live;
    const size_t routedTracks = std::min(routing.trackInputs.size(), static_cast<size_t>(kMaxTracks));
    for (size_t t = 0; t < routedTracks; ++t) {
        const int input = routing.trackInputs[t];
        live[t] = input != routing.ltcInput && trackArmed_[t].load(kRelaxed) && inputChannel(input) != nullptr;
    }
    return live;
}

const float* AudioEngine_CoreAudio::inputChannel(int channel) const
{
    if (channel < 0 || channel >= inputChannelCount_ || inputBufferList_.buffers == nullptr
        || static_cast<uint32_t>(channel) >= inputBufferList_.bufferCount)
        return nullptr;
    return inputBufferList_.buffers[channel].data;
}

float* AudioEngine_CoreAudio::busBuffer(int bus)
{
    return busBuffers_.data() + static_cast<size_t>(bus) * kMaxBlockFrames;
}

// --- Direct capture ring --------------------------------------------------------------

void AudioEngine_CoreAudio::readDirectCaptureRing(uint32_t blockFrames)
{
    // A block without frames consumes nothing; it must not count the waiting
    // frames as lost.
    if (blockFrames == 0)
        return;
    const uint64_t writePosition = directCaptureRing_.writePositionForConsumer();
    uint64_t readPosition = directCaptureRing_.readPosition();
    const uint64_t available = writePosition - readPosition;
    // At most four blocks of delay, and never more than the ring holds.
    const uint64_t maxDelay = std::min<uint64_t>(kDirectCaptureMaxDelayBlocks * blockFrames, kDirectCaptureRingFrames);
    uint64_t take = 0;
    if (available > maxDelay) {
        directCaptureOverflowFrames_.fetch_add(static_cast<int64_t>(available - maxDelay), std::memory_order_relaxed);
        readPosition = writePosition - maxDelay;
        take = std::min<uint64_t>(maxDelay, blockFrames);
    } else {
        take = std::min<uint64_t>(available, blockFrames);
    }
    if (take < blockFrames)
        directCaptureUnderrunFrames_.fetch_add(static_cast<int64_t>(blockFrames - take), std::memory_order_relaxed);

    const int ringChannels = directCaptureChannelCount_;
    for (int c = 0; c < inputChannelCount_ && c < static_cast<int>(inputBufferList_.bufferCount); ++c) {
        float* destination = inputBufferList_.buffers[c].data;
        if (destination == nullptr)
            continue;
        if (c >= ringChannels) {
            std::fill_n(destination, blockFrames, 0.0f);
            continue;
        }
        for (uint64_t i = 0; i < take; ++i)
            destination[i] = directCaptureRing_.frameAt(readPosition + i)[c];
        std::fill(destination + take, destination + blockFrames, 0.0f);
    }
    directCaptureRing_.publishRead(readPosition + take);
}

const float* AudioEngine_CoreAudio::getInputChannelBlock(int channel) const
{
    if (channel < 0 || channel >= static_cast<int>(inputBufferStorage_.size()))
        return nullptr;
    return inputBufferStorage_[static_cast<size_t>(channel)].data();
}

// --- The ring's readers ----------------------------------------------------------------

int64_t AudioEngine_CoreAudio::getRecordingRingWritePosition() const
{
    return static_cast<int64_t>(recordingRing_->writePosition());
}

std::shared_ptr<const RecordingRing> AudioEngine_CoreAudio::getRecordingRing() const
{
    return recordingRing_;
}
