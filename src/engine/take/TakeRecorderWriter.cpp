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
#include "engine/take/TakeRecorder.h"

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

// Copies `frames` ring frames from position `from` of `column` into dest
// with a stride of `stride` floats, one contiguous run of rows at a time.
void copyColumn(const RecordingRing& ring, uint64_t from, uint64_t frames, int column, float* dest, size_t stride)
{
    const size_t rowFloats = ring.channels();
    uint64_t done = 0;
    while (done < frames) {
        const uint64_t run = std::min(frames - done, ring.contiguousFramesAt(from + done));
        const float* source = ring.frameAt(from + done) + static_cast<size_t>(column);
        float* target = dest + done * stride;
        for (uint64_t k = 0; k < run; ++k)
            target[k * stride] = source[k * rowFloats];
        done += run;
    }
}

}  // namespace

// What one take copies: the ring columns in file order, how wide one frame
// of the polyphonic file is, and the chunk buffers (allocated once per take,
// on this thread).
struct TakeRecorder::TakeCopyPlan {
    bool polyphonic = false;
    std::vector<int> polyColumns;  // ring columns of the polyphonic file, in channel order
    size_t width = 1;              // channels of the interleave buffer
    bool channelMismatch = false;  // the polyphonic file was opened with another width
    std::vector<float> interleave;
    // A mono take's chunk is copied for every file before any file is
    // written, so a slow write cannot hold a copy back until the render
    // callback overwrites what it still has to read.
    std::vector<float> monoChunks;
};

void TakeRecorder::startRingWriter(std::shared_ptr<const RecordingRing> ring)
{
    ring_ = std::move(ring);
    ringWriterRunning_.store(true, std::memory_order_release);
    ringWriterThread_ = std::thread([this] { ringWriterThreadFunc(); });
}

void TakeRecorder::stopRingWriter()
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

void TakeRecorder::ringWriterThreadFunc()
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

// One take, as named steps: plan the copy, then chunk by chunk read the
// bounds, skip what the ring has overwritten, stop at the end, copy, check
// the copy was not overtaken, write; then finish the take.
void TakeRecorder::writeTake()
{
    TakeCopyPlan plan = planTakeCopy();
    uint64_t readPosition = takeStartPosition_.load(std::memory_order_acquire);
    ringWriterReadPosition_.store(readPosition, std::memory_order_release);

    while (!plan.channelMismatch && takeActive_.load(std::memory_order_acquire)
           && ringWriterRunning_.load(std::memory_order_acquire)) {
        if (ringWriterHeldForTest_.load(std::memory_order_acquire)) {
            std::this_thread::sleep_for(kNothingToCopySleep);
            continue;
        }
        const RingBounds bounds = readRingBounds();
        noteLag(bounds.writePosition - readPosition);
        readPosition = skipOverwrittenFrames(bounds, readPosition);
        if (bounds.hasEnd && readPosition >= bounds.endPosition) {
            debugLog("CoreAudio: Ring writer reached end position, finishing");
            break;
        }
        // Until the ring holds the end, the newest frames stay in the ring:
        // they may become the take's faded tail, since an end still ahead
        // (a post-roll) can be cut short to the moment of the cut.
        const bool endInRing = bounds.hasEnd && bounds.endPosition <= bounds.writePosition;
        const uint64_t available = bounds.writePosition - readPosition;
        const uint64_t frames =
            endInRing ? chunkBeforeEnd(bounds.endPosition - readPosition)
                      : std::min(available > kFadeFrames ? available - kFadeFrames : 0, kChunkFrames);
        if (frames == 0) {
            std::this_thread::sleep_for(kNothingToCopySleep);
            continue;
        }
        const uint64_t next = readPosition + frames;
        // The final chunk is the take's last kFadeFrames frames (or fewer):
        // it is faded whole.
        const bool lastChunk = bounds.hasEnd && bounds.endPosition <= next;

        copyChunk(plan, readPosition, frames);
        // The writer was descheduled long enough for the device to come
        // round to this chunk: what was copied may mix in newer audio. It is
        // not written; the next pass skips ahead and counts it as lost.
        if (ring_->wasOverwritten(readPosition, kMaxBlockFrames))
            continue;
        if (!writeChunk(plan, frames, lastChunk)) {
            // The take ends here; what is already in the files stays.
            writeErrorCount_.fetch_add(1, std::memory_order_relaxed);
            break;
        }
        writeLateArmChunk(readPosition, next);
        readPosition = next;
        ringWriterReadPosition_.store(readPosition, std::memory_order_release);
    }
    finishTake();
}

TakeRecorder::TakeCopyPlan TakeRecorder::planTakeCopy()
{
    TakeCopyPlan plan;
    plan.polyphonic = polyWriter_ && polyWriter_->isOpen();
    if (!takeSettings_.takeNoMix)
        plan.polyColumns.push_back(0);
    for (size_t t = 0; t < kMaxTracks; ++t) {
        if (armedAtStart_[t])
            plan.polyColumns.push_back(1 + static_cast<int>(t));
    }
    plan.width = plan.polyphonic ? std::max<size_t>(plan.polyColumns.size(), 1) : 1;
    plan.interleave.assign(plan.width * kChunkFrames, 0.0f);
    plan.monoChunks.assign(std::max<size_t>(monoWriters_.size(), 1) * kChunkFrames, 0.0f);
    plan.channelMismatch = plan.polyphonic && static_cast<size_t>(polyWriter_->channels()) != plan.width;
    if (plan.channelMismatch) {
        debugLog("CoreAudio: ERROR - Polyphonic file has " + std::to_string(polyWriter_->channels())
                 + " channels but the take carries " + std::to_string(plan.width));
        writeErrorCount_.fetch_add(1, std::memory_order_relaxed);
    }
    return plan;
}

TakeRecorder::RingBounds TakeRecorder::readRingBounds()
{
    // A stop reads the write position and sets the end under this lock, so
    // no position seen here is newer than an end not seen.
    std::lock_guard<std::mutex> lock(takeEndMutex_);
    RingBounds bounds;
    bounds.writePosition = ring_->writePosition();
    bounds.hasEnd = takeHasEnd_.load(std::memory_order_acquire);
    bounds.endPosition = takeEndPosition_.load(std::memory_order_acquire);
    return bounds;
}

void TakeRecorder::noteLag(uint64_t lag)
{
    if (lag > ringWriterLargestLag_.load(std::memory_order_relaxed))
        ringWriterLargestLag_.store(lag, std::memory_order_relaxed);
}

// Beyond a safe lag the render callback may overwrite a chunk while it is
// being copied (a chunk, a block being written and one more): the writer
// skips ahead before it gets there, to half a ring behind, instead of copying
// newer audio into older take positions. Returns the new read position.
uint64_t TakeRecorder::skipOverwrittenFrames(const RingBounds& bounds, uint64_t readPosition)
{
    const uint64_t capacity = ring_->capacityFrames();
    const uint64_t safeLag = capacity - std::min(capacity / 2, kChunkFrames + 2 * kMaxBlockFrames);
    if (bounds.writePosition - readPosition <= safeLag)
        return readPosition;
    const uint64_t keep = capacity / 2;
    const uint64_t lost = bounds.writePosition - keep - readPosition;
    droppedRingFrames_.fetch_add(static_cast<int64_t>(lost), std::memory_order_relaxed);
    debugLog("CoreAudio: WARNING - Ring writer fell behind! Skipping ahead. Lost " + std::to_string(lost) + " frames");
    const uint64_t resumed = bounds.writePosition - keep;
    ringWriterReadPosition_.store(resumed, std::memory_order_release);
    return resumed;
}

void TakeRecorder::copyChunk(TakeCopyPlan& plan, uint64_t readPosition, uint64_t frames) const
{
    if (plan.polyphonic) {
        for (size_t c = 0; c < plan.polyColumns.size(); ++c)
            copyColumn(*ring_, readPosition, frames, plan.polyColumns[c], plan.interleave.data() + c, plan.width);
        return;
    }
    for (size_t x = 0; x < monoWriters_.size(); ++x) {
        const int track = monoWriterTracks_[x];
        copyColumn(*ring_, readPosition, frames, track < 0 ? 0 : 1 + track, plan.monoChunks.data() + x * kChunkFrames,
                   1);
    }
}

// Writes the copied chunk to every file of the take, the last one faded.
// False (logged) at the first file that refuses it.
bool TakeRecorder::writeChunk(TakeCopyPlan& plan, uint64_t frames, bool lastChunk)
{
    if (plan.polyphonic) {
        if (lastChunk) {
            fadeOut(plan.interleave.data(), frames, plan.width);
            debugLog("CoreAudio: Applied " + std::to_string(frames) + "-sample fade-out (polyphonic)");
        }
        if (polyWriter_->writeFrames(plan.interleave.data(), static_cast<int64_t>(frames)))
            return true;
        debugLog("CoreAudio: ERROR - Ring writer failed to write polyphonic data");
        return false;
    }
    for (size_t x = 0; x < monoWriters_.size(); ++x) {
        const int track = monoWriterTracks_[x];
        float* chunk = plan.monoChunks.data() + x * kChunkFrames;
        if (lastChunk)
            fadeOut(chunk, frames, 1);
        if (!monoWriters_[x]->writeFrames(chunk, static_cast<int64_t>(frames))) {
            debugLog(track < 0 ? std::string("CoreAudio: ERROR - Ring writer failed to write mono mix")
                               : "CoreAudio: ERROR - Ring writer failed to write mono track " + std::to_string(track));
            return false;
        }
    }
    if (lastChunk && !monoWriters_.empty())
        debugLog("CoreAudio: Applied " + std::to_string(frames) + "-sample fade-out (monophonic)");
    return true;
}

// Finalizing, the files closed, then Idle announced to its waiters.
void TakeRecorder::finishTake()
{
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
