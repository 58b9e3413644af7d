// The ring writer thread: waits for a take, copies the recording ring from
// the take's first frame (its pre-roll included) into the take files in
// chunks, fades the take out at its end position, closes it and returns the
// writer state to Idle.
//
// Threads: this file's loop runs only on the ring writer thread. It reads the
// ring below the write position it loaded (acquire), the take members the
// start published before takeActive_, and the end position the GUI thread's
// stop sets at any time; the write position and the end are read together
// under takeEndMutex_, which the stop holds while it sets the end. It never
// waits for the render callback: with nothing to copy it sleeps a millisecond.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"
#include "platform/thread/ThreadServiceClass.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr uint64_t kChunkFrames = 4096;
constexpr uint64_t kFadeFrames = 64;
constexpr std::chrono::milliseconds kNothingToCopySleep{1};

// The frames of an interleaved block get the gains 1, 1 - 1/F, ..., 1/F:
// no frame is set to exactly zero.
void fadeOut(float* samples, uint64_t frames, size_t channels)
{
    for (uint64_t k = 0; k < frames; ++k) {
        const float gain = 1.0f - static_cast<float>(k) / static_cast<float>(frames);
        float* frame = samples + k * channels;
        for (size_t c = 0; c < channels; ++c)
            frame[c] *= gain;
    }
}

// The next chunk once the ring holds the end, `remaining` frames ahead. The
// last kFadeFrames frames of the take always go out as one final chunk, the
// faded one, whatever the chunk boundaries and the writer's progress were (a
// take shorter than that is faded whole).
uint64_t chunkBeforeEnd(uint64_t remaining)
{
    return remaining <= kFadeFrames ? remaining : std::min(kChunkFrames, remaining - kFadeFrames);
}

// What one take copies: the ring columns in file order, and how wide one
// frame of the polyphonic file is.
struct TakeColumns {
    bool polyphonic = false;
    std::vector<int> polyColumns; // ring columns of the polyphonic file, in channel order
    size_t width = 1;             // channels of the interleave buffer
};

// Copies `frames` ring frames from position `from` of `column` into dest
// with a stride of `stride` floats.
void copyColumn(const float* ring, uint64_t capacity, uint64_t from, uint64_t frames, int column, float* dest,
                size_t stride)
{
    uint64_t row = from % capacity;
    for (uint64_t k = 0; k < frames; ++k) {
        dest[k * stride] = ring[row * AudioEngine_CoreAudio::kRingFrameFloats + static_cast<size_t>(column)];
        if (++row == capacity)
            row = 0;
    }
}

}  // namespace

void AudioEngine_CoreAudio::startRingWriter()
{
    ringWriterRunning_.store(true, std::memory_order_release);
    ringWriterThread_ = std::thread([this] { ringWriterThreadFunc(); });
}

void AudioEngine_CoreAudio::stopRingWriter()
{
    {
        std::lock_guard<std::mutex> lock(ringWriterMutex_);
        ringWriterRunning_.store(false, std::memory_order_release);
        takeActive_.store(false, std::memory_order_release);
    }
    ringWriterCondition_.notify_all();
    if (ringWriterThread_.joinable())
        ringWriterThread_.join();
}

void AudioEngine_CoreAudio::ringWriterThreadFunc()
{
    // Disk writes must keep pace with recording; where the thread may not be
    // raised, the ring's slack is all it has, and the log says so.
    std::string refused;
    if (!setCurrentThreadServiceClass(ThreadServiceClass::UserInitiated, 0, refused))
        debugLog("CoreAudio: WARNING - Ring writer thread keeps its default priority: " + refused);
    debugLog("CoreAudio: Ring writer thread started");
    while (ringWriterRunning_.load(std::memory_order_acquire)) {
        {
            std::unique_lock<std::mutex> lock(ringWriterMutex_);
            ringWriterCondition_.wait(lock, [this] {
                return takeActive_.load(std::memory_order_acquire) || !ringWriterRunning_.load(std::memory_order_acquire);
            });
        }
        if (!ringWriterRunning_.load(std::memory_order_acquire))
            break;
        if (!takeActive_.load(std::memory_order_acquire))
            continue;
        debugLog("CoreAudio: Ring writer thread starting drain");
        writeTake();
    }
    debugLog("CoreAudio: Ring writer thread exiting");
}

void AudioEngine_CoreAudio::writeTake()
{
    TakeColumns columns;
    columns.polyphonic = polyWriter_ && polyWriter_->isOpen();
    if (!takeSettings_.takeNoMix)
        columns.polyColumns.push_back(0);
    for (size_t t = 0; t < kMaxTracks; ++t) {
        if (armedAtStart_[t])
            columns.polyColumns.push_back(1 + static_cast<int>(t));
    }
    columns.width = columns.polyphonic ? std::max<size_t>(columns.polyColumns.size(), 1) : 1;
    // Dropped frames are counted in samples of the polyphonic file's
    // channels; a mono take counts frames.
    const int64_t droppedPerFrame = columns.polyphonic ? static_cast<int64_t>(columns.width) : 1;
    std::vector<float> interleave(columns.width * kChunkFrames, 0.0f);
    // A mono take's chunk is copied for every file before any file is
    // written, so a slow write cannot hold a copy back until the render
    // callback overwrites what it still has to read.
    std::vector<float> monoChunks(std::max<size_t>(monoWriters_.size(), 1) * kChunkFrames, 0.0f);

    bool channelMismatch = columns.polyphonic && static_cast<size_t>(polyWriter_->channels()) != columns.width;
    if (channelMismatch) {
        debugLog("CoreAudio: ERROR - Polyphonic file has " + std::to_string(polyWriter_->channels())
                 + " channels but the take carries " + std::to_string(columns.width));
        writeErrorCount_.fetch_add(1, std::memory_order_relaxed);
    }

    const uint64_t capacity = static_cast<uint64_t>(recordingRingCapacityFrames_);
    // Beyond this lag the render callback may overwrite a chunk while it is
    // being copied (a chunk, a block being written and one more): the writer
    // skips ahead before it gets there instead of copying newer audio into
    // older take positions.
    const uint64_t safeLag = capacity - std::min(capacity / 2, kChunkFrames + 2 * uint64_t{kMaxBlockFrames});
    const float* ring = recordingRing_.get();
    uint64_t readPosition = takeStartPosition_.load(std::memory_order_acquire);
    ringWriterReadPosition_.store(readPosition, std::memory_order_release);

    while (!channelMismatch && takeActive_.load(std::memory_order_acquire)
           && ringWriterRunning_.load(std::memory_order_acquire)) {
        if (ringWriterHeldForTest_.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(kNothingToCopySleep);
            continue;
        }
        uint64_t writePosition = 0;
        bool hasEnd = false;
        uint64_t endPosition = 0;
        {
            // A stop reads the write position and sets the end under this
            // lock, so no position seen here is newer than an end not seen.
            std::lock_guard<std::mutex> lock(takeEndMutex_);
            writePosition = recordingRingWritePosition_.load(std::memory_order_acquire);
            hasEnd = takeHasEnd_.load(std::memory_order_acquire);
            endPosition = takeEndPosition_.load(std::memory_order_acquire);
        }
        const uint64_t lag = writePosition - readPosition;
        if (lag > ringWriterLargestLag_.load(std::memory_order_relaxed))
            ringWriterLargestLag_.store(lag, std::memory_order_relaxed);

        if (lag > safeLag) {
            // The oldest frames are overwritten: resume half a ring behind.
            const uint64_t keep = capacity / 2;
            const uint64_t lost = writePosition - keep - readPosition;
            droppedRingSamples_.fetch_add(static_cast<int64_t>(lost) * droppedPerFrame, std::memory_order_relaxed);
            debugLog("CoreAudio: WARNING - Ring writer fell behind! Skipping ahead. Lost " + std::to_string(lost)
                     + " frames");
            readPosition = writePosition - keep;
            ringWriterReadPosition_.store(readPosition, std::memory_order_release);
        }
        if (hasEnd && readPosition >= endPosition) {
            debugLog("CoreAudio: Ring writer reached end position, finishing");
            break;
        }
        // Until the ring holds the end, the newest frames stay in the ring:
        // they may become the take's faded tail, since an end still ahead
        // (a post-roll) can be cut short to the moment of the cut.
        const bool endInRing = hasEnd && endPosition <= writePosition;
        const uint64_t available = writePosition - readPosition;
        const uint64_t frames =
            endInRing ? chunkBeforeEnd(endPosition - readPosition)
                      : std::min(available > kFadeFrames ? available - kFadeFrames : 0, kChunkFrames);
        if (frames == 0) {
            std::this_thread::sleep_for(kNothingToCopySleep);
            continue;
        }
        const uint64_t next = readPosition + frames;
        // The final chunk is the take's last kFadeFrames frames (or fewer):
        // it is faded whole.
        const bool lastChunk = hasEnd && endPosition <= next;

        if (columns.polyphonic) {
            for (size_t c = 0; c < columns.polyColumns.size(); ++c)
                copyColumn(ring, capacity, readPosition, frames, columns.polyColumns[c], interleave.data() + c,
                           columns.width);
        } else {
            for (size_t x = 0; x < monoWriters_.size(); ++x) {
                const int track = monoWriterTracks_[x];
                copyColumn(ring, capacity, readPosition, frames, track < 0 ? 0 : 1 + track,
                           monoChunks.data() + x * kChunkFrames, 1);
            }
        }
        // The writer was descheduled long enough for the device to come
        // round to this chunk: what was copied may mix in newer audio. It is
        // not written; the next pass skips ahead and counts it as lost.
        if (recordingRingWritePosition_.load(std::memory_order_acquire) + kMaxBlockFrames > readPosition + capacity)
            continue;

        bool written = true;
        if (columns.polyphonic) {
            if (lastChunk) {
                fadeOut(interleave.data(), frames, columns.width);
                debugLog("CoreAudio: Applied " + std::to_string(frames) + "-sample fade-out (polyphonic)");
            }
            written = polyWriter_->writeFrames(interleave.data(), static_cast<int64_t>(frames));
            if (!written)
                debugLog("CoreAudio: ERROR - Ring writer failed to write polyphonic data");
        } else {
            for (size_t x = 0; x < monoWriters_.size() && written; ++x) {
                const int track = monoWriterTracks_[x];
                float* chunk = monoChunks.data() + x * kChunkFrames;
                if (lastChunk)
                    fadeOut(chunk, frames, 1);
                written = monoWriters_[x]->writeFrames(chunk, static_cast<int64_t>(frames));
                if (!written)
                    debugLog(track < 0 ? std::string("CoreAudio: ERROR - Ring writer failed to write mono mix")
                                       : "CoreAudio: ERROR - Ring writer failed to write mono track "
                                             + std::to_string(track));
            }
            if (written && lastChunk && !monoWriters_.empty())
                debugLog("CoreAudio: Applied " + std::to_string(frames) + "-sample fade-out (monophonic)");
        }
        if (!written) {
            // The take ends here; what is already in the files stays.
            writeErrorCount_.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        writeLateArmChunk(readPosition, next);
        readPosition = next;
        ringWriterReadPosition_.store(readPosition, std::memory_order_release);
    }

    writerState_.store(WriterState::Finalizing, std::memory_order_release);
    takeActive_.store(false, std::memory_order_release);
    postrollPending_.store(false, std::memory_order_release);
    debugLog("CoreAudio: Ring writer drain complete, closing files");
    closeRecordingFiles();
    resumeCopyQueue();
    {
        std::lock_guard<std::mutex> lock(writerIdleMutex_);
        writerState_.store(WriterState::Idle, std::memory_order_release);
    }
    writerIdleCondition_.notify_all();
    debugLog("CoreAudio: Ring writer finished recording");
}

uint64_t AudioEngine_CoreAudio::getRingWriterReadPosition() const
{
    return ringWriterReadPosition_.load(std::memory_order_acquire);
}

uint64_t AudioEngine_CoreAudio::getRingWriterLargestLagFrames() const
{
    return ringWriterLargestLag_.load(std::memory_order_relaxed);
}

int64_t AudioEngine_CoreAudio::getTakeFrameCount() const
{
    return takeFrameCounters_[0].load(std::memory_order_relaxed);
}
