// The engine's backup drives: the drive list and its layouts, the per-drive
// failure flags the window polls, and the after-take copy queue the engine
// owns (created by initialize, stopped by shutdown).
//
// Threads: the setters, the queries and the queue's start and stop run on
// the GUI thread; the take close reads the snapshot on the ring writer
// thread; onBackupCopyCompleted runs on the copy worker. backupMutex_ is
// held only while members are copied or assigned. The repaired takes' copies
// and the false take's move on the backup drives are asked for on the GUI
// thread.
#include "engine/AudioEngine_CoreAudio.h"

#include "backup/BackupLayoutNames.h"
#include "core/DebugLog.h"
#include "engine/take/FalseTakeMove.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace {

namespace fs = std::filesystem;

std::string normalPath(const std::string& path)
{
    return fs::path(path).lexically_normal().string();
}

std::string fileNameOf(const std::string& path)
{
    return fs::path(path).filename().string();
}

// The take folder's mirror on a drive. A take folder is always
// <root>/<project>/<sound roll>: one that no longer lies below the root (the
// save location changed since) keeps its last two levels.
std::string backupTakeFolder(const std::string& recordingRoot, const std::string& takeFolder,
                             const std::string& driveRoot)
{
    const std::string folder = backupFolderFor(recordingRoot, takeFolder, driveRoot);
    if (!folder.empty())
        return folder;
    const fs::path take = fs::path(takeFolder).lexically_normal();
    const fs::path roll = take.has_filename() ? take : take.parent_path();
    return backupFolderFor("/", "/" + roll.parent_path().filename().string() + "/" + roll.filename().string(),
                           driveRoot);
}

}  // namespace

void AudioEngine_CoreAudio::setBackupMediaPaths(bool enabled, const std::vector<std::string>& roots)
{
    std::vector<BackupPathInfo> paths;
    for (const std::string& root : roots)
        paths.push_back(BackupPathInfo{root, BackupCopyQueue::Polyphonic});
    setBackupMediaPathsWithFormats(enabled, paths);
}

void AudioEngine_CoreAudio::setBackupMediaPathsWithFormats(bool enabled, const std::vector<BackupPathInfo>& paths)
{
    {
        std::lock_guard<std::mutex> lock(backupMutex_);
        backupEnabled_ = enabled;
        backupPaths_ = paths;
        liveTakeControls_.clear();
    }
    // The live-backup workers follow the same drive list, in the same order,
    // so a drive's live verdict and its copy job meet by index.
    std::vector<TakeRecorder::BackupDrive> drives;
    for (const BackupPathInfo& info : paths)
        drives.push_back({info.path, info.format});
    takeRecorder_.setBackupDrives(enabled, drives);
}

void AudioEngine_CoreAudio::setLiveBackupActiveTake(bool enabled)
{
    takeRecorder_.setLiveBackupActiveTake(enabled);
}

void AudioEngine_CoreAudio::setLiveTakeControlsForTest(std::vector<std::shared_ptr<LiveBackupTakeControl>> controls)
{
    std::lock_guard<std::mutex> lock(backupMutex_);
    liveTakeControls_ = std::move(controls);
}

bool AudioEngine_CoreAudio::isBackupCopyActive() const
{
    // The drive display polls this: the queue answers from atomics and a
    // short lock on its job list, never by waiting for a copy.
    const BackupCopyQueue* queue = backupCopyQueue();
    return (queue && queue->hasWork()) || takeRecorder_.isLiveBackupActive();
}

bool AudioEngine_CoreAudio::hasBackupDriveError(int drive) const
{
    if (drive < 0 || drive >= kMaxBackupDrives)
        return false;
    return backupDriveFailed_[static_cast<size_t>(drive)].load(std::memory_order_acquire)
           || takeRecorder_.hasBackupDriveError(drive);
}

void AudioEngine_CoreAudio::clearBackupDriveError(int drive)
{
    if (drive < 0 || drive >= kMaxBackupDrives)
        return;
    backupDriveFailed_[static_cast<size_t>(drive)].store(false, std::memory_order_release);
    takeRecorder_.clearBackupDriveError(drive);
}

AudioEngine_CoreAudio::Snapshot AudioEngine_CoreAudio::snapshotBackupDrives() const
{
    std::lock_guard<std::mutex> lock(backupMutex_);
    return Snapshot{backupEnabled_, backupPaths_, liveTakeControls_, backupCopyQueue()};
}

BackupCopyQueue* AudioEngine_CoreAudio::backupCopyQueue() const
{
    return publishedCopyQueue_.load(std::memory_order_acquire);
}

void AudioEngine_CoreAudio::markBackupDriveFailed(int drive)
{
    if (drive >= 0 && drive < kMaxBackupDrives)
        backupDriveFailed_[static_cast<size_t>(drive)].store(true, std::memory_order_release);
}

void AudioEngine_CoreAudio::startBackupCopyQueue()
{
    BackupCopyQueue* queue = nullptr;
    {
        std::lock_guard<std::mutex> lock(backupMutex_);
        if (!backupCopyQueue_) {
            backupCopyQueue_ = std::make_unique<BackupCopyQueue>();
            publishedCopyQueue_.store(backupCopyQueue_.get(), std::memory_order_release);
        }
        queue = backupCopyQueue_.get();
    }
    queue->start();
    queue->setCompletionCallback([this](const BackupCopyQueue::CopyJob& job) { onBackupCopyCompleted(job); });
    debugLog("CoreAudio: BackupCopyQueue started");
}

void AudioEngine_CoreAudio::stopBackupCopyQueue()
{
    BackupCopyQueue* queue = backupCopyQueue();
    if (!queue)
        return;
    const bool wasRunning = queue->isRunning();
    queue->stop();  // also reports the jobs that will not run
    if (wasRunning)
        debugLog("CoreAudio: BackupCopyQueue stopped");
}

int AudioEngine_CoreAudio::queueRepairedTakeBackups(const std::string& recordingRoot,
                                                    const std::vector<std::string>& repairedFiles)
{
    const Snapshot backup = snapshotBackupDrives();
    if (!backup.enabled || !backup.copyQueue || repairedFiles.empty())
        return 0;
    int queued = 0;
    for (size_t drive = 0; drive < backup.drives.size(); ++drive) {
        const BackupPathInfo& info = backup.drives[drive];
        if (info.path.empty())
            continue;
        // A mono take becomes one polyphonic copy, made from any of its files.
        std::set<std::string> joinedTakes;
        bool accepted = true;
        for (const std::string& file : repairedFiles) {
            const std::string destination = backupFolderFor(recordingRoot, fs::path(file).parent_path().string(), info.path);
            if (destination.empty()) {
                debugLog("CoreAudio: WARNING - Repaired file " + file + " is not below " + recordingRoot
                         + "; not queued for backup");
                continue;
            }
            const MonoTakeName mono = parseMonoTakeName(fs::path(file).stem().string());
            const int sourceFormat = mono.valid ? BackupCopyQueue::Mono : BackupCopyQueue::Polyphonic;
            if (mono.valid && info.format == BackupCopyQueue::Polyphonic
                && !joinedTakes.insert(destination + "/" + mono.takeKey).second)
                continue;
            if (backup.copyQueue->tryQueueRepairedCopy(file, destination, sourceFormat, info.format, info.path))
                ++queued;
            else
                accepted = false;
        }
        if (!accepted) {
            markBackupDriveFailed(static_cast<int>(drive));
            debugLog("CoreAudio: WARNING - Backup queue full; drive " + std::to_string(drive + 1)
                     + " did not accept all repaired files");
        }
    }
    debugLog("CoreAudio: Queued " + std::to_string(queued) + " backup copies of repaired takes");
    return queued;
}

void AudioEngine_CoreAudio::moveFalseTakeOnBackups(const std::string& recordingRoot, const std::string& takeFolder,
                                                   const std::vector<std::pair<std::string, std::string>>& moves)
{
    std::vector<std::string> takeStems;
    for (const auto& move : moves) {
        for (const std::string& stem : takeStemsOfFile(fileNameOf(move.first)))
            takeStems.push_back(stem);
    }
    if (takeStems.empty())
        return;
    const Snapshot backup = snapshotBackupDrives();
    std::lock_guard<std::mutex> lock(falseTakeMutex_);
    if (backup.copyQueue) {
        // A queue with nothing to do holds no copy of an earlier false take either.
        if (!backup.copyQueue->hasWork())
            falseTakeSources_.clear();
        for (const auto& move : moves) {
            falseTakeSources_.insert(normalPath(move.first));
            backup.copyQueue->redirectSource(move.first, move.second, kFalseTakeFolderName);
        }
    }
    for (const BackupPathInfo& info : backup.drives) {
        if (!info.path.empty())
            moveFalseTakeCopies(backupTakeFolder(recordingRoot, takeFolder, info.path), takeStems);
    }
}

// Called with falseTakeMutex_ held.
void AudioEngine_CoreAudio::moveFalseTakeCopies(const std::string& backupFolder, const std::vector<std::string>& takeStems)
{
    std::vector<std::string> copies;
    std::error_code error;
    for (fs::directory_iterator it(backupFolder, error), end; !error && it != end; it.increment(error)) {
        std::error_code entryError;
        const std::string name = it->path().filename().string();
        if (!it->is_regular_file(entryError))
            continue;
        if (isFileOfTake(name, takeStems))
            copies.push_back(it->path().string());
    }
    // No copy on this drive (a missing drive, or none made yet) is no error,
    // and no FALSETAKES folder is made for nothing.
    if (copies.empty())
        return;
    std::sort(copies.begin(), copies.end());
    const FalseTakeMoveResult result = moveToFalseTakes(backupFolder, copies);
    debugLog("CoreAudio: Moved " + std::to_string(result.movedCount()) + " of " + std::to_string(copies.size())
             + " backup file(s) of the false take in " + backupFolder);
}

void AudioEngine_CoreAudio::onBackupCopyCompleted(const BackupCopyQueue::CopyJob& job)
{
    if (!job.failed) {
        // A copy that finished after its take was marked false follows the
        // drive's other copies of the take.
        std::lock_guard<std::mutex> lock(falseTakeMutex_);
        if (falseTakeSources_.count(normalPath(job.sourcePath)) != 0)
            moveFalseTakeCopies(job.destinationDir, takeStemsOfFile(fileNameOf(job.sourcePath)));
        return;
    }
    std::vector<std::string> roots;
    {
        std::lock_guard<std::mutex> lock(backupMutex_);
        for (const BackupPathInfo& info : backupPaths_)
            roots.push_back(info.path);
    }
    markBackupDriveFailed(backupDriveForDestination(roots, job.destinationDir));
}
