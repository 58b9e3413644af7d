#include "media/AsyncDiskWriter.h"

#include "core/DebugLog.h"
#include "media/BwfFileWriter.h"

#include <chrono>
#include <cstdio>

namespace {

constexpr uint64_t kBytesPerSlotSample = 8;
constexpr uint64_t kMinRingBytes = 4'194'304;       // 4 MiB
constexpr uint64_t kMinRingBytesThreshold = 4'194'312;
constexpr uint64_t kMaxRingBytes = 67'108'864;      // 64 MiB
constexpr int kBlocksPerPass = 1000;
constexpr int kFlushPasses = 500;
constexpr int kLoggedWriteErrors = 5;
constexpr auto kWaitForData = std::chrono::milliseconds(10);
constexpr float kDefaultSeconds = 5.0f;
constexpr int kDefaultSampleRate = 48000;
constexpr int kDefaultMaxChannels = 32;
constexpr int kDefaultFramesPerBlock = 4096;

std::atomic<bool> gInvalidWriterLogged{false};
std::atomic<bool> gReadBufferTooSmallLogged{false};

bool isWriterId(int id)
{
    return id >= 0 && id < AsyncDiskWriter::kMaxWriters;
}

} // namespace

AsyncDiskWriter::AsyncDiskWriter() = default;

AsyncDiskWriter::~AsyncDiskWriter()
{
    stop(false);
}

void AsyncDiskWriter::initialize(float seconds, int sampleRate, int maxChannels, int maxFramesPerBlock)
{
    sampleRate_ = sampleRate;
    maxChannels_ = maxChannels;
    const double slotSamples = double(seconds) * maxChannels * sampleRate;
    uint64_t bytes = slotSamples > 0.0 ? static_cast<uint64_t>(std::min(slotSamples, 1e15)) * kBytesPerSlotSample : 0;
    if (bytes < kMinRingBytesThreshold)
        bytes = kMinRingBytes;
    bytes = std::min(bytes, kMaxRingBytes);
    ring_ = std::make_unique<AudioRingBuffer>(bytes / sizeof(uint32_t) + 1);
    const int64_t readFloats = int64_t{std::max(maxChannels, 0)} * std::max(maxFramesPerBlock, 0);
    readBuffer_.assign(static_cast<size_t>(readFloats), 0.0f);
    debugLog("AsyncDiskWriter initialized: " + std::to_string(bytes / 1'048'576) + "MB buffer, " +
             std::to_string(sampleRate) + "Hz, " + std::to_string(maxChannels) + " max channels, " +
             std::to_string(maxFramesPerBlock) + " max frames/block, readBuffer=" +
             std::to_string(readBuffer_.size()) + " floats");
}

bool AsyncDiskWriter::hasWriterErrors(const std::vector<int>& ids) const
{
    for (const int id : ids) {
        if (hasWriterError(id))
            return true;
    }
    return false;
}

bool AsyncDiskWriter::hasWriterError(int id) const
{
    return isWriterId(id) && writerError_[static_cast<size_t>(id)].load(std::memory_order_relaxed);
}

void AsyncDiskWriter::clearWriterErrors(const std::vector<int>& ids)
{
    for (const int id : ids) {
        if (isWriterId(id))
            writerError_[static_cast<size_t>(id)].store(false, std::memory_order_relaxed);
    }
}

int AsyncDiskWriter::registerWriter(BwfFileWriter* writer)
{
    const int id = writerCount_.fetch_add(1);
    if (id >= kMaxWriters) {
        writerCount_.fetch_sub(1);
        debugLog("AsyncDiskWriter: Maximum writers exceeded");
        return -1;
    }
    // Release: a producer that sees the pointer sees the writer it points to.
    writers_[static_cast<size_t>(id)].store(writer, std::memory_order_release);
    return id;
}

void AsyncDiskWriter::unregisterWriter(int id)
{
    if (!isWriterId(id))
        return;
    const std::lock_guard<std::mutex> lock(slotMutex_);
    writers_[static_cast<size_t>(id)].store(nullptr, std::memory_order_release);
}

void AsyncDiskWriter::clearWriters()
{
    const std::lock_guard<std::mutex> lock(slotMutex_);
    for (auto& slot : writers_)
        slot.store(nullptr, std::memory_order_release);
    writerCount_.store(0);
    for (auto& flag : writerError_)
        flag.store(false, std::memory_order_relaxed);
}

void AsyncDiskWriter::start()
{
    if (running_.load(std::memory_order_acquire))
        return;
    if (!ring_)
        initialize(kDefaultSeconds, kDefaultSampleRate, kDefaultMaxChannels, kDefaultFramesPerBlock);
    stopRequested_.store(false);
    droppedSamples_.store(0);
    ring_->reset();
    thread_ = std::thread(&AsyncDiskWriter::threadMain, this);
    // Release: a producer that sees running sees the ring and its indexes.
    running_.store(true, std::memory_order_release);
    debugLog("AsyncDiskWriter started");
}

void AsyncDiskWriter::stop(bool flush)
{
    if (!running_.load(std::memory_order_acquire))
        return;
    // Refuse new blocks first, so nothing arrives after the leftovers are counted.
    running_.store(false, std::memory_order_release);
    flushOnStop_.store(flush);
    {
        const std::lock_guard<std::mutex> lock(wakeMutex_);
        stopRequested_.store(true);
    }
    wake_.notify_all();
    thread_.join();
    countDropped(ring_->discardAll());
    const int64_t dropped = getDroppedSamples();
    debugLog(dropped > 0 ? "AsyncDiskWriter stopped. Dropped samples: " + std::to_string(dropped)
                         : std::string("AsyncDiskWriter stopped. No samples dropped."));
}

bool AsyncDiskWriter::pushSamples(int writerId, const float* samples, int frames, int channels)
{
    if (!running_.load(std::memory_order_acquire) || !isWriterId(writerId) ||
        !writers_[static_cast<size_t>(writerId)].load(std::memory_order_acquire))
        return false;
    if (frames < 1 || channels < 1 || !samples)
        return false;
    // A block the writer thread could not take would be lost there; refuse
    // it here, where the producer learns of it.
    if (int64_t{frames} * channels > static_cast<int64_t>(readBuffer_.size())) {
        countDropped(frames);
        return false;
    }
    if (!ring_->pushBlock(writerId, samples, frames, channels)) {
        countDropped(frames);
        std::unique_lock<std::mutex> lock(callbackMutex_, std::try_to_lock);
        if (lock.owns_lock() && overflowCallback_)
            overflowCallback_(frames);
        return false;
    }
    std::unique_lock<std::mutex> lock(wakeMutex_, std::try_to_lock);
    if (lock.owns_lock())
        wake_.notify_one();
    return true;
}

bool AsyncDiskWriter::pushSamplesToWriters(const std::vector<int>& writerIds, const float* samples, int frames,
                                           int channels)
{
    bool all = true;
    for (const int id : writerIds)
        all = pushSamples(id, samples, frames, channels) && all;
    return all;
}

void AsyncDiskWriter::setOverflowCallback(std::function<void(int)> callback)
{
    const std::lock_guard<std::mutex> lock(callbackMutex_);
    overflowCallback_ = std::move(callback);
}

float AsyncDiskWriter::getBufferFillLevel() const
{
    if (!ring_)
        return 0.0f;
    return static_cast<float>(double(ring_->usedWords()) / double(ring_->capacityWords() - 1));
}

void AsyncDiskWriter::threadMain()
{
    debugLog("AsyncDiskWriter thread started");
    int flushPasses = 0;
    for (;;) {
        const bool stopping = stopRequested_.load();
        if (stopping && (!flushOnStop_.load() || !ringHoldsData()))
            break;
        {
            std::unique_lock<std::mutex> lock(wakeMutex_);
            wake_.wait_for(lock, kWaitForData, [this] { return stopRequested_.load() || ringHoldsData(); });
        }
        if (stopRequested_.load() && !flushOnStop_.load()) {
            debugLog("AsyncDiskWriter: Stop requested, exiting");
            break;
        }
        if (stopRequested_.load() && ++flushPasses >= kFlushPasses) {
            debugLog("WARNING: AsyncDiskWriter forced exit after " + std::to_string(kFlushPasses) +
                     " iterations. Data in buffer: " + (ringHoldsData() ? "yes" : "no"));
            break;
        }
        if (!processRing())
            debugLog("WARNING: AsyncDiskWriter processBuffer hit max iterations limit");
        if (stopRequested_.load() && flushOnStop_.load() && !ringHoldsData()) {
            debugLog("AsyncDiskWriter: Flush complete, exiting");
            break;
        }
    }
    debugLog("AsyncDiskWriter thread finished");
}

bool AsyncDiskWriter::processRing()
{
    for (int blocks = 0; blocks < kBlocksPerPass; ++blocks) {
        AudioRingBuffer::BlockHeader header;
        const AudioRingBuffer::Take taken = ring_->takeBlock(readBuffer_.data(), readBuffer_.size(), header);
        if (taken == AudioRingBuffer::Take::None)
            return true;
        if (taken == AudioRingBuffer::Take::Skipped) {
            if (!gReadBufferTooSmallLogged.exchange(true)) {
                std::fprintf(stderr,
                             "ERROR: AudioRingBuffer read buffer too small! Block: %d samples \u00d7 %d ch = %d floats, "
                             "but readBuffer only %d floats. Increase maxChannels in AsyncDiskWriter::initialize().\n",
                             header.frames, header.channels, header.frames * header.channels,
                             static_cast<int>(readBuffer_.size()));
            }
            countDropped(header.frames);
            continue;
        }
        writeBlock(header);
    }
    return !ringHoldsData();
}

void AsyncDiskWriter::flagWriteError(int id)
{
    writerError_[static_cast<size_t>(id)].store(true, std::memory_order_relaxed);
}

void AsyncDiskWriter::writeBlock(const AudioRingBuffer::BlockHeader& header)
{
    const int id = header.writerId;
    const std::lock_guard<std::mutex> lock(slotMutex_);
    BwfFileWriter* writer = isWriterId(id) ? writers_[static_cast<size_t>(id)].load(std::memory_order_acquire) : nullptr;
    if (!writer) {
        if (!gInvalidWriterLogged.exchange(true)) {
            debugLog("ERROR: AsyncDiskWriter invalid writer! WriterId=" + std::to_string(id) +
                     " (writerId out of range or null pointer)");
        }
        countDropped(header.frames);
        return;
    }
    if (!writer->isOpen()) {
        const int64_t errors = writeErrors_.fetch_add(1) + 1;
        flagWriteError(id);
        if (errors <= kLoggedWriteErrors) {
            debugLog("ERROR: AsyncDiskWriter file not open! WriterId=" + std::to_string(id) +
                     " errorCount=" + std::to_string(errors) + " (drive removed or file closed?)");
        }
        return;
    }
    // The writer takes frames of its own channel count; a block of another
    // width would be read past its end or land misaligned in the file.
    const bool written = header.channels == writer->channels() &&
                         writer->writeFrames(readBuffer_.data(), header.frames);
    if (!written) {
        const int64_t errors = writeErrors_.fetch_add(1) + 1;
        flagWriteError(id);
        if (errors <= kLoggedWriteErrors) {
            debugLog("ERROR: AsyncDiskWriter write failed! WriterId=" + std::to_string(id) +
                     " numSamples=" + std::to_string(header.frames) + " numChannels=" +
                     std::to_string(header.channels) + " errorCount=" + std::to_string(errors));
        }
    }
}
