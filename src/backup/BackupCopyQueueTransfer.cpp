// One copy job on the queue's worker thread: the wait for the live backup's
// verdict, the destination folder on the drive, the source check, the
// dispatch to a plain copy or a layout conversion, and the plain copy with
// its read-back check.
#include "backup/BackupCopyQueue.h"

#include "backup/BackupPartialFiles.h"
#include "core/DebugLog.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr size_t kCopyChunkBytes = 1024 * 1024;
constexpr std::chrono::milliseconds kChunkPause{2};
constexpr std::chrono::milliseconds kVerdictPoll{10};

std::string fileNameOf(const std::string& path)
{
    return fs::path(path).filename().string();
}

// Closes a descriptor once, at scope exit or when asked.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    bool close()
    {
        if (fd_ < 0)
            return true;
        const bool closed = ::close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

private:
    int fd_;
};

// Reads up to `count` bytes, retrying short reads; -1 on an error.
ssize_t readFully(int fd, uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t got = ::read(fd, buffer + done, count - done);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return -1;
        }
        if (got == 0)
            break;
        done += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(done);
}

bool writeFully(int fd, const uint8_t* buffer, size_t count)
{
    size_t done = 0;
    while (done < count) {
        const ssize_t put = ::write(fd, buffer + done, count - done);
        if (put < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        done += static_cast<size_t>(put);
    }
    return true;
}

std::string systemMessage()
{
    return std::strerror(errno);
}

}  // namespace

bool BackupCopyQueue::failJob(CopyJob& job, const std::string& message)
{
    job.errorMessage = message;
    debugLog("BackupCopyQueue: " + message);
    return false;
}

bool BackupCopyQueue::executeCopyJob(CopyJob& job)
{
    debugLog("BackupCopyQueue: Executing job - " + job.sourcePath + " -> " + job.destinationDir);
    if (job.takeControl) {
        bool liveDelivered = false;
        if (!awaitLiveVerdict(job, liveDelivered))
            return false;
        if (liveDelivered)
            return true;
    }
    if (!waitForCopyPermission(job))
        return false;
    applyRedirect(job);
    if (!prepareDestination(job))
        return false;

    std::error_code error;
    const fs::file_status sourceStatus = fs::status(job.sourcePath, error);
    if (error || !fs::exists(sourceStatus))
        return failJob(job, "Source path does not exist: " + job.sourcePath);

    if (job.sourceFormat == job.destinationFormat)
        return simpleCopy(job.sourcePath, job.destinationDir, job);
    if (job.sourceFormat == Polyphonic && job.destinationFormat == Mono)
        return convertPolyphonicToMono(job.sourcePath, job.destinationDir, job);
    if (job.sourceFormat == Mono && job.destinationFormat == Polyphonic)
        return convertMonoToPolyphonic(job.sourcePath, job.destinationDir, job);
    return failJob(job, "Unknown format conversion requested");
}

// True with liveDelivered when the live backup verified the take; false when
// the job was cancelled while waiting.
bool BackupCopyQueue::awaitLiveVerdict(CopyJob& job, bool& liveDelivered)
{
    LiveBackupTakeControl& control = *job.takeControl;
    const auto deadline = std::chrono::steady_clock::now()
                          + std::chrono::milliseconds(liveVerdictTimeoutMs_.load(std::memory_order_relaxed));
    while (control.status.load(std::memory_order_acquire) == LiveBackupTakeControl::Pending) {
        if (!waitForCopyPermission(job))
            return false;
        if (std::chrono::steady_clock::now() >= deadline) {
            // The live worker must not publish over the copy made now.
            control.cancelPublication.store(true, std::memory_order_release);
            debugLog("BackupCopyQueue: Live backup timed out; cancelling publication and running finalized-primary "
                     "fallback for "
                     + job.destinationDir);
            break;
        }
        std::this_thread::sleep_for(kVerdictPoll);
    }
    if (control.status.load(std::memory_order_acquire) == LiveBackupTakeControl::Verified) {
        debugLog("BackupCopyQueue: Live backup verified; fallback copy skipped for " + job.destinationDir);
        setCurrentJobProgress(1.0);
        liveDelivered = true;
        return true;
    }
    debugLog("BackupCopyQueue: Live backup failed; running finalized-primary fallback for " + job.destinationDir);
    return true;
}

// Creates the destination below the drive's root, one level at a time, and
// never the root itself: a drive that vanished must fail the job, not have
// its folders and copy recreated on the system disk.
bool BackupCopyQueue::prepareDestination(CopyJob& job)
{
    const std::string prefix = "Failed to create destination directory: ";
    const fs::path destination = fs::path(job.destinationDir).lexically_normal();
    fs::path root = job.driveRoot.empty() ? destination.parent_path() : fs::path(job.driveRoot).lexically_normal();
    if (root.has_filename() == false && root.has_parent_path() && root != root.root_path())
        root = root.parent_path();  // a trailing separator

    struct stat rootStatus {};
    if (::stat(root.c_str(), &rootStatus) != 0)
        return failJob(job, prefix + "drive folder " + root.string() + " is not available: " + systemMessage());
    if (!S_ISDIR(rootStatus.st_mode))
        return failJob(job, prefix + "drive folder " + root.string() + " is not a folder");
    if (!job.driveRoot.empty() && job.driveDevice != static_cast<uint64_t>(rootStatus.st_dev))
        return failJob(job, prefix + "drive folder " + root.string() + " is no longer the drive it was when the take "
                                         "was queued");

    const fs::path relative = destination.lexically_relative(root);
    if (relative.empty() || *relative.begin() == "..")
        return failJob(job, prefix + job.destinationDir + " does not lie on the drive " + root.string());
    fs::path current = root;
    for (const fs::path& part : relative) {
        if (part == ".")
            continue;
        current /= part;
        if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST)
            return failJob(job, prefix + current.string() + ": " + systemMessage());
    }
    std::error_code error;
    if (!fs::is_directory(destination, error))
        return failJob(job, prefix + job.destinationDir + " is not a folder"
                                + (error ? " (" + error.message() + ")" : std::string()));
    return true;
}

bool BackupCopyQueue::simpleCopy(const std::string& source, const std::string& destinationDir, CopyJob& job)
{
    std::string partial;
    try {
        const std::string finalPath = (fs::path(destinationDir) / fs::path(source).filename()).string();
        partial = makePartialPath(finalPath);
        PartialFileGuard guard(partial);
        const uintmax_t sizeBytes = fs::file_size(source);

        FileDescriptor in(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
        FileDescriptor out(::open(partial.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        if (!in.valid() || !out.valid())
            return failJob(job, "Failed to open source or partial destination");

        std::vector<uint8_t> buffer(kCopyChunkBytes, 0);
        uintmax_t copied = 0;
        for (;;) {
            if (!waitForCopyPermission(job))
                return failJob(job, "Copy cancelled");
            const ssize_t got = readFully(in.get(), buffer.data(), buffer.size());
            if (got < 0 || (got == 0 && copied != sizeBytes))
                return failJob(job, "Read failed or source changed while copying " + source);
            if (got == 0)
                break;
            if (!writeFully(out.get(), buffer.data(), static_cast<size_t>(got)))
                return failJob(job, "Write failed while copying " + source + ": " + systemMessage());
            copied += static_cast<uintmax_t>(got);
            if (copied > sizeBytes)
                return failJob(job, "Read failed or source changed while copying " + source);
            setCurrentJobProgress(sizeBytes == 0 ? 1.0 : static_cast<double>(copied) / static_cast<double>(sizeBytes));
            std::this_thread::sleep_for(kChunkPause);
        }
        // On the drive before it is read back, and out of the page cache so
        // the read-back sees what the drive holds.
        if (::fsync(out.get()) != 0)
            return failJob(job, "Failed to flush partial copy " + partial + ": " + systemMessage());
        if (!out.close())
            return failJob(job, "Failed to flush partial copy " + partial + ": " + systemMessage());
        in.close();

        std::error_code error;
        const uintmax_t partialBytes = fs::file_size(partial, error);
        if (error || partialBytes != sizeBytes)
            return failJob(job, "Backup size verification failed for " + partial);
        if (!verifyCopyAgainstSource(source, partial, job))
            return false;

        fs::permissions(partial, fs::status(source).permissions(), fs::perm_options::replace, error);
        const auto modified = fs::last_write_time(source, error);
        if (!error)
            fs::last_write_time(partial, modified, error);

        if (!finalizePartialFile(partial, finalPath, job.errorMessage))
            return failJob(job, job.errorMessage);
        guard.disarm();
        setCurrentJobProgress(1.0);
        debugLog("BackupCopyQueue: Copied " + fileNameOf(source) + " to " + destinationDir);
        return true;
    } catch (const std::exception& error) {
        if (!partial.empty())
            removePartialFile(partial);
        return failJob(job, std::string("Copy failed: ") + error.what());
    }
}

// Reads the partial back from the drive and compares it with the source
// byte for byte: a size check alone passes a copy with a flipped byte.
bool BackupCopyQueue::verifyCopyAgainstSource(const std::string& source, const std::string& partial, CopyJob& job)
{
    std::function<void(const std::string&)> hook;
    {
        std::lock_guard<std::mutex> lock(callbackMutex_);
        hook = partialWrittenHook_;
    }
    if (hook)
        hook(partial);

    const std::string failure = "Backup read-back verification failed for " + partial;
    FileDescriptor copy(::open(partial.c_str(), O_RDONLY | O_CLOEXEC));
    FileDescriptor original(::open(source.c_str(), O_RDONLY | O_CLOEXEC));
    if (!copy.valid() || !original.valid())
        return failJob(job, failure + ": " + systemMessage());
    ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_DONTNEED);
    ::posix_fadvise(copy.get(), 0, 0, POSIX_FADV_SEQUENTIAL);
    std::vector<uint8_t> copyBytes(kCopyChunkBytes);
    std::vector<uint8_t> originalBytes(kCopyChunkBytes);
    for (;;) {
        if (!waitForCopyPermission(job))
            return failJob(job, "Copy cancelled");
        const ssize_t fromCopy = readFully(copy.get(), copyBytes.data(), copyBytes.size());
        const ssize_t fromOriginal = readFully(original.get(), originalBytes.data(), originalBytes.size());
        if (fromCopy < 0 || fromOriginal < 0)
            return failJob(job, failure + ": " + systemMessage());
        if (fromCopy != fromOriginal
            || std::memcmp(copyBytes.data(), originalBytes.data(), static_cast<size_t>(fromCopy)) != 0)
            return failJob(job, failure + ": the copy differs from " + source);
        if (fromCopy == 0)
            return true;
    }
}
