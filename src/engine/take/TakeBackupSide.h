#pragma once

#include "backup/BackupCopyQueue.h"
#include "backup/LiveBackupTakeControl.h"
#include "engine/AudioEngineBase.h"

#include <memory>
#include <vector>

// What the take close needs of the engine's backup drives: the drives, the
// live backup's take controls, the copy queue, and the per-drive failure
// flags. Called on the ring writer thread (the close) and the GUI thread
// (the take start pauses the queue).
class TakeBackupSide {
public:
    struct Snapshot {
        bool enabled = false;
        std::vector<AudioEngineBase::BackupPathInfo> drives;  // in drive order
        // The take's control per drive; empty entries where no live worker took it.
        std::vector<std::shared_ptr<LiveBackupTakeControl>> takeControls;
        // Lives until the engine is destroyed, after the ring writer was joined.
        BackupCopyQueue* copyQueue = nullptr;
    };

    // Copied under the engine's backup mutex.
    virtual Snapshot snapshotBackupDrives() const = 0;
    virtual BackupCopyQueue* backupCopyQueue() const = 0;
    virtual void markBackupDriveFailed(int drive) = 0;

protected:
    ~TakeBackupSide() = default;
};
