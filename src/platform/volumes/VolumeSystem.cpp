#include "platform/volumes/VolumeSystem.h"

#include "platform/volumes/LinuxVolumeSystem.h"

namespace {

VolumeSystem* installed = nullptr;

bool rootHolds(const std::string& root, const std::string& path)
{
    if (root == "/")
        return !path.empty() && path[0] == '/';
    if (path.compare(0, root.size(), root) != 0)
        return false;
    return path.size() == root.size() || path[root.size()] == '/';
}

} // namespace

std::optional<MountedVolume> VolumeSystem::volumeForPath(const std::string& path) const
{
    std::optional<MountedVolume> best;
    for (const MountedVolume& volume : mountedVolumes()) {
        if (!volume.valid || !volume.ready || !rootHolds(volume.rootPath, path))
            continue;
        if (!best || volume.rootPath.size() > best->rootPath.size())
            best = volume;
    }
    return best;
}

VolumeSystem& volumeSystem()
{
    static LinuxVolumeSystem real;
    return installed ? *installed : real;
}

void installVolumeSystem(VolumeSystem* system)
{
    installed = system;
}
