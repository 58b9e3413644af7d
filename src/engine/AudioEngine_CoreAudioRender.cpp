// The render callback's frame: the cycle counter, the block length, the
// input stage and cleared outputs. The signal path stages run between the
// input stage and the end of the block.
//
// Audio thread: no locks, no allocation, no logging.
#include "engine/AudioEngine_CoreAudio.h"

#include <algorithm>
#include <cstring>

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
    // Sequentially consistent: publishers on the GUI thread count blocks
    // begun after they unpublished an object.
    renderCycleCounter_.fetch_add(1);
    const uint32_t blockFrames = std::min(frames, kMaxBlockFrames);

    if (inputBufferList_.buffers != nullptr && inputChannelCount_ >= 1) {
        if (directCaptureActive_.load(std::memory_order_acquire)) {
            readDirectCaptureRing(blockFrames);
        } else {
            // The input buffers hold kMaxBlockFrames: the pull is limited to
            // the processed block so a longer callback cannot overrun them.
            outputUnit_->renderInput(time, blockFrames, inputBufferList_);
        }
    }

    for (uint32_t b = 0; b < outputs.bufferCount; ++b) {
        if (outputs.buffers[b].data != nullptr)
            std::memset(outputs.buffers[b].data, 0, outputs.buffers[b].byteSize);
    }
    return kAudioOk;
}

void AudioEngine_CoreAudio::readDirectCaptureRing(uint32_t blockFrames)
{
    // A block without frames consumes nothing; it must not count the waiting
    // frames as lost.
    if (blockFrames == 0)
        return;
    const uint64_t writePosition = directCaptureWritePosition_.load(std::memory_order_acquire);
    uint64_t readPosition = directCaptureReadPosition_.load(std::memory_order_relaxed);
    const uint64_t available = writePosition >= readPosition ? writePosition - readPosition : 0;
    // At most four blocks of delay, and never more than the ring holds: older
    // frames have been overwritten already.
    const uint64_t maxDelay = std::min<uint64_t>(kDirectCaptureMaxDelayBlocks * blockFrames, kDirectCaptureRingFrames);
    uint64_t take = 0;
    if (available > maxDelay) {
        // Frames beyond the ring's size were counted by the producer when it
        // overwrote them.
        const uint64_t alreadyCounted = available > kDirectCaptureRingFrames ? available - kDirectCaptureRingFrames : 0;
        directCaptureOverflowFrames_.fetch_add(static_cast<int64_t>(available - maxDelay - alreadyCounted),
                                               std::memory_order_relaxed);
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
        const float* ring = directCaptureRing_.data() + static_cast<size_t>(c) * kDirectCaptureRingFrames;
        for (uint64_t i = 0; i < take; ++i)
            destination[i] = ring[(readPosition + i) % kDirectCaptureRingFrames];
        std::fill(destination + take, destination + blockFrames, 0.0f);
    }
    directCaptureReadPosition_.store(readPosition + take, std::memory_order_release);
}

const float* AudioEngine_CoreAudio::getInputChannelBlock(int channel) const
{
    if (channel < 0 || channel >= static_cast<int>(inputBufferStorage_.size()))
        return nullptr;
    return inputBufferStorage_[static_cast<size_t>(channel)].data();
}
