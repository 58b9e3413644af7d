// Backup drives on the recording side: the live workers (one per drive, made
// while backup and live backup are both on), the hand-over of each take to
// them and of its end, rename and late arms, the per-drive error flags, and
// the block ring writer whose files a drive may own.
//
// Threads: the setters, the take start's hand-over, the stop's and the late
// arm's publications run on the GUI thread; the take close (ring writer
// thread) and the copy queue read liveTakeControls. Everything here is
// guarded by backupMutex_, except the failure flags (atomics). Workers are
// stopped outside backupMutex_: all are asked first, then each gets what is
// left of its 2 s, so a rebuild never freezes the GUI or the take close for
// longer than that in all.
#include "engine/take/TakeRecorder.h"

#include "core/DebugLog.h"
#include "engine/take/TakeFiles.h"
#include "platform/volumes/RecordingDrive.h"

#include <algorithm>

namespace {

bool validDrive(int drive)
{
    return drive >= 0 && drive < TakeRecorder::kMaxLiveBackupDrives;
}

}  // namespace

void TakeRecorder::initializeBlockWriter(int bufferSizeFrames)
{
    blockWriter_.initialize(30.0f, sampleRate_, 64, bufferSizeFrames);
}

void TakeRecorder::setBackupDriveWriterIds(int drive, std::vector<int> writerIds)
{
    if (!validDrive(drive))
        return;
    std::lock_guard<std::mutex> lock(backupMutex_);
    backupDriveWriterIds_[static_cast<size_t>(drive)] = std::move(writerIds);
}

void TakeRecorder::setBackupDrives(bool enabled, const std::vector<BackupDrive>& drives)
{
    std::vector<std::unique_ptr<LiveBackupWorker>> retired;
    {
        std::lock_guard<std::mutex> lock(backupMutex_);
        backupEnabled_ = enabled;
        backupDrives_ = drives;
        rebuildLiveBackupWorkersLocked(retired);
    }
    retireLiveBackupWorkers(retired);
}

void TakeRecorder::setLiveBackupActiveTake(bool enabled)
{
    liveBackupActiveTake_.store(enabled, std::memory_order_release);
    std::vector<std::unique_ptr<LiveBackupWorker>> retired;
    {
        std::lock_guard<std::mutex> lock(backupMutex_);
        rebuildLiveBackupWorkersLocked(retired);
    }
    retireLiveBackupWorkers(retired);
}

void TakeRecorder::rebuildLiveBackupWorkersLocked(std::vector<std::unique_ptr<LiveBackupWorker>>& retired)
{
    for (auto& worker : liveBackupWorkers_) {
        if (worker) {
            worker->requestStop();
            retired.push_back(std::move(worker));
        }
    }
    liveBackupWorkers_.clear();
    liveTakeControls_.clear();
    if (!backupEnabled_ || !liveBackupActiveTake_.load(std::memory_order_acquire))
        return;
    const size_t count = std::min<size_t>(backupDrives_.size(), kMaxLiveBackupDrives);
    for (size_t i = 0; i < count; ++i) {
        const std::string& path = backupDrives_[i].path;
        liveBackupWorkers_.push_back(path.empty() ? nullptr : std::make_unique<LiveBackupWorker>(path));
    }
}

// Every worker was asked to stop when it was retired; each destructor waits
// only what is left of 2 s from that request.
void TakeRecorder::retireLiveBackupWorkers(std::vector<std::unique_ptr<LiveBackupWorker>>& retired)
{
    for (auto& worker : retired)
        worker->requestStop();
    retired.clear();
}

bool TakeRecorder::isLiveBackupActive() const
{
    std::lock_guard<std::mutex> lock(backupMutex_);
    for (const auto& worker : liveBackupWorkers_) {
        if (worker && worker->isActive())
            return true;
    }
    return false;
}

bool TakeRecorder::hasBackupDriveError(int drive) const
{
    if (!validDrive(drive))
        return false;
    const auto index = static_cast<size_t>(drive);
    if (backupDriveFailed_[index].load(std::memory_order_acquire))
        return true;
    std::lock_guard<std::mutex> lock(backupMutex_);
    if (index < liveBackupWorkers_.size() && liveBackupWorkers_[index] && liveBackupWorkers_[index]->hasError())
        return true;
    return blockWriter_.hasWriterErrors(backupDriveWriterIds_[index]);
}

void TakeRecorder::clearBackupDriveError(int drive)
{
    if (drive < 0)
        return;
    const auto index = static_cast<size_t>(drive);
    if (validDrive(drive))
        backupDriveFailed_[index].store(false, std::memory_order_release);
    std::lock_guard<std::mutex> lock(backupMutex_);
    if (index < liveBackupWorkers_.size() && liveBackupWorkers_[index])
        liveBackupWorkers_[index]->clearError();
    if (validDrive(drive))
        blockWriter_.clearWriterErrors(backupDriveWriterIds_[index]);
}

void TakeRecorder::markBackupDriveFailed(int drive)
{
    if (validDrive(drive))
        backupDriveFailed_[static_cast<size_t>(drive)].store(true, std::memory_order_release);
}

std::vector<std::shared_ptr<LiveBackupWorker::TakeControl>> TakeRecorder::liveTakeControls() const
{
    std::lock_guard<std::mutex> lock(backupMutex_);
    return liveTakeControls_;
}

// Take start (GUI thread), after the take's files are open.
void TakeRecorder::enqueueLiveBackupTakes(uint64_t startPosition, const TakeFileSet& files)
{
    TakeMetadata start;
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        start = startMetadata_;
    }
    const std::array<std::string, kMaxTracks> trackNames = trackNameList(start.trackNames, configuredTrackNames());

    std::lock_guard<std::mutex> lock(backupMutex_);
    liveTakeControls_.assign(liveBackupWorkers_.size(), nullptr);
    // A card being formatted is unmounted under the take: its worker would
    // fail mid-take and its copy land on the empty mount point.
    takeLeftOutDrives_.clear();
    if (backupEnabled_) {
        for (size_t i = 0; i < backupDrives_.size(); ++i) {
            const std::string& path = backupDrives_[i].path;
            if (path.empty() || formattingVolumeHolding(path).empty())
                continue;
            takeLeftOutDrives_.push_back(path);
            debugLog("CoreAudio: Backup drive " + std::to_string(i + 1) + " (" + path
                     + ") is being formatted; left out of this take's backups");
        }
    }
    if (!backupEnabled_ || !liveBackupActiveTake_.load(std::memory_order_acquire))
        return;
    for (size_t i = 0; i < liveBackupWorkers_.size() && i < backupDrives_.size(); ++i) {
        if (!liveBackupWorkers_[i] || isLeftOutOfTake(backupDrives_[i].path))
            continue;
        auto control = std::make_shared<LiveBackupWorker::TakeControl>();
        LiveBackupWorker::TakeDescriptor take;
        take.ring = ring_;
        take.frameWidth = kRingFrameFloats;
        take.control = control;
        take.startFrame = startPosition;
        take.destinationDir = takeFolderPath(backupDrives_[i].path + "/Tonvale", start.project, start.soundRoll);
        take.baseName = files.baseName;
        take.layout = backupDrives_[i].layout;
        take.sampleRate = sampleRate_;
        take.sampleFormat = takeSettings_.takeSampleFormat;
        take.bext = files.takeBext;
        take.armed = armedAtStart_;
        take.trackNames = trackNames;
        take.noMix = takeSettings_.takeNoMix;
        liveTakeControls_[i] = control;
        // A refusal leaves the verdict Failed in the control: the copy queue
        // then copies this drive's take at once.
        if (!liveBackupWorkers_[i]->enqueue(std::move(take)))
            markBackupDriveFailed(static_cast<int>(i));
    }
}

// Under backupMutex_.
bool TakeRecorder::isLeftOutOfTake(const std::string& drivePath) const
{
    return std::find(takeLeftOutDrives_.begin(), takeLeftOutDrives_.end(), drivePath) != takeLeftOutDrives_.end();
}

// The stop (with the name settled then) or a cut post-roll (name empty: the
// one the stop stored stays, only the end moves).
void TakeRecorder::publishLiveBackupEnd(uint64_t endPosition, const std::string& finalBaseName)
{
    std::lock_guard<std::mutex> lock(backupMutex_);
    for (const auto& control : liveTakeControls_) {
        if (!control)
            continue;
        if (!finalBaseName.empty()) {
            std::lock_guard<std::mutex> nameLock(control->nameMutex);
            control->finalBaseName = finalBaseName;
        }
        // Release: the worker reads the name after it sees the end.
        control->endFrame.store(static_cast<int64_t>(endPosition), std::memory_order_release);
    }
}

// A late arm's ring position goes to every live take of the running take.
void TakeRecorder::publishLiveBackupArm(int track, uint64_t armPosition)
{
    std::lock_guard<std::mutex> lock(backupMutex_);
    for (const auto& control : liveTakeControls_) {
        if (control)
            control->armFrames[static_cast<size_t>(track)].store(static_cast<int64_t>(armPosition),
                                                                  std::memory_order_release);
    }
}
