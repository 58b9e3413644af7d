#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

// The record one take shares between the engine, that drive's live-backup
// worker and the drive's after-take copy job. The live backup delivers its
// verdict here; the copy job waits for it and copies only what the live
// backup did not deliver.
//
// Threads: the engine's GUI thread stores endFrame, armFrames and
// finalBaseName (under nameMutex); the live-backup worker stores status
// (release) once per take and reads cancelPublication (acquire); the copy
// queue's worker reads status (acquire) and sets cancelPublication (release)
// when it stops waiting. Shared ownership: whoever holds it last frees it.
struct LiveBackupTakeControl {
    enum Status : uint8_t {
        Pending = 0,
        Verified = 1,
        Failed = 2,
    };
    static constexpr int kMaxTracks = 32;

    LiveBackupTakeControl()
    {
        for (auto& frame : armFrames)
            frame.store(-1, std::memory_order_relaxed);
    }

    // One past the take's last ring frame; 0 while the take runs.
    std::atomic<int64_t> endFrame{0};
    // Ring frame from which a late-armed track is recorded; -1 when not armed.
    std::array<std::atomic<int64_t>, kMaxTracks> armFrames;
    std::atomic<bool> cancelPublication{false};
    std::atomic<uint8_t> status{Pending};
    std::mutex nameMutex;
    std::string finalBaseName;  // guarded by nameMutex
};
