// The copy queue itself: the job list, the worker thread, pausing, progress
// and the completion callback. One job's execution is in
// BackupCopyQueueTransfer.cpp, the layout conversions in
// BackupCopyQueueConversion.cpp.
#include "backup/BackupCopyQueue.h"

#include "backup/BackupLayoutNames.h"
#include "backup/BackupPartialFiles.h"
#include "core/DebugLog.h"
#include "platform/thread/ThreadServiceClass.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <sys/stat.h>

namespace {

namespace fs = std::filesystem;

constexpr std::chrono::milliseconds kIdlePoll{100};

uint64_t deviceOf(const std::string& path)
{
    struct stat status {};
    if (path.empty() || ::stat(path.c_str(), &status) != 0)
        return 0;
    return static_cast<uint64_t>(status.st_dev);
}

}  // namespace

BackupCopyQueue::BackupCopyQueue() = default;

BackupCopyQueue::~BackupCopyQueue()
{
    stop();
}

void BackupCopyQueue::start()
{
    if (running_.load(std::memory_order_acquire))
        return;
    stopRequested_.store(false, std::memory_order_release);
    running_.store(true, std::memory_order_release);
    workerThread_ = std::thread(&BackupCopyQueue::workerThreadFunc, this);
    debugLog("BackupCopyQueue worker started");
}

void BackupCopyQueue::stop()
{
    if (running_.load(std::memory_order_acquire)) {
        {
            std::lock_guard<std::mutex> lock(queueMutex_);
            stopRequested_.store(true, std::memory_order_release);
            paused_.store(false, std::memory_order_release);
        }
        queueCondition_.notify_all();
        if (workerThread_.joinable())
            workerThread_.join();
        running_.store(false, std::memory_order_release);
        debugLog("BackupCopyQueue worker stopped");
    }
    cancelWaitingJobs();
}

// A job that will never run must not vanish silently: the take it carries
// would not be on that drive and nothing would say so.
void BackupCopyQueue::cancelWaitingJobs()
{
    std::deque<CopyJob> cancelled;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        cancelled.swap(jobs_);
    }
    for (CopyJob& job : cancelled) {
        debugLog("BackupCopyQueue: WARNING - Job not run (queue stopped): " + job.sourcePath + " -> "
                 + job.destinationDir);
        job.completed = true;
        job.failed = true;
        job.errorMessage = "Copy cancelled";
        deliverCompletion(job);
    }
}

bool BackupCopyQueue::tryQueueCopy(const std::string& sourcePath, const std::string& destinationDir, int sourceFormat,
                                   int destinationFormat, std::shared_ptr<LiveBackupTakeControl> takeControl,
                                   const std::string& driveRoot)
{
    CopyJob job;
    job.sourcePath = sourcePath;
    job.destinationDir = destinationDir;
    job.sourceFormat = sourceFormat;
    job.destinationFormat = destinationFormat;
    job.takeControl = std::move(takeControl);
    job.driveRoot = driveRoot;
    job.driveDevice = deviceOf(driveRoot);
    return enqueue(std::move(job));
}

bool BackupCopyQueue::tryQueueRepairedCopy(const std::string& sourcePath, const std::string& destinationDir,
                                           int sourceFormat, int destinationFormat, const std::string& driveRoot)
{
    CopyJob job;
    job.sourcePath = sourcePath;
    job.destinationDir = destinationDir;
    job.sourceFormat = sourceFormat;
    job.destinationFormat = destinationFormat;
    job.driveRoot = driveRoot;
    job.driveDevice = deviceOf(driveRoot);
    job.removeStalePartials = true;
    return enqueue(std::move(job));
}

bool BackupCopyQueue::enqueue(CopyJob job)
{
    const std::string sourcePath = job.sourcePath;
    const std::string destinationDir = job.destinationDir;
    const int sourceFormat = job.sourceFormat;
    const int destinationFormat = job.destinationFormat;
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (jobs_.size() >= static_cast<size_t>(kMaxWaitingJobs)) {
            debugLog("BackupCopyQueue: Queue full (" + std::to_string(kMaxWaitingJobs) + " jobs); rejecting "
                     + sourcePath + " -> " + destinationDir);
            return false;
        }
        jobs_.push_back(std::move(job));
        debugLog("BackupCopyQueue: Job queued - " + sourcePath + " -> " + destinationDir + " (format "
                 + std::to_string(sourceFormat) + " -> " + std::to_string(destinationFormat) + ")");
    }
    queueCondition_.notify_one();
    return true;
}

void BackupCopyQueue::redirectSource(const std::string& from, const std::string& to, const std::string& subfolder)
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    // Nothing runs or waits: no job can still read `from`.
    if (!busy_.load(std::memory_order_acquire) && jobs_.empty())
        return;
    redirects_[fs::path(from).lexically_normal().string()] = Redirect{to, subfolder};
}

bool BackupCopyQueue::applyRedirect(CopyJob& job)
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    const auto found = redirects_.find(fs::path(job.sourcePath).lexically_normal().string());
    if (found == redirects_.end())
        return false;
    debugLog("BackupCopyQueue: Source moved to " + found->second.to + "; copying it into "
             + job.destinationDir + "/" + found->second.subfolder);
    job.sourcePath = found->second.to;
    job.destinationDir += "/" + found->second.subfolder;
    return true;
}

void BackupCopyQueue::queueCopy(const std::string& sourcePath, const std::string& destinationDir, int sourceFormat,
                                int destinationFormat)
{
    tryQueueCopy(sourcePath, destinationDir, sourceFormat, destinationFormat, nullptr);
}

void BackupCopyQueue::pause()
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (paused_.load(std::memory_order_acquire))
        return;
    paused_.store(true, std::memory_order_release);
    debugLog("BackupCopyQueue: PAUSED (recording started)");
}

void BackupCopyQueue::resume()
{
    {
        std::lock_guard<std::mutex> lock(queueMutex_);
        if (!paused_.load(std::memory_order_acquire))
            return;
        paused_.store(false, std::memory_order_release);
        debugLog("BackupCopyQueue: RESUMED (recording stopped)");
    }
    // Every waiter: the idle worker and a copy held between chunks wait on
    // the same condition.
    queueCondition_.notify_all();
}

int BackupCopyQueue::getPendingJobCount() const
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    return static_cast<int>(jobs_.size());
}

bool BackupCopyQueue::hasWork() const
{
    std::lock_guard<std::mutex> lock(queueMutex_);
    return busy_.load(std::memory_order_acquire) || !jobs_.empty();
}

void BackupCopyQueue::setCurrentJobProgress(double fraction)
{
    currentJobProgress_.store(std::clamp(fraction, 0.0, 1.0), std::memory_order_release);
}

void BackupCopyQueue::setCompletionCallback(CompletionCallback callback)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    completionCallback_ = std::move(callback);
}

void BackupCopyQueue::setPartialWrittenHookForTest(std::function<void(const std::string&)> hook)
{
    std::lock_guard<std::mutex> lock(callbackMutex_);
    partialWrittenHook_ = std::move(hook);
}

bool BackupCopyQueue::waitForCopyPermission(CopyJob& job)
{
    if (!stopRequested_.load(std::memory_order_acquire) && paused_.load(std::memory_order_acquire)) {
        std::unique_lock<std::mutex> lock(queueMutex_);
        queueCondition_.wait(lock, [this] {
            return !paused_.load(std::memory_order_acquire) || stopRequested_.load(std::memory_order_acquire);
        });
    }
    if (stopRequested_.load(std::memory_order_acquire)) {
        job.errorMessage = "Copy cancelled";
        return false;
    }
    return true;
}

void BackupCopyQueue::workerThreadFunc()
{
    debugLog("BackupCopyQueue: Worker thread started");
    debugLog("BackupCopyQueue: Jobs will be processed ONE AT A TIME (sequential, not parallel)");
    debugLog("BackupCopyQueue: This ensures only one drive writes at a time, keeping UI responsive");
    std::string reason;
    if (setCurrentThreadServiceClass(ThreadServiceClass::Background, 0, reason))
        debugLog("BackupCopyQueue: Thread priority set to low (background)");
    else
        debugLog("BackupCopyQueue: Thread priority unchanged: " + reason);

    while (!stopRequested_.load(std::memory_order_acquire)) {
        CopyJob job;
        {
            std::unique_lock<std::mutex> lock(queueMutex_);
            queueCondition_.wait_for(lock, kIdlePoll, [this] {
                return (!jobs_.empty() && !paused_.load(std::memory_order_acquire))
                       || stopRequested_.load(std::memory_order_acquire);
            });
            if (stopRequested_.load(std::memory_order_acquire) || jobs_.empty()
                || paused_.load(std::memory_order_acquire))
                continue;
            job = std::move(jobs_.front());
            jobs_.pop_front();
            // Busy before the job leaves the count: a poll in between must not
            // see an idle queue with nothing pending.
            busy_.store(true, std::memory_order_release);
        }
        runJob(job);
    }
    debugLog("BackupCopyQueue: Worker thread finished");
}

void BackupCopyQueue::runJob(CopyJob& job)
{
    setCurrentJobProgress(0.0);
    bool ok = false;
    try {
        ok = executeCopyJob(job);
        // The source moved while the copy read it: the moved file is copied
        // where the move says.
        if (!ok && !stopRequested_.load(std::memory_order_acquire) && applyRedirect(job)) {
            job.errorMessage.clear();
            ok = executeCopyJob(job);
        }
        if (ok && job.removeStalePartials)
            removeStalePartialsOfTake(job.destinationDir, takeStemsOfFile(fs::path(job.sourcePath).filename().string()));
    } catch (const std::exception& error) {
        job.errorMessage = std::string("Unhandled copy error: ") + error.what();
        debugLog("BackupCopyQueue: " + job.errorMessage);
    } catch (...) {
        job.errorMessage = "Unhandled unknown copy error";
        debugLog("BackupCopyQueue: " + job.errorMessage);
    }
    job.completed = true;
    job.failed = !ok;
    deliverCompletion(job);
    setCurrentJobProgress(0.0);
    std::lock_guard<std::mutex> lock(queueMutex_);
    if (jobs_.empty())
        redirects_.clear();  // no job is left to follow them
    busy_.store(false, std::memory_order_release);
}

void BackupCopyQueue::deliverCompletion(const CopyJob& job)
{
    CompletionCallback callback;
    {
        std::lock_guard<std::mutex> lock(callbackMutex_);
        callback = completionCallback_;
    }
    if (!callback)
        return;
    try {
        callback(job);
    } catch (const std::exception& error) {
        debugLog(std::string("BackupCopyQueue: Completion callback failed: ") + error.what());
    } catch (...) {
        debugLog("BackupCopyQueue: Completion callback failed with unknown error");
    }
}
