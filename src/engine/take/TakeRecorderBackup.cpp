// The copy queue's hand-overs of the take recorder: the take start pauses
// the queue, the take close queues one or more copy jobs per backup drive,
// and the ring writer resumes the queue once the take's files are final.
//
// Threads: pauseCopyQueue on the GUI thread (the take start);
// queueBackupCopies and resumeCopyQueue on the ring writer thread. The
// engine's backup mutex is held only while the snapshot is copied.
#include "engine/take/TakeRecorder.h"

#include "core/DebugLog.h"
#include "engine/take/TakeFiles.h"

#include <filesystem>
#include <system_error>

namespace {

bool fileExists(const std::string& path)
{
    std::error_code error;
    return !path.empty() && std::filesystem::exists(path, error) && !error;
}

}  // namespace

void TakeRecorder::queueBackupCopies(const std::vector<std::string>& closedFiles, const std::string& polyFilePath,
                                     const std::string& project, const std::string& soundRoll)
{
    if (!backupSide_)
        return;
    TakeBackupSide::Snapshot backup = backupSide_->snapshotBackupDrives();
    if (!backup.enabled || backup.drives.empty())
        return;
    {
        // A drive left out at the take's start stays out: an empty path is skipped.
        std::lock_guard<std::mutex> lock(backupMutex_);
        for (AudioEngineBase::BackupPathInfo& drive : backup.drives)
            if (isLeftOutOfTake(drive.path))
                drive.path.clear();
    }
    // The live backup's verdicts for this take, one per drive in drive order.
    if (backup.takeControls.empty())
        backup.takeControls = liveTakeControls();
    debugLog("CoreAudio: Queueing background backup copies to " + std::to_string(backup.drives.size()) + " drives");

    // The layout the take was recorded in, latched at its start.
    const int sourceFormat =
        takeSettings_.takeLayout == TakeLayout::Polyphonic ? BackupCopyQueue::Polyphonic : BackupCopyQueue::Mono;
    std::vector<std::string> sources;
    if (sourceFormat == BackupCopyQueue::Mono) {
        for (const std::string& path : closedFiles) {
            if (fileExists(path))
                sources.push_back(path);
        }
    } else if (fileExists(polyFilePath)) {
        sources.push_back(polyFilePath);
    }
    if (sources.empty() || !backup.copyQueue) {
        debugLog("CoreAudio: WARNING - No finalized source files available for backup");
        return;
    }

    for (size_t drive = 0; drive < backup.drives.size(); ++drive) {
        const AudioEngineBase::BackupPathInfo& info = backup.drives[drive];
        if (info.path.empty())
            continue;
        // The same portable folder names as the take folder: a drive refuses
        // a raw ':' or '?' in a project or sound roll.
        const std::string destination = takeFolderPath(info.path + "/Tonvale", project, soundRoll);
        const std::shared_ptr<LiveBackupTakeControl> control =
            drive < backup.takeControls.size() ? backup.takeControls[drive] : nullptr;
        bool accepted = true;
        if (sourceFormat == BackupCopyQueue::Mono && info.format == BackupCopyQueue::Mono) {
            for (const std::string& source : sources)
                accepted = backup.copyQueue->tryQueueCopy(source, destination, sourceFormat, info.format, control,
                                                          info.path)
                           && accepted;
        } else {
            accepted = backup.copyQueue->tryQueueCopy(sources.front(), destination, sourceFormat, info.format, control,
                                                      info.path);
        }
        if (!accepted && drive <= 7) {
            backupSide_->markBackupDriveFailed(static_cast<int>(drive));
            debugLog("CoreAudio: WARNING - Backup queue full; drive " + std::to_string(drive + 1)
                     + " did not accept all take files");
        }
    }
}

void TakeRecorder::pauseCopyQueue()
{
    if (BackupCopyQueue* queue = backupSide_ ? backupSide_->backupCopyQueue() : nullptr)
        queue->pause();
}

void TakeRecorder::resumeCopyQueue()
{
    if (BackupCopyQueue* queue = backupSide_ ? backupSide_->backupCopyQueue() : nullptr)
        queue->resume();
}
