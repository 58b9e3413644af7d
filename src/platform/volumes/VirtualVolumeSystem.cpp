#include "platform/volumes/VirtualVolumeSystem.h"

#include <algorithm>

VirtualVolumeSystem::VirtualVolumeSystem()
{
    MountedVolume& root = addVolume("/", "", 500ULL << 30, 100ULL << 30, "/dev/vda1");
    root.systemRoot = true;
}

MountedVolume& VirtualVolumeSystem::addVolume(const std::string& rootPath, const std::string& name,
                                              uint64_t totalBytes, uint64_t availableBytes, const std::string& device)
{
    MountedVolume volume;
    volume.rootPath = rootPath;
    volume.name = name;
    volume.device = device.empty() ? "/dev/virtual" + std::to_string(volumes_.size()) : device;
    volume.fileSystemType = "exfat";
    volume.totalBytes = totalBytes;
    volume.availableBytes = availableBytes;
    volumes_.push_back(volume);
    return volumes_.back();
}

bool VirtualVolumeSystem::remove(const std::string& rootPath)
{
    const auto it = std::find_if(volumes_.begin(), volumes_.end(),
                                 [&](const MountedVolume& v) { return v.rootPath == rootPath; });
    if (it == volumes_.end())
        return false;
    volumes_.erase(it);
    return true;
}

MountedVolume* VirtualVolumeSystem::find(const std::string& rootPath)
{
    for (MountedVolume& volume : volumes_)
        if (volume.rootPath == rootPath)
            return &volume;
    return nullptr;
}
