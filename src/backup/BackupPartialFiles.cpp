#include "backup/BackupPartialFiles.h"

#include "core/DebugLog.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

std::atomic<uint64_t> partialFileCounter{0};

}  // namespace

std::string makePartialPath(const std::string& finalPath)
{
    const auto ticks = std::chrono::steady_clock::now().time_since_epoch();
    const int64_t nanoseconds = std::chrono::duration_cast<std::chrono::nanoseconds>(ticks).count();
    const uint64_t counter = partialFileCounter.fetch_add(1, std::memory_order_relaxed);
    return finalPath + "." + std::to_string(nanoseconds) + "." + std::to_string(counter) + ".tonvale.partial";
}

void removePartialFile(const std::string& path)
{
    if (path.empty())
        return;
    if (::unlink(path.c_str()) != 0 && errno != ENOENT)
        debugLog("BackupCopyQueue: Failed to remove partial file " + path + ": " + std::strerror(errno));
}

bool finalizePartialFile(const std::string& partialPath, const std::string& finalPath, std::string& error)
{
    // rename replaces an existing final file in one step; removing it first
    // would lose a good copy whenever the second rename failed too.
    if (std::rename(partialPath.c_str(), finalPath.c_str()) == 0)
        return true;
    error = "Failed to finalize " + finalPath + ": " + std::strerror(errno);
    return false;
}

bool syncFileToDrive(const std::string& path, std::string& error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "Cannot open " + path + " to sync it: " + std::strerror(errno);
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced)
        error = "Cannot sync " + path + ": " + std::strerror(errno);
    ::close(fd);
    return synced;
}
