#pragma once

#include "backup/LiveBackupTakeControl.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// The after-take line of backup: copies finished take files from the
// recording drive to the backup drives, one job at a time on one background
// thread, converting between the polyphonic layout (one file per take) and
// the mono layout (one file per channel) where a drive wants the other. A
// job that carries a live-backup take control first waits for that drive's
// live verdict and copies only when the live backup did not deliver.
//
// Every file is written under a ".tonvale.partial" name, verified (a plain
// copy is read back from the drive and compared byte for byte) and only then
// renamed into place; every failure leaves no partial behind.
//
// Threads:
// - Control thread (the engine's GUI thread): constructor, start, stop,
//   pause, setCompletionCallback, the setters for tests, destructor.
// - Any thread: tryQueueCopy, queueCopy, resume, pause, isBusy,
//   getPendingJobCount, getCurrentJobProgress. None of them waits for a copy:
//   they take queueMutex_ only while the job list is touched.
// - Worker thread (owned; started by start, stopped on stopRequested_ and
//   joined by stop): executes the jobs and calls the completion callback
//   with no queue lock held.
// Every change of paused_ or stopRequested_ is made under queueMutex_, so a
// waiter that has just tested the flags cannot miss the wake-up.
// queueMutex_ and callbackMutex_ are never held together.
class BackupCopyQueue {
public:
    enum Layout {
        Polyphonic = 0,
        Mono = 1,
    };
    static constexpr int kMaxWaitingJobs = 128;
    static constexpr std::chrono::milliseconds kDefaultLiveVerdictTimeout{120000};

    struct CopyJob {
        std::string sourcePath;      // a take file; for mono to polyphonic, any of the take's mono files
        std::string destinationDir;  // folder on the drive that receives the result
        int sourceFormat = Polyphonic;
        int destinationFormat = Polyphonic;
        bool completed = false;
        bool failed = false;
        std::string errorMessage;
        std::shared_ptr<LiveBackupTakeControl> takeControl;  // set when the take was backed up live
        // The drive's root folder. It is never created: it must exist and be
        // the volume it was when the job was queued, so a vanished drive's
        // copy never lands on the system disk. Empty: the destination's parent
        // folder must exist.
        std::string driveRoot;
        uint64_t driveDevice = 0;  // the root's device number when queued; 0 when it was missing
        // A take repaired after a crash: once its copy is verified, the
        // partial files its interrupted backups left in the destination go.
        bool removeStalePartials = false;
    };
    using CompletionCallback = std::function<void(const CopyJob&)>;

    BackupCopyQueue();
    // Stops the worker; jobs that never ran are reported as cancelled.
    ~BackupCopyQueue();
    BackupCopyQueue(const BackupCopyQueue&) = delete;
    BackupCopyQueue& operator=(const BackupCopyQueue&) = delete;

    void start();
    // Ends and joins the worker: a running copy stops before its next chunk
    // and fails with "Copy cancelled". Every job still waiting is logged as a
    // WARNING and handed to the callback as failed ("Copy cancelled").
    void stop();

    // False (logged) when kMaxWaitingJobs jobs already wait.
    bool tryQueueCopy(const std::string& sourcePath, const std::string& destinationDir, int sourceFormat,
                      int destinationFormat, std::shared_ptr<LiveBackupTakeControl> takeControl,
                      const std::string& driveRoot = std::string());
    void queueCopy(const std::string& sourcePath, const std::string& destinationDir, int sourceFormat,
                   int destinationFormat);
    // A take repaired on the recording drive: copied like any take (no live
    // verdict to wait for), then the take's stale partial files in the
    // destination are removed. False (logged) when the queue is full.
    bool tryQueueRepairedCopy(const std::string& sourcePath, const std::string& destinationDir, int sourceFormat,
                              int destinationFormat, const std::string& driveRoot);

    // A take file moved on the recording drive after its copy was queued (a
    // false take goes into a subfolder under a new name): a job for `from`
    // that has not yet read its source copies `to` into `subfolder` of its
    // destination instead, so the copy lands where the drive's other copies
    // of the take were moved. Kept until the queue runs dry.
    void redirectSource(const std::string& from, const std::string& to, const std::string& subfolder);

    // While paused no job starts and a running copy holds between chunks.
    void pause();
    void resume();

    bool isBusy() const { return busy_.load(std::memory_order_acquire); }
    bool isPaused() const { return paused_.load(std::memory_order_acquire); }
    bool isRunning() const { return running_.load(std::memory_order_acquire); }
    int getPendingJobCount() const;
    // A job runs or waits. One reading under queueMutex_: isBusy and
    // getPendingJobCount read one after the other can both say no while the
    // worker moves the next job from the list to busy.
    bool hasWork() const;
    double getCurrentJobProgress() const { return currentJobProgress_.load(std::memory_order_acquire); }
    void setCurrentJobProgress(double fraction);

    // Called on the worker thread after every executed job (and for every job
    // that stop cancels); an empty function removes it.
    void setCompletionCallback(CompletionCallback callback);

    // Waits while paused; false (errorMessage "Copy cancelled") when a stop
    // was requested.
    bool waitForCopyPermission(CopyJob& job);

    // How long a job waits for a pending live verdict before it cancels the
    // live publication and copies itself.
    void setLiveVerdictTimeout(std::chrono::milliseconds timeout) { liveVerdictTimeoutMs_.store(timeout.count()); }

    // Tests: called with each plain copy's partial path after it was written
    // and synced, before it is read back (a test flips a byte here).
    void setPartialWrittenHookForTest(std::function<void(const std::string&)> hook);

private:
    void workerThreadFunc();
    void runJob(CopyJob& job);
    void deliverCompletion(const CopyJob& job);
    void cancelWaitingJobs();
    bool enqueue(CopyJob job);
    // Applies a redirect registered for the job's source; false when there is none.
    bool applyRedirect(CopyJob& job);

    // One job (BackupCopyQueueTransfer.cpp).
    bool executeCopyJob(CopyJob& job);
    bool awaitLiveVerdict(CopyJob& job, bool& liveDelivered);
    bool prepareDestination(CopyJob& job);
    bool simpleCopy(const std::string& source, const std::string& destinationDir, CopyJob& job);
    bool verifyCopyAgainstSource(const std::string& source, const std::string& partial, CopyJob& job);
    bool failJob(CopyJob& job, const std::string& message);

    // Layout conversions (BackupCopyQueueConversion.cpp).
    bool convertPolyphonicToMono(const std::string& source, const std::string& destinationDir, CopyJob& job);
    bool convertMonoToPolyphonic(const std::string& source, const std::string& destinationDir, CopyJob& job);

    struct Redirect {
        std::string to;
        std::string subfolder;
    };

    std::deque<CopyJob> jobs_;
    std::map<std::string, Redirect> redirects_;  // by moved source path; guarded by queueMutex_
    mutable std::mutex queueMutex_;
    std::condition_variable queueCondition_;
    std::thread workerThread_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> busy_{false};
    std::atomic<bool> paused_{false};
    // Stored with release by the worker, loaded with acquire by the window's
    // poll: a plain fraction, no data hangs on it.
    std::atomic<double> currentJobProgress_{0.0};
    std::atomic<int64_t> liveVerdictTimeoutMs_{kDefaultLiveVerdictTimeout.count()};

    std::mutex callbackMutex_;
    CompletionCallback completionCallback_;
    std::function<void(const std::string&)> partialWrittenHook_;  // guarded by callbackMutex_
};
