#include "backup/BackupPartialFiles.h"

#include "backup/BackupLayoutNames.h"
#include "core/DebugLog.h"

#include <algorithm>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <string_view>
#include <system_error>
#include <unistd.h>

namespace {

std::atomic<uint64_t> partialFileCounter{0};
constexpr std::string_view kPartialEnding = ".tonvale.partial";

bool allDigits(std::string_view text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

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

std::string finalNameOfPartial(const std::string& fileName)
{
    if (fileName.size() <= kPartialEnding.size()
        || fileName.compare(fileName.size() - kPartialEnding.size(), kPartialEnding.size(), kPartialEnding) != 0)
        return {};
    std::string_view rest(fileName.data(), fileName.size() - kPartialEnding.size());
    // Two number fields: the counter, then the tick count.
    for (int field = 0; field < 2; ++field) {
        const size_t dot = rest.rfind('.');
        if (dot == std::string_view::npos || !allDigits(rest.substr(dot + 1)))
            return {};
        rest = rest.substr(0, dot);
    }
    return std::string(rest);
}

int removeStalePartialsOfTake(const std::string& folder, const std::vector<std::string>& takeStems)
{
    namespace fs = std::filesystem;
    std::vector<std::string> stale;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (isFileOfTake(finalNameOfPartial(name), takeStems))
            stale.push_back(it->path().string());
    }
    int removed = 0;
    for (const std::string& path : stale) {
        if (::unlink(path.c_str()) == 0) {
            ++removed;
            debugLog("BackupCopyQueue: Removed stale partial file " + path);
        } else if (errno != ENOENT) {
            debugLog("BackupCopyQueue: Failed to remove partial file " + path + ": " + std::strerror(errno));
        }
    }
    return removed;
}
