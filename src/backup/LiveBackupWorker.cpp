#include "backup/LiveBackupWorker.h"

#include "core/DebugLog.h"
#include "media/ChannelMerge.h"
#include "media/PortableFileName.h"
#include "platform/thread/ThreadServiceClass.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kChunkFrames = 1024;
constexpr uint64_t kFadeFrames = 64;
constexpr auto kStopWait = std::chrono::seconds(2);
constexpr auto kNothingToCopySleep = std::chrono::milliseconds(1);

std::atomic<uint64_t> livePartialCounter{0};

std::string makeLivePartialPath(const std::string& finalPath)
{
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch().count();
    return finalPath + "." + std::to_string(static_cast<long long>(ticks)) + "."
           + std::to_string(livePartialCounter.fetch_add(1)) + ".tonvale.partial";
}

std::string twoDigits(int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    return text;
}

// The volume and the folder of a drive root: an unmounted drive leaves an
// empty mount point (another volume), a replaced root another folder.
bool identityOf(const std::string& path, uint64_t& device, uint64_t& inode)
{
    struct stat info{};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode))
        return false;
    device = static_cast<uint64_t>(info.st_dev);
    inode = static_cast<uint64_t>(info.st_ino);
    return true;
}

// The drive is still the one the worker was made for.
bool driveStillThere(const LiveBackupWorker::State& state)
{
    uint64_t device = 0;
    uint64_t inode = 0;
    return state.rootKnown && identityOf(state.rootPath, device, inode) && device == state.rootDevice
           && inode == state.rootInode;
}

void removeQuietly(const std::string& path)
{
    std::error_code ignored;
    fs::remove(path, ignored);
}

// One file being written during one take.
struct LivePartialFile {
    std::string finalPath;
    std::string partialPath;
    std::string suffix;  // after the base name; empty for a late poly partial
    std::unique_ptr<BwfFileWriter> writer;
    std::vector<int> columns;
    uint64_t startFrame = 0;
    int track = -1;
    int64_t framesWritten = 0;
};

void fadeOut(float* samples, uint64_t frames, size_t channels)
{
    const uint64_t m = std::min(frames, kFadeFrames);
    for (uint64_t k = 0; k < m; ++k) {
        const float gain = 1.0f - static_cast<float>(k) / static_cast<float>(m);
        float* frame = samples + (frames - m + k) * channels;
        for (size_t c = 0; c < channels; ++c)
            frame[c] *= gain;
    }
}

class TakeCopy {
public:
    TakeCopy(LiveBackupWorker::State& state, LiveBackupWorker::TakeDescriptor& take, std::string& reason)
        : state_(state), take_(take), control_(*take.control), ring_(*take.ring), reason_(reason)
    {
    }
    ~TakeCopy() { removePartials(); }

    bool run();

private:
    bool fail(const std::string& reason)
    {
        if (reason_.empty())
            reason_ = reason;
        return false;
    }
    bool cancelled() const { return control_.cancelPublication.load(std::memory_order_acquire); }
    bool openFile(LivePartialFile& file, const std::string& finalPath, int channels, std::vector<std::string> names,
                  uint64_t timeReferenceOffset);
    bool openTakeFiles();
    bool openLateFiles(uint64_t chunkEnd);
    bool copy(uint64_t& endFrame);
    bool writeFile(LivePartialFile& file, uint64_t from, uint64_t chunkEnd, bool lastChunk, const char* overwritten,
                   const char* writeFailed);
    void applyFinalBaseName();
    bool publishMono(uint64_t takeFrames, uint64_t endFrame);
    bool publishPoly(uint64_t takeFrames);
    bool publish(const std::string& partialPath, const std::string& finalPath);
    void removePartials();

    LiveBackupWorker::State& state_;
    LiveBackupWorker::TakeDescriptor& take_;
    LiveBackupWorker::TakeControl& control_;
    const RecordingRing& ring_;
    std::string& reason_;
    std::vector<LivePartialFile> files_;
    std::vector<LivePartialFile> lateFiles_;
    std::array<bool, LiveBackupWorker::kMaxTracks> hasLateFile_{};
    std::vector<float> gather_;
    std::vector<std::string> published_;
};

bool TakeCopy::openFile(LivePartialFile& file, const std::string& finalPath, int channels,
                        std::vector<std::string> names, uint64_t timeReferenceOffset)
{
    file.finalPath = finalPath;
    file.partialPath = makeLivePartialPath(finalPath);
    file.writer = std::make_unique<BwfFileWriter>();
    BwfFileWriter::BextChunk bext = take_.bext;
    bext.trackNames = std::move(names);
    bext.timeReference += timeReferenceOffset;
    file.writer->setBextChunk(bext);
    if (!file.writer->open(file.partialPath, take_.sampleRate, channels, take_.sampleFormat,
                           BwfFileWriter::OpenMode::CreateNew)) {
        file.writer.reset();
        return fail("Failed to open live backup partial " + file.partialPath);
    }
    return true;
}

bool TakeCopy::openTakeFiles()
{
    const std::string base = take_.destinationDir + "/" + take_.baseName;
    if (take_.layout != 0) {
        if (!take_.noMix) {
            LivePartialFile mix;
            mix.suffix = "_00_MIX.wav";
            mix.columns = {0};
            mix.startFrame = take_.startFrame;
            if (!openFile(mix, base + mix.suffix, 1, {"MIX"}, 0))
                return false;
            files_.push_back(std::move(mix));
        }
        for (int t = 0; t < LiveBackupWorker::kMaxTracks; ++t) {
            if (!take_.armed[static_cast<size_t>(t)])
                continue;
            const std::string& name = take_.trackNames[static_cast<size_t>(t)];
            LivePartialFile file;
            file.suffix = "_" + twoDigits(t + 1) + "_" + sanitizeTrackName(name) + ".wav";
            file.columns = {1 + t};
            file.startFrame = take_.startFrame;
            file.track = t;
            if (!openFile(file, base + file.suffix, 1, {name}, 0))
                return false;
            files_.push_back(std::move(file));
        }
        if (files_.empty())
            return fail("Live mono take has no output tracks");
        gather_.assign(kChunkFrames, 0.0f);
        return true;
    }
    LivePartialFile poly;
    poly.suffix = ".wav";
    poly.startFrame = take_.startFrame;
    std::vector<std::string> names;
    if (!take_.noMix) {
        poly.columns.push_back(0);
        names.emplace_back("MIX");
    }
    for (int t = 0; t < LiveBackupWorker::kMaxTracks; ++t) {
        if (take_.armed[static_cast<size_t>(t)]) {
            poly.columns.push_back(1 + t);
            names.push_back(take_.trackNames[static_cast<size_t>(t)]);
        }
    }
    if (poly.columns.empty())
        return false;  // nothing to record: failed, with no reason to log
    const int channels = static_cast<int>(poly.columns.size());
    if (!openFile(poly, base + poly.suffix, channels, names, 0))
        return false;
    files_.push_back(std::move(poly));
    gather_.assign(kChunkFrames * static_cast<size_t>(channels), 0.0f);
    return true;
}

bool TakeCopy::openLateFiles(uint64_t chunkEnd)
{
    for (int t = 0; t < LiveBackupWorker::kMaxTracks; ++t) {
        const auto index = static_cast<size_t>(t);
        const auto armFrame = static_cast<uint64_t>(control_.armFrames[index].load(std::memory_order_acquire));
        if (armFrame >= chunkEnd || take_.armed[index] || hasLateFile_[index])
            continue;
        hasLateFile_[index] = true;
        const std::string& name = take_.trackNames[index];
        LivePartialFile file;
        file.columns = {1 + t};
        file.startFrame = std::max(armFrame, take_.startFrame);
        file.track = t;
        std::string finalPath;
        if (take_.layout != 0) {
            file.suffix = "_" + twoDigits(t + 1) + "_" + sanitizeTrackName(name) + ".wav";
            finalPath = take_.destinationDir + "/" + take_.baseName + file.suffix;
        } else {
            finalPath = take_.destinationDir + "/." + take_.baseName + ".late." + twoDigits(t + 1) + ".wav";
        }
        if (!openFile(file, finalPath, 1, {name}, file.startFrame - take_.startFrame))
            return false;
        lateFiles_.push_back(std::move(file));
    }
    return true;
}

// Gathers the file's columns for [max(from, its start), chunkEnd) and writes
// them; the ring is checked after the gather so nothing torn is written.
bool TakeCopy::writeFile(LivePartialFile& file, uint64_t from, uint64_t chunkEnd, bool lastChunk,
                         const char* overwritten, const char* writeFailed)
{
    const uint64_t first = std::max(from, file.startFrame);
    if (first >= chunkEnd)
        return true;
    const uint64_t frames = chunkEnd - first;
    const size_t width = file.columns.size();
    for (uint64_t k = 0; k < frames; ++k) {
        const float* row = ring_.frameAt(first + k);
        for (size_t c = 0; c < width; ++c)
            gather_[k * width + c] = row[file.columns[c]];
    }
    if (ring_.writePosition() - first > ring_.capacityFrames())
        return fail(overwritten);
    if (lastChunk)
        fadeOut(gather_.data(), frames, width);
    if (!file.writer->writeFrames(gather_.data(), static_cast<int64_t>(frames)))
        return fail(writeFailed);
    file.framesWritten += static_cast<int64_t>(frames);
    return true;
}

bool TakeCopy::copy(uint64_t& endFrame)
{
    uint64_t r = take_.startFrame;
    const uint64_t capacity = ring_.capacityFrames();
    const bool mono = take_.layout != 0;
    while (true) {
        if (state_.stopRequested.load(std::memory_order_acquire))
            return fail("Live backup stopped during take");
        if (cancelled())
            return true;
        const uint64_t w = ring_.writePosition();
        if (w < r || w - r > capacity)
            return fail("Live backup reader was overwritten (destination too slow)");
        const auto e = static_cast<uint64_t>(std::max<int64_t>(control_.endFrame.load(std::memory_order_acquire), 0));
        endFrame = e;
        if (e != 0 && r >= e)
            return true;
        uint64_t n = w - r;
        if (e != 0)
            n = std::min(n, e - r);
        if (n == 0) {
            std::this_thread::sleep_for(kNothingToCopySleep);
            continue;
        }
        uint64_t c = std::min(n, kChunkFrames);
        // With the end known, no chunk stops short of it by less than the
        // fade: the last chunk carries the whole fade-out, however far this
        // worker lagged, instead of a few frames of it (a click on the backup).
        if (e != 0 && r + c < e && e - (r + c) < kFadeFrames)
            c = e - r > kFadeFrames ? e - kFadeFrames - r : 0;
        if (c == 0) {
            std::this_thread::sleep_for(kNothingToCopySleep);
            continue;
        }
        const uint64_t chunkEnd = r + c;
        const bool lastChunk = e != 0 && chunkEnd == e;
        if (!openLateFiles(chunkEnd))
            return false;
        for (LivePartialFile& file : files_) {
            if (!writeFile(file, r, chunkEnd, lastChunk,
                           mono ? "Live mono reader was overwritten during ring copy"
                                : "Live backup reader was overwritten during ring copy",
                           mono ? "Live mono backup write failed" : "Live poly backup write failed"))
                return false;
        }
        for (LivePartialFile& file : lateFiles_) {
            if (!writeFile(file, r, chunkEnd, lastChunk, "Live late-arm reader was overwritten during ring copy",
                           "Live late-arm backup write failed"))
                return false;
        }
        r = chunkEnd;
    }
}

void TakeCopy::applyFinalBaseName()
{
    std::string finalBaseName;
    {
        std::lock_guard<std::mutex> lock(control_.nameMutex);
        finalBaseName = control_.finalBaseName;
    }
    if (finalBaseName.empty() || finalBaseName == take_.baseName)
        return;
    for (LivePartialFile& file : files_)
        file.finalPath = take_.destinationDir + "/" + finalBaseName + file.suffix;
    if (take_.layout != 0) {
        for (LivePartialFile& file : lateFiles_)
            file.finalPath = take_.destinationDir + "/" + finalBaseName + file.suffix;
    }
}

// rename replaces an existing file in one step; when it fails, whatever is
// at the final path stays as it was.
bool TakeCopy::publish(const std::string& partialPath, const std::string& finalPath)
{
    if (!driveStillThere(state_))
        return fail("Backup drive is no longer mounted: " + state_.rootPath);
    std::error_code error;
    fs::rename(partialPath, finalPath, error);
    if (error)
        return fail("Failed to publish live backup " + finalPath + ": " + error.message());
    published_.push_back(finalPath);
    return true;
}

bool TakeCopy::publishMono(uint64_t takeFrames, uint64_t endFrame)
{
    std::string verifyReason;
    for (const LivePartialFile& file : files_) {
        if (!verifyWaveFile(file.partialPath, take_.sampleRate, 1, static_cast<int64_t>(takeFrames), verifyReason))
            return fail("Live mono backup failed verification");
    }
    for (const LivePartialFile& file : lateFiles_) {
        const int64_t frames = endFrame > file.startFrame ? static_cast<int64_t>(endFrame - file.startFrame) : 0;
        if (!verifyWaveFile(file.partialPath, take_.sampleRate, 1, frames, verifyReason))
            return fail("Live late-arm mono backup failed verification");
    }
    for (auto* list : {&files_, &lateFiles_}) {
        for (const LivePartialFile& file : *list) {
            if (cancelled())
                return fail("Live mono backup cancelled before publication");
            if (!publish(file.partialPath, file.finalPath))
                return false;
        }
    }
    return true;
}

bool TakeCopy::publishPoly(uint64_t takeFrames)
{
    if (cancelled())
        return fail("Live poly backup cancelled before publication");
    const LivePartialFile& poly = files_.front();
    std::string verifyReason;
    if (!verifyWaveFile(poly.partialPath, take_.sampleRate, static_cast<int>(poly.columns.size()),
                        static_cast<int64_t>(takeFrames), verifyReason))
        return fail("Live poly backup failed verification");
    if (lateFiles_.empty())
        return publish(poly.partialPath, poly.finalPath);

    // The late tracks become extra channels of the poly partial, with their
    // sample codes unchanged, before it is published.
    ChannelMergeRequest request;
    request.basePath = poly.partialPath;
    request.mergedPath = makeLivePartialPath(poly.finalPath);
    request.sampleRate = take_.sampleRate;
    request.sampleFormat = take_.sampleFormat;
    request.bext = take_.bext;
    request.bext.trackNames.clear();
    if (!take_.noMix)
        request.bext.trackNames.emplace_back("MIX");
    for (int t = 0; t < LiveBackupWorker::kMaxTracks; ++t) {
        if (take_.armed[static_cast<size_t>(t)])
            request.bext.trackNames.push_back(take_.trackNames[static_cast<size_t>(t)]);
    }
    for (const LivePartialFile& file : lateFiles_)
        request.captures.push_back(
            {file.partialPath, file.startFrame - take_.startFrame, take_.trackNames[static_cast<size_t>(file.track)]});
    if (cancelled())
        return fail("Live backup publication cancelled for fallback recovery");
    const ChannelMergeResult merged = mergeChannels(request);
    const bool allMerged = std::all_of(merged.captureMerged.begin(), merged.captureMerged.end(), [](bool b) { return b; });
    if (!merged.ok || !allMerged) {
        removeQuietly(request.mergedPath);
        return fail(merged.ok ? "Failed to reopen live late-arm partial for merge" : merged.reason);
    }
    if (cancelled())
        return fail("Live backup publication cancelled for fallback recovery");
    return publish(poly.partialPath, poly.finalPath);
}

void TakeCopy::removePartials()
{
    for (auto* list : {&files_, &lateFiles_}) {
        for (LivePartialFile& file : *list) {
            if (file.writer)
                file.writer->close();
            removeQuietly(file.partialPath);
        }
    }
}

bool TakeCopy::run()
{
    if (!driveStillThere(state_))
        return fail("Backup drive is not mounted: " + state_.rootPath);
    // The drive root exists and is the drive: only the folders below it are
    // made here.
    std::error_code error;
    fs::create_directories(take_.destinationDir, error);
    if (error)
        return fail("Failed to create live backup directory: " + error.message());
    if (state_.stopRequested.load(std::memory_order_acquire))
        return fail("Live backup stopped");
    if (!openTakeFiles())
        return false;

    uint64_t endFrame = 0;
    const bool copied = copy(endFrame);
    if (copied && cancelled())
        return fail("Live backup cancelled for fallback recovery");
    const uint64_t takeFrames = endFrame > take_.startFrame ? endFrame - take_.startFrame : 0;
    for (auto* list : {&files_, &lateFiles_}) {
        for (LivePartialFile& file : *list) {
            if (!file.writer->close() && copied)
                fail("Live backup file not closed: " + file.writer->lastError());
        }
    }
    applyFinalBaseName();
    if (copied && reason_.empty() && !driveStillThere(state_))
        return fail("Backup drive is no longer mounted: " + state_.rootPath);
    if (!copied || !reason_.empty() || takeFrames == 0 || cancelled())
        return false;

    const bool ok = take_.layout != 0 ? publishMono(takeFrames, endFrame) : publishPoly(takeFrames);
    if (!ok) {
        for (const std::string& path : published_)
            removeQuietly(path);
    }
    return ok;
}

}  // namespace

LiveBackupWorker::LiveBackupWorker(std::string rootPath)
    : state_(std::make_shared<State>()), rootPath_(std::move(rootPath))
{
    state_->rootPath = rootPath_;
    state_->rootKnown = identityOf(rootPath_, state_->rootDevice, state_->rootInode);
    thread_ = std::thread(&LiveBackupWorker::threadMain, state_);
}

void LiveBackupWorker::requestStop()
{
    if (!stopRequestedByOwner_) {
        stopRequestedByOwner_ = true;
        stopRequestedAt_ = std::chrono::steady_clock::now();
    }
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        state_->stopRequested.store(true, std::memory_order_release);
    }
    state_->workCondition.notify_all();
}

LiveBackupWorker::~LiveBackupWorker()
{
    requestStop();
    {
        std::unique_lock<std::mutex> lock(state_->mutex);
        state_->finishedCondition.wait_until(lock, stopRequestedAt_ + kStopWait, [this] {
            return state_->finished.load(std::memory_order_acquire);
        });
    }
    if (state_->finished.load(std::memory_order_acquire)) {
        thread_.join();
        return;
    }
    debugLog("LiveBackupWorker: Detaching worker blocked in removable I/O for " + rootPath_);
    thread_.detach();
}

bool LiveBackupWorker::enqueue(TakeDescriptor take)
{
    {
        std::lock_guard<std::mutex> lock(state_->mutex);
        if (!state_->stopRequested.load(std::memory_order_acquire) && state_->queue.size() < kMaxQueuedTakes) {
            state_->queue.push_back(std::move(take));
            state_->workCondition.notify_one();
            return true;
        }
    }
    if (take.control)
        take.control->status.store(Failed, std::memory_order_release);
    state_->error.store(true, std::memory_order_release);
    return false;
}

bool LiveBackupWorker::hasError() const
{
    return state_->error.load(std::memory_order_acquire);
}

void LiveBackupWorker::clearError()
{
    state_->error.store(false, std::memory_order_release);
}

bool LiveBackupWorker::isActive() const
{
    if (state_->active.load(std::memory_order_acquire))
        return true;
    std::lock_guard<std::mutex> lock(state_->mutex);
    return !state_->queue.empty();
}

void LiveBackupWorker::threadMain(const std::shared_ptr<State>& state)
{
    std::string classReason;
    setCurrentThreadServiceClass(ThreadServiceClass::Utility, 0, classReason);
    while (!state->stopRequested.load(std::memory_order_acquire)) {
        TakeDescriptor take;
        {
            std::unique_lock<std::mutex> lock(state->mutex);
            state->workCondition.wait(lock, [&] {
                return state->stopRequested.load(std::memory_order_acquire) || !state->queue.empty();
            });
            if (state->stopRequested.load(std::memory_order_acquire))
                break;
            take = std::move(state->queue.front());
            state->queue.pop_front();
            // Set under the mutex: isActive never sees an empty queue and an
            // idle worker between the pop and the processing.
            state->active.store(true, std::memory_order_release);
        }
        std::string reason;
        const bool ok = processTake(*state, take, reason);
        // The reason is in the log before anyone can read the verdict.
        if (!ok) {
            state->error.store(true, std::memory_order_release);
            if (!reason.empty())
                debugLog("LiveBackupWorker: " + reason);
        }
        if (take.control)
            take.control->status.store(ok ? Verified : Failed, std::memory_order_release);
        state->active.store(false, std::memory_order_release);
    }
    {
        std::lock_guard<std::mutex> lock(state->mutex);
        for (TakeDescriptor& take : state->queue) {
            if (take.control)
                take.control->status.store(Failed, std::memory_order_release);
        }
        state->queue.clear();
        state->finished.store(true, std::memory_order_release);
    }
    state->finishedCondition.notify_all();
}

bool LiveBackupWorker::processTake(State& state, TakeDescriptor& take, std::string& reason)
{
    if (!take.control || !take.ring || take.ring->capacityFrames() == 0 || take.frameWidth < 33
        || static_cast<int>(take.ring->channels()) < take.frameWidth) {
        reason = "Invalid live backup take descriptor";
        return false;
    }
    TakeCopy copy(state, take, reason);
    return copy.run();
}
