#pragma once

#include <filesystem>
#include <string>
#include <vector>

// Marking a take false takes its files out of the day's material without
// deleting anything: each one moves from its take folder into the folder's
// FALSETAKES subfolder with an "F-" prefix. A file is only ever renamed
// (across file systems: copied, then its source removed), so its bytes stay
// as recorded, and it never replaces a file already in FALSETAKES. A file that
// cannot move stays where it was; the others still go.
//
// File work only, no state. The caller runs it once the take has closed (a
// file the writer still holds must not move), one call at a time per folder.

inline constexpr const char* kFalseTakeFolderName = "FALSETAKES";
inline constexpr const char* kFalseTakeFilePrefix = "F-";

// One file's move: where it went, or why it did not.
struct FalseTakeFileMove {
    std::string sourcePath;
    std::string targetPath;
    bool moved = false;
    std::string error; // empty when moved
};

struct FalseTakeMoveResult {
    std::vector<FalseTakeFileMove> files;

    int movedCount() const;
};

// The files of the last take in `takeFolder`: `closedTakeFiles` (the files
// the engine closed for it) while every one is still a file in that folder;
// otherwise, once one has moved or gone, the folder's newest .wav file and
// every other .wav file written less than a minute before `now`, newest
// first. Paths are absolute.
std::vector<std::string> lastTakeFiles(const std::string& takeFolder, const std::vector<std::string>& closedTakeFiles,
                                       std::filesystem::file_time_type now);

// Makes <takeFolder>/FALSETAKES (even when `files` is empty) and moves each
// of `files` there as "F-<file name>", in order, logging each move and each
// failure.
FalseTakeMoveResult moveToFalseTakes(const std::string& takeFolder, const std::vector<std::string>& files);
