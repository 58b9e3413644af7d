#pragma once

#include "platform/volumes/VolumeSystem.h"

// One line of /proc/self/mountinfo, octal escapes ("\040") decoded.
struct MountInfoEntry {
    std::string mountPoint;
    std::string fileSystemType;
    std::string source;
    bool readOnly = false;
};

std::vector<MountInfoEntry> parseMountInfo(const std::string& text);

// Mounted volumes from QStorageInfo, with the mount source and options taken
// from /proc/self/mountinfo where QStorageInfo leaves them out.
class LinuxVolumeSystem : public VolumeSystem {
public:
    std::vector<MountedVolume> mountedVolumes() const override;
};
