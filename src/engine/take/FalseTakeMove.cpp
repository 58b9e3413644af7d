#include "engine/take/FalseTakeMove.h"

#include "core/DebugLog.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <system_error>
#include <utility>

namespace {

namespace fs = std::filesystem;
using Milliseconds = std::chrono::milliseconds;

// Files of one take close within moments of each other; a file older than
// this beside the newest belongs to an earlier take.
constexpr Milliseconds kSameTakeWindow = std::chrono::minutes(1);

// File times compared at millisecond resolution: files closed in the same
// millisecond count as written together and are ordered by name.
Milliseconds millisecondsOf(fs::file_time_type time)
{
    return std::chrono::floor<Milliseconds>(time.time_since_epoch());
}

std::string absoluteClean(const fs::path& path)
{
    std::error_code error;
    const fs::path absolute = fs::absolute(path, error);
    return (error ? path : absolute).lexically_normal().string();
}

// A take file's name: ".wav" in any letter case; hidden files are no take's.
bool isTakeFileName(const std::string& name)
{
    constexpr std::string_view kExtension = ".wav";
    if (name.empty() || name.front() == '.' || name.size() < kExtension.size())
        return false;
    const std::string_view tail = std::string_view(name).substr(name.size() - kExtension.size());
    return std::equal(tail.begin(), tail.end(), kExtension.begin(), [](char a, char b) {
        return static_cast<char>(a >= 'A' && a <= 'Z' ? a - 'A' + 'a' : a) == b;
    });
}

bool isFileInFolder(const fs::path& file, const fs::path& folder)
{
    std::error_code error;
    if (!fs::is_regular_file(file, error))
        return false;
    return fs::equivalent(fs::path(absoluteClean(file)).parent_path(), folder, error);
}

struct TakeFileEntry {
    std::string path;
    std::string name;
    Milliseconds modified;
};

std::vector<TakeFileEntry> takeFilesNewestFirst(const std::string& folder)
{
    std::vector<TakeFileEntry> entries;
    const fs::path absoluteFolder = absoluteClean(folder);
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code entryError;
        if (!isTakeFileName(name) || !it->is_regular_file(entryError))
            continue;
        const fs::file_time_type modified = it->last_write_time(entryError);
        if (entryError)
            continue;
        entries.push_back({(absoluteFolder / name).string(), name, millisecondsOf(modified)});
    }
    std::sort(entries.begin(), entries.end(), [](const TakeFileEntry& a, const TakeFileEntry& b) {
        return a.modified != b.modified ? a.modified > b.modified : a.name < b.name;
    });
    return entries;
}

std::string reasonOf(int errorNumber)
{
    return std::error_code(errorNumber, std::generic_category()).message();
}

// Another file system: the copy is complete before the source goes, and a
// source that cannot be removed takes its copy back, so the file is in one
// place only.
bool copyThenRemove(const fs::path& source, const fs::path& target, std::string& error)
{
    std::error_code code;
    if (!fs::copy_file(source, target, fs::copy_options::none, code)) {
        error = "cannot copy to " + target.string() + ": " + code.message();
        return false;
    }
    if (!fs::remove(source, code)) {
        error = "cannot remove the source after copying: " + (code ? code.message() : std::string("not found"));
        fs::remove(target, code);
        return false;
    }
    return true;
}

// Renames without ever replacing: a file already at the target makes the
// rename fail instead of losing that file.
bool renameNoReplace(const fs::path& source, const fs::path& target, std::string& error)
{
    if (::renameat2(AT_FDCWD, source.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
        return true;
    int errorNumber = errno;
    // Some network and FUSE file systems refuse the no-replace flag; the
    // target was seen free just before.
    if (errorNumber == EINVAL) {
        if (std::rename(source.c_str(), target.c_str()) == 0)
            return true;
        errorNumber = errno;
    }
    if (errorNumber == EXDEV)
        return copyThenRemove(source, target, error);
    error = reasonOf(errorNumber);
    return false;
}

FalseTakeFileMove moveOne(const std::string& sourcePath, const std::string& falseFolder)
{
    FalseTakeFileMove move;
    move.sourcePath = sourcePath;
    move.targetPath = falseFolder + "/" + kFalseTakeFilePrefix + fs::path(sourcePath).filename().string();
    std::error_code code;
    if (!fs::exists(sourcePath, code))
        move.error = "the file is missing";
    else if (fs::exists(fs::symlink_status(move.targetPath, code)))
        move.error = "a file of that name is already in " + falseFolder;
    else
        move.moved = renameNoReplace(sourcePath, move.targetPath, move.error);
    return move;
}

} // namespace

int FalseTakeMoveResult::movedCount() const
{
    return static_cast<int>(std::count_if(files.begin(), files.end(), [](const FalseTakeFileMove& file) {
        return file.moved;
    }));
}

std::vector<std::string> lastTakeFiles(const std::string& takeFolder, const std::vector<std::string>& closedTakeFiles,
                                       fs::file_time_type now)
{
    std::vector<std::string> files;
    for (const std::string& path : closedTakeFiles) {
        if (!isFileInFolder(path, takeFolder)) {
            files.clear();
            break;
        }
        files.push_back(absoluteClean(path));
    }
    if (!files.empty())
        return files;

    const Milliseconds nowMs = millisecondsOf(now);
    for (const TakeFileEntry& entry : takeFilesNewestFirst(takeFolder)) {
        if (!files.empty() && nowMs - entry.modified >= kSameTakeWindow)
            break;
        files.push_back(entry.path);
    }
    return files;
}

FalseTakeMoveResult moveToFalseTakes(const std::string& takeFolder, const std::vector<std::string>& files)
{
    const std::string falseFolder = takeFolder + "/" + kFalseTakeFolderName;
    std::error_code error;
    // A folder that cannot be made shows as each file's failure below.
    fs::create_directories(falseFolder, error);

    FalseTakeMoveResult result;
    for (const std::string& path : files) {
        FalseTakeFileMove move = moveOne(path, falseFolder);
        if (move.moved)
            debugLog("Moved false take: " + move.sourcePath + " -> " + move.targetPath);
        else
            debugLog("Failed to move false take: " + move.sourcePath);
        result.files.push_back(std::move(move));
    }
    return result;
}
