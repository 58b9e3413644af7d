#pragma once

#include "backup/LiveBackupTakeControl.h"
#include "media/BwfFileWriter.h"
#include "realtime/RecordingRing.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// Copies each take to one backup drive while it is being recorded, straight
// from the recording ring: the drive's own layout (one polyphonic file or a
// mono file per channel), tracks armed during the take, the fade on the
// take's last frames. After the take's end every file is read back and then
// renamed from a ".tonvale.partial" name into place, so the drive never shows
// a half-written or unverified file under a take's name. The verdict of each
// take (1 verified, 2 failed) goes into its TakeControl, where the copy queue
// looks for it.
//
// A drive that is not the volume it was when the worker was made (unmounted,
// its root gone or replaced by an empty mount point) fails the take: nothing
// is ever written to the disk below a vanished drive.
//
// Threads:
// - Owner (the engine, GUI thread): constructor, enqueue, isActive,
//   hasError, clearError, requestStop, destructor. The destructor waits at
//   most 2 s from the stop request, then joins the thread or, when it is
//   blocked in drive I/O, detaches it: the thread holds its own reference to
//   the State and ends once its I/O returns.
// - Worker thread (utility class): takes one queued take at a time; never
//   holds State::mutex while copying.
// - The engine's stop, post-roll cut and late arm write a control's
//   endFrame, armFrames and finalBaseName (release); the worker reads them
//   with acquire. The copy queue reads status and sets cancelPublication.
// - The ring is read without a lock: the reader checks before and after each
//   gather that the render callback has not come round to what it read.
class LiveBackupWorker {
public:
    static constexpr int kMaxTracks = 32;
    static constexpr size_t kMaxQueuedTakes = 8;

    enum Status : uint8_t { Pending = 0, Verified = 1, Failed = 2 };

    // One take's shared record with the engine and the copy queue.
    using TakeControl = LiveBackupTakeControl;

    struct TakeDescriptor {
        TakeDescriptor() = default;
        TakeDescriptor(TakeDescriptor&&) = default;
        TakeDescriptor& operator=(TakeDescriptor&&) = default;
        TakeDescriptor(const TakeDescriptor&) = delete;
        TakeDescriptor& operator=(const TakeDescriptor&) = delete;

        std::shared_ptr<const RecordingRing> ring;
        int frameWidth = 33;  // column 0 the mix, 1 + t track t
        std::shared_ptr<TakeControl> control;
        uint64_t startFrame = 0;  // ring position of the take's first frame
        std::string destinationDir;
        std::string baseName;
        int layout = 0;  // 0 polyphonic, else mono
        int sampleRate = 48000;
        BwfFileWriter::SampleFormat sampleFormat = BwfFileWriter::Int24;
        BwfFileWriter::BextChunk bext;
        std::array<bool, kMaxTracks> armed{};
        std::array<std::string, kMaxTracks> trackNames;
        bool noMix = false;
    };

    explicit LiveBackupWorker(std::string rootPath);
    ~LiveBackupWorker();
    LiveBackupWorker(const LiveBackupWorker&) = delete;
    LiveBackupWorker& operator=(const LiveBackupWorker&) = delete;

    // False (and the verdict Failed, the error flag set) when eight takes
    // already wait or the worker is stopping.
    bool enqueue(TakeDescriptor take);
    bool isActive() const;
    bool hasError() const;
    void clearError();
    // Asks the thread to stop; the destructor then waits what is left of 2 s
    // from this request, so stopping many workers takes 2 s in all.
    void requestStop();
    const std::string& rootPath() const { return rootPath_; }

    struct State;

private:
    static void threadMain(const std::shared_ptr<State>& state);
    static bool processTake(State& state, TakeDescriptor& take, std::string& reason);

    std::shared_ptr<State> state_;
    std::thread thread_;
    std::string rootPath_;
    std::chrono::steady_clock::time_point stopRequestedAt_{};
    bool stopRequestedByOwner_ = false;
};

struct LiveBackupWorker::State {
    std::string rootPath;
    // The volume and folder of the root when the worker was made; a take
    // goes only there. rootKnown is false when the root did not exist then.
    bool rootKnown = false;
    uint64_t rootDevice = 0;
    uint64_t rootInode = 0;
    std::mutex mutex;
    std::condition_variable workCondition;
    std::condition_variable finishedCondition;
    std::deque<TakeDescriptor> queue;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> active{false};
    std::atomic<bool> error{false};
    std::atomic<bool> finished{false};
};
