// The engine's backup drives: the drive list and its layouts, the per-drive
// failure flags the window polls, and the after-take copy queue the engine
// owns (created by initialize, stopped by shutdown).
//
// Threads: the setters, the queries and the queue's start and stop run on
// the GUI thread; the take close reads the snapshot on the ring writer
// thread; onBackupCopyCompleted runs on the copy worker. backupMutex_ is
// held only while members are copied or assigned.
#include "engine/AudioEngine_CoreAudio.h"

#include "backup/BackupLayoutNames.h"
#include "core/DebugLog.h"

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

void AudioEngine_CoreAudio::onBackupCopyCompleted(const BackupCopyQueue::CopyJob& job)
{
    if (!job.failed)
        return;
    std::vector<std::string> roots;
    {
        std::lock_guard<std::mutex> lock(backupMutex_);
        for (const BackupPathInfo& info : backupPaths_)
            roots.push_back(info.path);
    }
    markBackupDriveFailed(backupDriveForDestination(roots, job.destinationDir));
}
