#pragma once

#include <string>
#include <vector>

// The backup drive list as the configuration keeps it: paths in order, each
// with its file layout (0 poly, 1 mono).
struct BackupDriveList {
    std::vector<std::string> paths;
    std::vector<int> formats;
};

// Where a freshly formatted drive at `newPath` goes in the backup list.
// `formattedRoot` is the root the volume had before the format: when it was a
// configured drive, that entry is the one replaced (a good second drive is
// never dropped for it). Otherwise: an empty list gets it; with EXT1 unset or
// first in the list it replaces the first entry; with EXT2 unset it becomes
// the second; with both set it replaces EXT2 when that is second, else the
// first. The entry it lands in gets `fileFormat`; every entry ends with a
// format (`fileFormat` where the list had none).
BackupDriveList placeFormattedDrive(BackupDriveList current, const std::string& external1,
                                    const std::string& external2, int fileFormat,
                                    const std::string& formattedRoot, const std::string& newPath);

// "a|b" without empty pieces, and "0,1" with a piece that is no number read as 0.
std::vector<std::string> splitDrivePaths(const std::string& joined);
std::vector<int> splitDriveFormats(const std::string& joined);
