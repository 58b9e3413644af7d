#pragma once

#include <cstdint>
#include <string>
#include <vector>

// One mounted file system as the volume layer reports it.
struct MountedVolume {
    std::string rootPath;        // mount point, without a trailing "/" (except "/")
    std::string name;            // volume label; may be empty
    std::string device;          // the block device (or mount source) it lives on
    std::string fileSystemType;
    uint64_t totalBytes = 0;
    uint64_t availableBytes = 0;  // bytes available to this user
    bool valid = true;
    bool ready = true;
    bool readOnly = false;
    bool systemRoot = false;      // the volume mounted at "/"
};

// The folders under which removable drives are mounted: a volume whose root
// starts with one of them (case-sensitively) counts as an external drive.
// Process-wide; tests point it at a temporary folder. GUI thread only.
const std::vector<std::string>& volumesRoots();
void setVolumesRoots(std::vector<std::string> roots);
std::vector<std::string> defaultVolumesRoots();

// True when `rootPath` starts with one of `volumesRoots()` and is longer than it
// (the root folder itself is no drive).
bool isUnderVolumesRoot(const std::string& rootPath);

// Smaller than this, a mount holds no useful take (32 tracks of 48 kHz float
// fill 16 MiB in about 2.7 s); a system's own small tmpfs is never a drive.
constexpr uint64_t kMinimumDriveBytes = 16ULL << 20;

// True for kernel, memory and image file systems (proc, sysfs, tmpfs,
// overlay, squashfs, ...), which hold nothing a recordist carries away.
bool isPseudoFileSystem(const std::string& fileSystemType);

// A volume the recorder may offer as an external drive, for formatting,
// backup and recording: valid, ready, writable, real storage of a usable
// size, under a volumes root and not the system root.
bool isExternalDrive(const MountedVolume& volume);

// The last non-empty component of `path` split at "/" and "\\"; the whole path
// when it has none.
std::string lastPathComponent(const std::string& path);
