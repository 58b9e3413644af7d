#pragma once

#include "platform/volumes/VolumeSystem.h"

// Volumes a test fills and changes between refreshes (a drive pulled, free
// bytes counted down). The system root "/" is listed first unless removed.
class VirtualVolumeSystem : public VolumeSystem {
public:
    VirtualVolumeSystem();

    std::vector<MountedVolume> mountedVolumes() const override { return volumes_; }

    void clear() { volumes_.clear(); }
    void add(const MountedVolume& volume) { volumes_.push_back(volume); }
    // Adds a valid, ready, writable volume; returns it.
    MountedVolume& addVolume(const std::string& rootPath, const std::string& name, uint64_t totalBytes,
                             uint64_t availableBytes, const std::string& device = {});
    bool remove(const std::string& rootPath);
    MountedVolume* find(const std::string& rootPath);

private:
    std::vector<MountedVolume> volumes_;
};
