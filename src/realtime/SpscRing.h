#pragma once

#include <atomic>
#include <cassert>
#include <cstddef>
#include <cstdint>
#include <vector>

// A lossless single-producer single-consumer ring of frames, each frame
// `channels` values side by side. Positions are 64-bit frame counts that
// only grow; a slot is position & (capacity - 1).
//
// Threads:
// - Owner thread: allocate and clear, only while neither side runs.
// - Producer (one thread): freeFrames, frameAt, contiguousFramesAt and
//   publishWrite. It writes only the free slots, so it never touches a frame
//   the consumer has not released; with no room it drops or waits, its choice.
// - Consumer (one thread, may be the real-time audio thread): readableFrames,
//   frameAt, publishRead. It may skip ahead to any position up to the write
//   position it loaded (a seek, or a reader too far behind).
// No call locks or allocates except allocate.
template <typename T>
class SpscRing {
public:
    // Owner thread. capacityFrames must be a power of two.
    void allocate(size_t channels, uint64_t capacityFrames)
    {
        assert(capacityFrames > 0 && (capacityFrames & (capacityFrames - 1)) == 0);
        channels_ = channels;
        capacityFrames_ = capacityFrames;
        mask_ = capacityFrames - 1;
        storage_.assign(channels * static_cast<size_t>(capacityFrames), T{});
        clear();
    }
    void clear()
    {
        writePosition_.store(0, std::memory_order_relaxed);
        readPosition_.store(0, std::memory_order_relaxed);
    }
    bool isAllocated() const { return !storage_.empty(); }
    size_t channels() const { return channels_; }
    uint64_t capacityFrames() const { return capacityFrames_; }

    // The slot of one position; its channels follow it.
    T* frameAt(uint64_t position) { return storage_.data() + static_cast<size_t>(position & mask_) * channels_; }
    const T* frameAt(uint64_t position) const
    {
        return storage_.data() + static_cast<size_t>(position & mask_) * channels_;
    }
    // Frames from `position` to the end of the storage (before the wrap).
    uint64_t contiguousFramesAt(uint64_t position) const { return capacityFrames_ - (position & mask_); }

    // --- Producer --------------------------------------------------------
    uint64_t writePosition() const { return writePosition_.load(std::memory_order_relaxed); }
    uint64_t freeFrames() const
    {
        // Acquire: the consumer is done with every slot before its position.
        return capacityFrames_ - (writePosition() - readPosition_.load(std::memory_order_acquire));
    }
    void publishWrite(uint64_t frames)
    {
        // Release: a consumer that sees the new position sees the frames.
        writePosition_.store(writePosition() + frames, std::memory_order_release);
    }

    // --- Consumer --------------------------------------------------------
    uint64_t readPosition() const { return readPosition_.load(std::memory_order_relaxed); }
    // Acquire: the frames before the loaded position are in place.
    uint64_t writePositionForConsumer() const { return writePosition_.load(std::memory_order_acquire); }
    uint64_t readableFrames() const { return writePositionForConsumer() - readPosition(); }
    // The consumer's new position: after what it read, or further on (a
    // skip), never beyond the write position it loaded.
    void publishRead(uint64_t position)
    {
        // Release: the producer may overwrite the released slots once it sees this.
        readPosition_.store(position, std::memory_order_release);
    }

private:
    std::vector<T> storage_;
    size_t channels_ = 0;
    uint64_t capacityFrames_ = 0;
    uint64_t mask_ = 0;
    std::atomic<uint64_t> writePosition_{0};
    std::atomic<uint64_t> readPosition_{0};
};
