#pragma once

#include "engine/take/StartTimecodeCapture.h"
#include "engine/take/TakeBackupSide.h"
#include "engine/take/TakeFileSet.h"
#include "engine/take/TakeSettings.h"
#include "engine/take/WriterState.h"
#include "backup/LiveBackupWorker.h"
#include "media/AsyncDiskWriter.h"
#include "media/BwfFileWriter.h"
#include "realtime/RecordingRing.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// What a take's start asks of the engine that owns the recorder: the
// engine's routing, arming, buffer size and LTC reader. Called on the GUI
// thread during startRecording (and the start steps tests call one by one).
class TakeEngineSide {
public:
    virtual int takeTrackCount() const = 0;
    virtual bool isTrackArmedForTake(int track) const = 0;
    virtual bool takeHasNoMix() const = 0;  // Bitbucket Mode
    virtual int takeBufferSizeFrames() const = 0;
    virtual size_t takeFrameBufferFloats() const = 0;
    // Fills the decoder snapshot, the detected and the forced rate.
    virtual void readTakeTimecodeInputs(StartTimecodeInputs& inputs) const = 0;

protected:
    ~TakeEngineSide() = default;
};

// The recording side of the engine: the recording settings and metadata, the
// take's state machine, the ring writer thread that copies the recording
// ring into the take's files, and the take's start, stop, drain, close and
// rename. The engine forwards its recording operations here; live backup,
// late-armed tracks and the block ring writer plug in at the hand-over points
// below.
//
// Threads:
// - GUI thread: every setter and getter, startRecording, stopRecording,
//   cancelPendingPostroll, the take start steps, waitForWriterIdle. It may
//   block on metadataMutex_, writersMutex_, takeEndMutex_ and
//   ringWriterMutex_, each held only while values are copied.
// - Ring writer thread (owned; started by startRingWriter, stopped on a flag
//   and joined by stopRingWriter): copies the ring from the take's first frame
//   into its files, fades, closes and renames them and returns the state to
//   Idle. Between a take's start and Idle only it touches the take's writers;
//   it learns of starts and ends through atomics and never makes the render
//   callback wait. With nothing to copy it sleeps a millisecond.
// - Render callback: only countRenderedFrames (relaxed atomics, no locks,
//   no allocation, no logging) and the ring it writes itself.
// - Any thread: the health counters and the writer state (atomics).
// The take members are written by the start before takeActive_ is published
// (release, under ringWriterMutex_) and only read until the writer is Idle
// again. Lock order: each mutex is taken alone.
class TakeRecorder {
public:
    static constexpr int kMaxTracks = 32;
    static constexpr int kRingFrameFloats = 1 + kMaxTracks;  // the mix, then 32 tracks
    // The largest block the render callback writes into the ring at once.
    static constexpr uint64_t kMaxBlockFrames = 8192;

    TakeRecorder(TakeEngineSide& engine, int sampleRate);
    ~TakeRecorder();
    TakeRecorder(const TakeRecorder&) = delete;
    TakeRecorder& operator=(const TakeRecorder&) = delete;

    // --- Owner (engine construction and destruction) ---------------------
    // Takes the ring the render callback writes and starts the writer thread.
    void startRingWriter(std::shared_ptr<const RecordingRing> ring);
    // Ends a take still being copied (it is closed first) and joins the thread.
    void stopRingWriter();
    // The backup drives and copy queue the take close hands files to; set
    // before the ring writer starts (null: nothing is backed up).
    void setBackupSide(TakeBackupSide* side) { backupSide_ = side; }

    // --- Recording settings and metadata (GUI thread) --------------------
    void setMediaFormat(int fileFormat, int bitDepth);
    void setSampleFormat(BwfFileWriter::SampleFormat format);
    int fileFormat() const { return fileFormat_; }
    int bitDepth() const { return bitDepth_; }
    BwfFileWriter::SampleFormat sampleFormat() const { return sampleFormat_; }
    void setPrerollSeconds(int seconds);
    int prerollSeconds() const { return prerollSeconds_; }
    void setPostrollSeconds(int seconds);
    int postrollSeconds() const { return postrollSeconds_; }
    void setRecordingMetadata(const TakeMetadata& metadata);
    TakeMetadata recordingMetadata() const;
    Timecode startTimecode() const { return takeTimecode_.startTimecode; }

    // --- Take (GUI thread) ------------------------------------------------
    // False when a take runs, the writer is not Idle (a pending post-roll is
    // cut so a retry succeeds sooner) or a start step failed (logged).
    bool startRecording();
    // Why the last startRecording gave false, for the person at the
    // recorder; empty after a start that succeeded.
    const std::string& takeStartRefusal() const { return takeStartRefusal_; }
    // Sets the take's end (now plus the latched post-roll); the ring writer
    // drains up to it and closes the take.
    bool stopRecording();
    bool isRecording() const { return recording_.load(std::memory_order_acquire); }
    bool isWriterDraining() const;
    // Moves a pending post-roll's end to now (never later than it was).
    void cancelPendingPostroll();
    // Waits on the writer's own Idle notification; false on timeout.
    bool waitForWriterIdle(std::chrono::milliseconds timeout);
    WriterState writerState() const { return writerState_.load(std::memory_order_acquire); }
    // Called after a track's arm flag changed. A track armed while the take
    // is being recorded, not armed at its start, is captured from that
    // moment into a hidden mono file and finalized when the take closes.
    void trackArmChanged(int track, bool wasArmed, bool armed);
    // True while the running take captures the track armed after its start.
    bool isLateArmCaptureActive(int track) const;

    // --- Take start steps (GUI thread, writer Idle) -----------------------
    const TakeSettingsLatch& latchTakeSettings();
    const TakeSettingsLatch& latchedTakeSettings() const { return takeSettings_; }
    TakeMetadata takeMetadataSnapshot() const;
    bool makeTakeFolder(const TakeMetadata& snapshot, std::string& takeFolder);
    StartTimecodeResult captureTakeStartTimecode(uint64_t startPositionFrames, uint64_t prerollFrames,
                                                 const LocalDateTime& localTime);
    TakeFileSet openTakeFiles(const std::string& takeFolder, const TakeMetadata& snapshot,
                              const std::array<bool, kMaxTracks>& armedAtStart, int trackCount);

    // --- Backup drives (GUI thread) ------------------------------------------
    // A drive is its index in the list (0..7 get a live worker). Every call
    // replaces the live workers: a take they were copying fails and the copy
    // queue copies it after the take instead.
    struct BackupDrive {
        std::string path;  // the drive's root folder
        int layout = 0;    // 0 polyphonic, 1 mono
    };
    static constexpr int kMaxLiveBackupDrives = 8;
    void setBackupDrives(bool enabled, const std::vector<BackupDrive>& drives);
    void setLiveBackupActiveTake(bool enabled);
    // A live worker still copies or has takes queued.
    bool isLiveBackupActive() const;
    // The drive's own failure flag, its live worker's error or an error of
    // a block-writer file registered for it.
    bool hasBackupDriveError(int drive) const;
    void clearBackupDriveError(int drive);
    void markBackupDriveFailed(int drive);
    // The live verdicts of the latest take, by drive (empty where no worker
    // took it), for the copy queue.
    std::vector<std::shared_ptr<LiveBackupWorker::TakeControl>> liveTakeControls() const;

    // --- Block ring writer (owner) -----------------------------------------
    // Sizes the block writer's ring (30 s at the engine's rate, 64 channels)
    // for blocks of up to bufferSizeFrames.
    void initializeBlockWriter(int bufferSizeFrames);
    AsyncDiskWriter& blockWriter() { return blockWriter_; }
    // The block writer's files that belong to a backup drive.
    void setBackupDriveWriterIds(int drive, std::vector<int> writerIds);

    // --- Health and progress (any thread) ----------------------------------
    // Frames the ring writer lost because it fell a ring behind: one per lost
    // frame position of the take, whatever its layout and channel count.
    int64_t droppedRingFrames() const { return droppedRingFrames_.load(std::memory_order_relaxed); }
    // With the block writer's: samples it never wrote, blocks a file refused.
    int64_t droppedSamples() const { return droppedRingFrames() + blockWriter_.getDroppedSamples(); }
    int64_t writeErrors() const
    {
        return writeErrorCount_.load(std::memory_order_relaxed) + blockWriter_.getWriteErrors();
    }
    void countWriteError() { writeErrorCount_.fetch_add(1, std::memory_order_relaxed); }
    uint64_t ringWriterReadPosition() const { return ringWriterReadPosition_.load(std::memory_order_acquire); }
    uint64_t ringWriterLargestLagFrames() const { return ringWriterLargestLag_.load(std::memory_order_relaxed); }
    int64_t takeFrameCount() const { return takeFrameCounters_[0].load(std::memory_order_relaxed); }
    // The files of the last take as they were named when it was closed.
    std::vector<std::string> lastClosedTakeFiles() const;

    // --- Audio thread: no locks, no allocation, no logging ------------------
    // Counts a rendered block's frames while a take or its post-roll runs.
    void countRenderedFrames(uint32_t blockFrames)
    {
        if (recording_.load(std::memory_order_relaxed) || postrollPending_.load(std::memory_order_relaxed)) {
            takeFrameCounters_[0].fetch_add(blockFrames, std::memory_order_relaxed);
            takeFrameCounters_[1].fetch_add(blockFrames, std::memory_order_relaxed);
        }
    }

    // --- Tests --------------------------------------------------------------
    // Holds the ring writer between chunks (it then behaves as if the ring
    // had nothing new) to make it fall behind deterministically.
    void holdRingWriterForTest(bool held) { ringWriterHeldForTest_.store(held, std::memory_order_release); }
    void setWriterStateForTest(WriterState state) { writerState_.store(state); }

private:
    // What one take copies: the ring columns in file order and the buffers.
    struct TakeCopyPlan;
    // The ring's write position and the take's end, read together.
    struct RingBounds {
        uint64_t writePosition = 0;
        bool hasEnd = false;
        uint64_t endPosition = 0;
    };

    // Start.
    bool startTake();
    void releasePreviousTakeFiles();
    uint64_t prerollFramesAt(uint64_t writePosition) const;
    void installTakeFiles(TakeFileSet& files);
    void publishTakeStart(uint64_t startPosition);

    // Ring writer thread.
    void ringWriterThreadFunc();
    void writeTake();
    TakeCopyPlan planTakeCopy();
    RingBounds readRingBounds();
    void noteLag(uint64_t lag);
    uint64_t skipOverwrittenFrames(const RingBounds& bounds, uint64_t readPosition);
    void copyChunk(TakeCopyPlan& plan, uint64_t readPosition, uint64_t frames) const;
    bool writeChunk(TakeCopyPlan& plan, uint64_t frames, bool lastChunk);
    void finishTake();
    void closeRecordingFiles();

    // Hand-over points for late-armed tracks, live backup and the copy
    // queue; they do nothing until those parts are built.
    struct LateArmSlot;
    void clearLateArmSlots();
    void startLateArmCapture(int track);
    void writeLateArmSlot(LateArmSlot& slot, uint64_t toPosition);
    bool finalizeLateArmAsMonoFile(LateArmSlot& slot, std::vector<std::string>& closedFiles);
    bool mergeLateArmTracks(std::vector<LateArmSlot>& slots, const std::string& polyFilePath,
                            std::vector<std::string>& closedFiles);
    void writeLateArmChunk(uint64_t fromPosition, uint64_t toPosition);
    bool finalizeLateArmTracks(std::vector<std::string>& closedFiles);
    void enqueueLiveBackupTakes(uint64_t startPosition, const TakeFileSet& files);
    void publishLiveBackupEnd(uint64_t endPosition, const std::string& finalBaseName);
    void publishLiveBackupArm(int track, uint64_t armPosition);
    void queueBackupCopies(const std::vector<std::string>& closedFiles, const std::string& polyFilePath,
                           const std::string& project, const std::string& soundRoll);
    void pauseCopyQueue();
    void resumeCopyQueue();

    TakeEngineSide& engine_;
    TakeBackupSide* backupSide_ = nullptr;
    const int sampleRate_;
    std::shared_ptr<const RecordingRing> ring_;

    // Recording settings (GUI thread).
    int fileFormat_ = kFileFormatMono;
    int bitDepth_ = 24;
    BwfFileWriter::SampleFormat sampleFormat_ = BwfFileWriter::Int24;
    int prerollSeconds_ = 0;
    int postrollSeconds_ = 0;
    // The metadata the GUI sets, and the values the take's file names were
    // built from and those in force at stop (a take that ends without a stop
    // keeps its start values, so it is not renamed).
    mutable std::mutex metadataMutex_;
    TakeMetadata recordingMetadata_;
    TakeMetadata startMetadata_;
    TakeMetadata stopMetadata_;
    TakeSettingsLatch takeSettings_;
    // The last take's timecode capture; before the first, midnight at the
    // empty snapshot's rate.
    StartTimecodeResult takeTimecode_;

    // State machine.
    std::atomic<bool> recording_{false};
    std::atomic<WriterState> writerState_{WriterState::Idle};
    std::mutex writerIdleMutex_;
    std::condition_variable writerIdleCondition_;

    // Ring writer thread.
    std::thread ringWriterThread_;
    std::atomic<bool> ringWriterRunning_{false};
    std::atomic<bool> takeActive_{false};
    std::mutex ringWriterMutex_;
    std::condition_variable ringWriterCondition_;
    std::atomic<bool> ringWriterHeldForTest_{false};
    std::atomic<bool> postrollPending_{false};
    std::atomic<uint64_t> takeStartPosition_{0};
    // A take's end is a ring position only once takeHasEnd_ is set: position
    // 0 is a real ring position, not "no end".
    std::atomic<uint64_t> takeEndPosition_{0};
    std::atomic<bool> takeHasEnd_{false};
    // Held by a stop (or a cut post-roll) while it reads the write position
    // and sets the end, and by the ring writer while it reads the write
    // position and the end. Never taken by the render callback.
    std::mutex takeEndMutex_;
    std::atomic<uint64_t> ringWriterReadPosition_{0};
    std::atomic<uint64_t> ringWriterLargestLag_{0};
    // Masked to the take's track count: the writer writes exactly the tracks
    // the files were opened with.
    std::array<bool, kMaxTracks> armedAtStart_{};

    // The take files: installed by the start, written only by the ring
    // writer, taken out by the close under writersMutex_.
    mutable std::mutex writersMutex_;
    std::unique_ptr<BwfFileWriter> polyWriter_;
    std::vector<std::unique_ptr<BwfFileWriter>> monoWriters_;
    std::vector<int> monoWriterTracks_;
    std::string takeFolder_;
    std::string takeName_;
    std::string polyFilePath_;
    std::string takeStartRefusal_;
    std::vector<std::string> lastClosedTakeFiles_;

    // Late-armed tracks: written by the GUI thread (a capture's start) and
    // the ring writer (appends, finalization), each only under
    // lateArmMutex_. lateArmOpen_ says captures may start: set by the take
    // start, cleared by the finalization when it takes the slots out, so an
    // arm after a write error ended the take cannot race the close.
    struct LateArmSlot {
        std::unique_ptr<BwfFileWriter> writer;
        uint64_t sampleOffset = 0;   // frames from the take's first frame to the arming
        uint64_t startFrame = 0;     // ring position at the arming
        uint64_t nextFrame = 0;      // next ring position to append
        int trackIndex = -1;
        std::string tempPath;
        std::string trackName;
        bool lateArmActive = false;
    };
    mutable std::mutex lateArmMutex_;
    std::array<LateArmSlot, kMaxTracks> lateArmSlots_;
    bool lateArmOpen_ = false;
    std::vector<float> lateArmBuffer_;

    // Backup drives and their live workers. backupMutex_ guards all but the
    // atomics; it is taken before a worker's or a control's own mutex and
    // never while a worker is being waited for.
    void rebuildLiveBackupWorkersLocked(std::vector<std::unique_ptr<LiveBackupWorker>>& retired);
    static void retireLiveBackupWorkers(std::vector<std::unique_ptr<LiveBackupWorker>>& retired);
    mutable std::mutex backupMutex_;
    bool backupEnabled_ = false;
    std::vector<BackupDrive> backupDrives_;
    std::atomic<bool> liveBackupActiveTake_{false};
    std::vector<std::unique_ptr<LiveBackupWorker>> liveBackupWorkers_;
    std::vector<std::shared_ptr<LiveBackupWorker::TakeControl>> liveTakeControls_;
    // Backup drives on a volume that was being formatted when the take
    // started: neither its live backup nor its copy after the close goes there.
    std::vector<std::string> takeLeftOutDrives_;
    bool isLeftOutOfTake(const std::string& drivePath) const;
    std::array<std::atomic<bool>, kMaxLiveBackupDrives> backupDriveFailed_{};
    std::array<std::vector<int>, kMaxLiveBackupDrives> backupDriveWriterIds_;
    AsyncDiskWriter blockWriter_;

    // Render callback: frames of the running take (relaxed; reset by the start).
    std::array<std::atomic<int64_t>, 2> takeFrameCounters_{};
    std::atomic<int64_t> droppedRingFrames_{0};
    std::atomic<int64_t> writeErrorCount_{0};
};
