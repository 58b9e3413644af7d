#pragma once

#include "media/AudioRingBuffer.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class BwfFileWriter;

// Writes audio from a real-time thread to up to 64 open BwfFileWriters
// without blocking that thread: the producer pushes blocks of interleaved
// floats tagged with a writer id into an AudioRingBuffer, and a writer
// thread of this component drains the ring into the registered writers.
// Every sample that never reaches a file is counted: a full ring or a
// refused block in droppedSamples (frames), a closed or failing writer in
// writeErrors (blocks).
//
// Threads:
// - The owner calls initialize, start, stop, registerWriter,
//   unregisterWriter, clearWriters and the destructor. initialize, start,
//   stop and the destructor must not run while the producer pushes: the
//   ring they replace or free is the one it writes.
// - One producer (normally the audio thread) calls pushSamples and
//   pushSamplesToWriters: no lock is waited for (the wake and callback
//   mutexes are only tried), nothing is allocated.
// - The writer thread takes blocks and writes them. It holds slotMutex_
//   while it writes a block, so unregisterWriter and clearWriters return
//   only once no write to that writer is in progress.
// - Counters, error flags, getBufferFillLevel and isRunning: any thread.
class AsyncDiskWriter {
public:
    static constexpr int kMaxWriters = 64;

    AsyncDiskWriter();
    ~AsyncDiskWriter();

    AsyncDiskWriter(const AsyncDiskWriter&) = delete;
    AsyncDiskWriter& operator=(const AsyncDiskWriter&) = delete;

    // A new zeroed ring for `seconds` of maxChannels at sampleRate (4 MiB to
    // 64 MiB) and a read buffer of maxChannels x maxFramesPerBlock floats.
    void initialize(float seconds, int sampleRate, int maxChannels, int maxFramesPerBlock);

    int64_t getDroppedSamples() const { return droppedSamples_.load(std::memory_order_relaxed); }
    int64_t getWriteErrors() const { return writeErrors_.load(std::memory_order_relaxed); }
    // Ids outside 0 to 63 are ignored.
    bool hasWriterErrors(const std::vector<int>& ids) const;
    bool hasWriterError(int id) const;
    void clearWriterErrors(const std::vector<int>& ids);

    // Returns the writer's id, or -1 (with a log line) beyond 64 writers.
    int registerWriter(BwfFileWriter* writer);
    void unregisterWriter(int id);
    void clearWriters();

    void start();
    // flush: write what the ring holds before the thread ends. Whatever is
    // left behind is counted in droppedSamples.
    void stop(bool flush);

    // Producer. False when not running, the id has no writer, the block is
    // empty or larger than the read buffer, or the ring is full; all but
    // the first three count the block's frames as dropped.
    bool pushSamples(int writerId, const float* samples, int frames, int channels);
    bool pushSamplesToWriters(const std::vector<int>& writerIds, const float* samples, int frames, int channels);

    // Called by the producer with the frames of a block the full ring refused.
    void setOverflowCallback(std::function<void(int)> callback);

    float getBufferFillLevel() const;
    bool isRunning() const { return running_.load(std::memory_order_acquire); }
    int readBufferFloats() const { return static_cast<int>(readBuffer_.size()); }

private:
    void threadMain();
    bool processRing();  // false when the pass hit its block limit
    void writeBlock(const AudioRingBuffer::BlockHeader& header);
    void countDropped(int64_t frames) { droppedSamples_.fetch_add(frames, std::memory_order_relaxed); }
    void flagWriteError(int id);
    bool ringHoldsData() const { return ring_ && ring_->usedWords() >= AudioRingBuffer::kHeaderWords; }

    std::unique_ptr<AudioRingBuffer> ring_;
    std::vector<float> readBuffer_;
    int sampleRate_ = 48000;
    int maxChannels_ = 32;

    std::array<std::atomic<BwfFileWriter*>, kMaxWriters> writers_{};
    std::atomic<int> writerCount_{0};
    std::mutex slotMutex_;

    std::thread thread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> flushOnStop_{true};
    std::mutex wakeMutex_;
    std::condition_variable wake_;

    std::atomic<int64_t> droppedSamples_{0};
    std::atomic<int64_t> writeErrors_{0};
    std::array<std::atomic<bool>, kMaxWriters> writerError_{};

    std::mutex callbackMutex_;
    std::function<void(int)> overflowCallback_;
};
