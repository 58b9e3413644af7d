#include "BackupTestSupport.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/mount.h>

namespace fs = std::filesystem;

void CompletedJobs::add(const BackupCopyQueue::CopyJob& job)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        jobs_.push_back(job);
    }
    condition_.notify_all();
}

bool CompletedJobs::waitFor(size_t count, std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(mutex_);
    return condition_.wait_for(lock, timeout, [&] { return jobs_.size() >= count; });
}

std::vector<BackupCopyQueue::CopyJob> CompletedJobs::jobs() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return jobs_;
}

std::vector<uint8_t> readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::vector<uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> patternBytes(size_t count, uint32_t seed)
{
    std::vector<uint8_t> bytes(count);
    uint32_t state = seed * 2654435761u + 1;
    for (auto& byte : bytes) {
        state = state * 1664525u + 1013904223u;
        byte = static_cast<uint8_t>(state >> 24);
    }
    return bytes;
}

std::vector<std::string> fileNamesIn(const std::string& folder)
{
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

TmpfsDrive::TmpfsDrive(const std::string& mountPoint, uint64_t sizeBytes) : mountPoint_(mountPoint)
{
    fs::create_directories(mountPoint_);
    const std::string options = "size=" + std::to_string(sizeBytes);
    if (::mount("tmpfs", mountPoint_.c_str(), "tmpfs", 0, options.c_str()) == 0)
        mounted_ = true;
    else
        reason_ = std::string("cannot mount a tmpfs here (") + std::strerror(errno) + ")";
}

TmpfsDrive::~TmpfsDrive()
{
    if (mounted_)
        ::umount2(mountPoint_.c_str(), MNT_DETACH);
}
