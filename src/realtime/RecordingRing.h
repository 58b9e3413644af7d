#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// The recording ring: the last `capacityFrames` frames of `channels` floats
// each, written by one writer that never waits and overwrites the oldest
// frames, and read by any number of readers that copy behind it.
//
// Unlike SpscRing no reader holds the writer back: the render callback must
// never wait for a disk, so a reader that falls a whole ring behind loses
// frames and finds out with wasOverwritten, both before it copies (to skip
// ahead) and after (to discard a copy the writer may have reached meanwhile).
//
// Threads:
// - Writer (the render callback only): frameAt, publishWritePosition. No
//   locks, no allocation.
// - Readers (the ring writer thread, live-backup workers, tests): any number;
//   writePosition, frameAt, wasOverwritten. Readers hold the ring by
//   shared_ptr, so it outlives the engine's take for as long as they read.
// Frames are allocated once, in the constructor.
class RecordingRing {
public:
    RecordingRing(size_t channels, uint64_t capacityFrames)
        : channels_(channels),
          capacityFrames_(std::max<uint64_t>(capacityFrames, 1)),
          frames_(std::make_unique<float[]>(channels * static_cast<size_t>(capacityFrames_)))
    {
    }
    RecordingRing(const RecordingRing&) = delete;
    RecordingRing& operator=(const RecordingRing&) = delete;

    size_t channels() const { return channels_; }
    uint64_t capacityFrames() const { return capacityFrames_; }

    // The frame of a position: `channels` floats.
    float* frameAt(uint64_t position) { return frames_.get() + rowOf(position) * channels_; }
    const float* frameAt(uint64_t position) const { return frames_.get() + rowOf(position) * channels_; }
    // Frames from `position` up to the end of the storage (before the wrap).
    uint64_t contiguousFramesAt(uint64_t position) const { return capacityFrames_ - (position % capacityFrames_); }

    // Writer: the next position to write; the frames before it are complete.
    void publishWritePosition(uint64_t position)
    {
        // Release: a reader that loads the new position sees the frames.
        writePosition_.store(position, std::memory_order_release);
    }
    // Writer's own view of its position.
    uint64_t writerPosition() const { return writePosition_.load(std::memory_order_relaxed); }

    // Readers: the frames before this position are in place (acquire).
    uint64_t writePosition() const { return writePosition_.load(std::memory_order_acquire); }
    // True when the writer may have reached `position` again: it has written
    // up to a ring beyond it, less `marginFrames` (the writer's block in
    // progress, whose frames it writes before it publishes them).
    bool wasOverwritten(uint64_t position, uint64_t marginFrames) const
    {
        return writePosition() + marginFrames > position + capacityFrames_;
    }

private:
    size_t rowOf(uint64_t position) const { return static_cast<size_t>(position % capacityFrames_); }

    const size_t channels_;
    const uint64_t capacityFrames_;
    std::unique_ptr<float[]> frames_;
    std::atomic<uint64_t> writePosition_{0};
};
