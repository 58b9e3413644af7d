#pragma once

#include <string>
#include <vector>

// Every file the backup side writes on a drive first exists under a unique
// temporary name beside its final name and takes the final name only by a
// rename once it was verified, so a drive never shows a half-written take.

// The final path, ".", a steady-clock nanosecond count, ".", a process-wide
// counter and ".tonvale.partial": two partials of one final path never
// collide, even within one clock tick.
std::string makePartialPath(const std::string& finalPath);

// The final file name a partial file's name stands for ("<final>.<ticks>.
// <counter>.tonvale.partial", as makePartialPath makes it); empty for any
// other name.
std::string finalNameOfPartial(const std::string& fileName);

// Removes the partial files in `folder` whose final name is a copy of a take
// file with one of `takeStems` (see isFileOfTake): what a live copy or a copy
// cut off by a crash left of it. Other takes' files stay. Gives how many went.
int removeStalePartialsOfTake(const std::string& folder, const std::vector<std::string>& takeStems);

// Removes a file; a missing file is no error. Logs any other failure and
// never throws.
void removePartialFile(const std::string& path);

// Renames the partial file to its final name, replacing an existing final
// file atomically. On failure the final file, if there was one, is left as
// it was (it may be the only good copy) and `error` says why; the partial is
// left for the caller to remove.
bool finalizePartialFile(const std::string& partialPath, const std::string& finalPath, std::string& error);

// Writes a closed file's pages to the drive. False with the reason when the
// file cannot be opened or synced.
bool syncFileToDrive(const std::string& path, std::string& error);

// Removes its partial file at scope exit unless disarmed.
class PartialFileGuard {
public:
    explicit PartialFileGuard(std::string path) : path_(std::move(path)) {}
    ~PartialFileGuard()
    {
        if (armed_)
            removePartialFile(path_);
    }
    PartialFileGuard(const PartialFileGuard&) = delete;
    PartialFileGuard& operator=(const PartialFileGuard&) = delete;
    void disarm() { armed_ = false; }

private:
    std::string path_;
    bool armed_ = true;
};

// Removes every path of a borrowed list at scope exit unless disarmed.
class PartialFileSetGuard {
public:
    explicit PartialFileSetGuard(const std::vector<std::string>& paths) : paths_(paths) {}
    ~PartialFileSetGuard()
    {
        if (armed_) {
            for (const std::string& path : paths_)
                removePartialFile(path);
        }
    }
    PartialFileSetGuard(const PartialFileSetGuard&) = delete;
    PartialFileSetGuard& operator=(const PartialFileSetGuard&) = delete;
    void disarm() { armed_ = false; }

private:
    const std::vector<std::string>& paths_;
    bool armed_ = true;
};
