#pragma once

#include "backup/BackupCopyQueue.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

// Collects the jobs a queue's completion callback delivers and lets a test
// wait for them on a condition.
class CompletedJobs {
public:
    void attach(BackupCopyQueue& queue)
    {
        queue.setCompletionCallback([this](const BackupCopyQueue::CopyJob& job) { add(job); });
    }
    void add(const BackupCopyQueue::CopyJob& job);
    // False when fewer than `count` jobs completed within the timeout.
    bool waitFor(size_t count, std::chrono::milliseconds timeout = std::chrono::seconds(60));
    std::vector<BackupCopyQueue::CopyJob> jobs() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable condition_;
    std::vector<BackupCopyQueue::CopyJob> jobs_;
};

std::vector<uint8_t> readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes);
// Bytes whose every position differs from its neighbours (a shifted or
// dropped chunk shows).
std::vector<uint8_t> patternBytes(size_t count, uint32_t seed);
// Regular files in a folder, by name, partial files included.
std::vector<std::string> fileNamesIn(const std::string& folder);

// A small tmpfs, a drive that fills up. ok() false (with reason()) where
// this machine cannot mount one; the test then skips visibly.
class TmpfsDrive {
public:
    TmpfsDrive(const std::string& mountPoint, uint64_t sizeBytes);
    ~TmpfsDrive();
    TmpfsDrive(const TmpfsDrive&) = delete;
    TmpfsDrive& operator=(const TmpfsDrive&) = delete;
    bool ok() const { return mounted_; }
    const std::string& reason() const { return reason_; }
    const std::string& path() const { return mountPoint_; }

private:
    std::string mountPoint_;
    bool mounted_ = false;
    std::string reason_;
};
