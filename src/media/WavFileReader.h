#pragma once

#include "media/WavFormatChunk.h"
#include "realtime/SpscRing.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class RiffChunkWalker;

// Reads the samples of an uncompressed RIFF or RF64 WAV file as interleaved
// 32-bit floats, either synchronously or from a ring that a prefetch thread
// keeps filled ahead of the play position.
//
// Threads:
// - Owner thread: open, close, startPrefetch, stopPrefetch, seekSeconds,
//   setPosition, the format getters, getDuration, isAtEnd.
// - Reading thread: readFrames. While prefetching this may be the real-time
//   audio thread: no locks, no allocation, no file access on that path.
// - Prefetch thread (owned, joined by stopPrefetch and close): the only one
//   that touches the file while prefetching. It is the producer of the
//   lossless SpscRing (frames first, then its write position, release); the
//   reading thread is its consumer (copies, then publishes its read
//   position, release) and jumps to a seek's start once the prefetch thread
//   has published it.
// Synchronous reads and prefetching must not be mixed on one reader.
class WavFileReader {
public:
    static constexpr int kRingFrames = 65536;
    static constexpr int kBlockFrames = 4096;

    WavFileReader();
    ~WavFileReader();

    WavFileReader(const WavFileReader&) = delete;
    WavFileReader& operator=(const WavFileReader&) = delete;

    // Closes what was open and reads the header. False, closed and with a
    // reason in getLastError() when the file cannot be opened or decoded.
    bool open(const std::string& path);
    void close();
    const std::string& getLastError() const { return lastError_; }

    bool isOpen() const { return isOpen_; }
    bool isRF64() const { return isRF64_; }
    const std::string& getPath() const { return path_; }
    int getSampleRate() const { return format_.sampleRate; }
    int getChannels() const { return format_.channels; }
    int getBitsPerSample() const { return format_.bitsPerSample; }
    int getFormatTag() const { return format_.formatTag; }
    int64_t getDataSizeBytes() const { return dataSizeBytes_; }
    int64_t getDataStartOffset() const { return dataStartOffset_; }
    int64_t getTotalFrames() const { return totalFrames_; }
    double getDuration() const;

    // Delivers up to `frames` frames of min(outChannels, file channels)
    // floats each (all channels when outChannels is out of 1..channels).
    // Returns the frames delivered.
    int readFrames(float* out, int frames, int outChannels);

    // Clamped to 0..totalFrames. While prefetching the seek is posted to the
    // prefetch thread, and reads return 0 until it has been taken.
    void seekSeconds(double seconds);
    void setPosition(int64_t frame);
    bool isAtEnd() const;

    void startPrefetch(int maxChannels);
    void stopPrefetch();
    bool isPrefetching() const { return prefetchRunning_.load(std::memory_order_acquire); }

private:
    bool readHeader();
    bool readDs64(RiffChunkWalker& walker, int64_t& ds64DataSize, int64_t& nextChunkOffset);
    bool refuse(const std::string& reason);
    int outputChannels(int outChannels) const;
    void decode(const uint8_t* raw, int frames, float* out, int outStride, int channelsKept) const;
    int64_t readRaw(std::vector<uint8_t>& buffer, int64_t firstFrame, int64_t frames);

    int readFromFile(float* out, int frames, int outChannels);
    int readFromRing(float* out, int frames, int outChannels);
    void prefetchLoop(int64_t& filePositionFrames);
    void takePendingSeek(int64_t& filePositionFrames);
    void waitForWork();

    std::string path_;
    std::string lastError_;
    std::FILE* file_ = nullptr;
    int64_t fileSizeBytes_ = 0;
    bool isOpen_ = false;
    bool isRF64_ = false;
    WavFormatChunk format_;
    int64_t dataSizeBytes_ = 0;
    int64_t dataStartOffset_ = 0;
    int64_t totalFrames_ = 0;

    std::atomic<int64_t> position_{0};
    std::vector<uint8_t> readBuffer_;

    // Prefetch state.
    std::atomic<bool> prefetchRunning_{false};
    std::thread prefetchThread_;
    std::mutex wakeMutex_;
    std::condition_variable wake_;
    int ringChannels_ = 0;
    SpscRing<float> ring_;
    std::vector<uint8_t> prefetchBuffer_;
    std::atomic<int64_t> seekTarget_{-1};
    // A seek the prefetch thread has carried out is published as a
    // sequence: generation made odd, then the ring index where the new
    // frames begin and their file frame, then generation made even. A reader
    // that sees an odd or changing generation waits for the next block.
    std::atomic<int64_t> seekGeneration_{0};
    std::atomic<int64_t> seekReadStart_{0};
    std::atomic<int64_t> seekFrame_{0};
    int64_t lastSeenGeneration_ = 0;
    std::atomic<int64_t> deliveredPosition_{0};
};
