#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// A single-producer, single-consumer ring of audio blocks in 32-bit words.
// Each block is a header of four words (writer id, frames, channels, 0)
// followed by frames x channels interleaved float samples; blocks wrap
// around the end of the storage. One word always stays free, so a full ring
// is never mistaken for an empty one.
//
// Threads: one producer calls pushBlock and freeWords; one consumer calls
// takeBlock and discardAll. Each index is stored by one side only, with
// release after the words it covers are written (producer) or read
// (consumer); the other side loads it with acquire. usedWords may be called
// from any thread for an estimate. reset only while neither side runs.
class alignas(64) AudioRingBuffer {
public:
    static constexpr uint64_t kHeaderWords = 4;

    struct BlockHeader {
        int writerId = 0;
        int frames = 0;
        int channels = 0;
    };

    enum class Take {
        None,     // fewer than a header's words in the ring
        Block,    // the block's samples are in the caller's buffer
        Skipped,  // the block did not fit the caller's buffer and was passed over
    };

    // Zeroed storage of capacityWords words (at least kHeaderWords + 2).
    explicit AudioRingBuffer(uint64_t capacityWords);

    uint64_t capacityWords() const { return capacity_; }
    uint64_t usedWords() const;
    uint64_t freeWords() const;

    // Producer: no lock, no allocation. Writes the whole block and publishes
    // it, or nothing when fewer than frames x channels + 4 words are free.
    bool pushBlock(int writerId, const float* samples, int frames, int channels);

    // Consumer: copies the next block's samples into `out` (room for
    // outFloats floats). A block larger than that is passed over (Skipped)
    // with its header filled in, so the caller can count it.
    Take takeBlock(float* out, size_t outFloats, BlockHeader& header);

    // Consumer: drops every block in the ring; returns their frames.
    int64_t discardAll();

    // Both indexes to 0; only while no producer or consumer runs.
    void reset();

private:
    void writeWords(uint64_t index, const void* source, uint64_t count);
    void readWords(uint64_t index, void* target, uint64_t count) const;
    uint64_t advance(uint64_t index, uint64_t count) const { return (index + count) % capacity_; }

    uint64_t capacity_;
    std::unique_ptr<uint32_t[]> words_;
    alignas(64) std::atomic<uint64_t> writeIndex_{0};
    alignas(64) std::atomic<uint64_t> readIndex_{0};
};
