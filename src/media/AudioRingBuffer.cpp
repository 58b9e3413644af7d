#include "media/AudioRingBuffer.h"

#include <algorithm>
#include <cstring>

AudioRingBuffer::AudioRingBuffer(uint64_t capacityWords)
    : capacity_(std::max<uint64_t>(capacityWords, kHeaderWords + 2))
    , words_(new uint32_t[capacity_]())
{
}

uint64_t AudioRingBuffer::usedWords() const
{
    const uint64_t write = writeIndex_.load(std::memory_order_acquire);
    const uint64_t read = readIndex_.load(std::memory_order_acquire);
    return write >= read ? write - read : write + capacity_ - read;
}

uint64_t AudioRingBuffer::freeWords() const
{
    return capacity_ - 1 - usedWords();
}

void AudioRingBuffer::writeWords(uint64_t index, const void* source, uint64_t count)
{
    const uint64_t first = std::min(count, capacity_ - index);
    std::memcpy(words_.get() + index, source, first * sizeof(uint32_t));
    if (count > first)
        std::memcpy(words_.get(), static_cast<const uint32_t*>(source) + first, (count - first) * sizeof(uint32_t));
}

void AudioRingBuffer::readWords(uint64_t index, void* target, uint64_t count) const
{
    const uint64_t first = std::min(count, capacity_ - index);
    std::memcpy(target, words_.get() + index, first * sizeof(uint32_t));
    if (count > first)
        std::memcpy(static_cast<uint32_t*>(target) + first, words_.get(), (count - first) * sizeof(uint32_t));
}

bool AudioRingBuffer::pushBlock(int writerId, const float* samples, int frames, int channels)
{
    if (frames < 1 || channels < 1)
        return false;
    const uint64_t sampleWords = uint64_t(frames) * uint64_t(channels);
    // The consumer's index with acquire: the words it freed are read out.
    if (freeWords() < sampleWords + kHeaderWords)
        return false;
    const uint64_t write = writeIndex_.load(std::memory_order_relaxed);
    const uint32_t header[kHeaderWords] = {static_cast<uint32_t>(writerId), static_cast<uint32_t>(frames),
                                           static_cast<uint32_t>(channels), 0};
    writeWords(write, header, kHeaderWords);
    writeWords(advance(write, kHeaderWords), samples, sampleWords);
    // Release: the consumer sees the block's words before the new index.
    writeIndex_.store(advance(write, kHeaderWords + sampleWords), std::memory_order_release);
    return true;
}

AudioRingBuffer::Take AudioRingBuffer::takeBlock(float* out, size_t outFloats, BlockHeader& header)
{
    const uint64_t used = usedWords();
    if (used < kHeaderWords)
        return Take::None;
    const uint64_t read = readIndex_.load(std::memory_order_relaxed);
    uint32_t words[kHeaderWords];
    readWords(read, words, kHeaderWords);
    header.writerId = static_cast<int>(words[0]);
    header.frames = static_cast<int>(words[1]);
    header.channels = static_cast<int>(words[2]);
    // The producer only publishes whole blocks; the bound keeps a damaged
    // header from moving the index past what was written.
    const uint64_t sampleWords =
        std::min<uint64_t>(uint64_t(words[1]) * uint64_t(words[2]), used - kHeaderWords);
    const uint64_t samplesAt = advance(read, kHeaderWords);
    const bool fits = out != nullptr && sampleWords <= outFloats;
    if (fits)
        readWords(samplesAt, out, sampleWords);
    // Release: the producer may overwrite these words only after they are read.
    readIndex_.store(advance(samplesAt, sampleWords), std::memory_order_release);
    return fits ? Take::Block : Take::Skipped;
}

int64_t AudioRingBuffer::discardAll()
{
    int64_t frames = 0;
    BlockHeader header;
    while (takeBlock(nullptr, 0, header) != Take::None)
        frames += header.frames;
    return frames;
}

void AudioRingBuffer::reset()
{
    writeIndex_.store(0, std::memory_order_release);
    readIndex_.store(0, std::memory_order_release);
}
