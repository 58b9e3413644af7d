#include "platform/volumes/RecordingDrive.h"

#include "platform/volumes/MountedVolume.h"

#include <map>
#include <mutex>

namespace {

std::mutex& marksMutex()
{
    static std::mutex mutex;
    return mutex;
}

std::map<std::string, int>& marks()
{
    static std::map<std::string, int> roots;
    return roots;
}

std::string withoutTrailingSlash(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

bool rootHolds(const std::string& root, const std::string& path)
{
    if (root.empty())
        return false;
    if (root == "/")
        return !path.empty() && path[0] == '/';
    return path.compare(0, root.size(), root) == 0 && (path.size() == root.size() || path[root.size()] == '/');
}

} // namespace

void markVolumeFormatting(const std::string& rootPath)
{
    std::lock_guard<std::mutex> lock(marksMutex());
    ++marks()[withoutTrailingSlash(rootPath)];
}

void clearVolumeFormatting(const std::string& rootPath)
{
    std::lock_guard<std::mutex> lock(marksMutex());
    const auto found = marks().find(withoutTrailingSlash(rootPath));
    if (found != marks().end() && --found->second <= 0)
        marks().erase(found);
}

std::string formattingVolumeHolding(const std::string& path)
{
    const std::string folder = withoutTrailingSlash(path);
    std::lock_guard<std::mutex> lock(marksMutex());
    for (const auto& [root, count] : marks())
        if (count > 0 && rootHolds(root, folder))
            return root;
    return {};
}

std::string recordingDriveProblem(const std::string& folder, const std::vector<MountedVolume>& volumes)
{
    const std::string path = withoutTrailingSlash(folder);
    const std::string formatting = formattingVolumeHolding(path);
    if (!formatting.empty())
        return "The recording drive " + formatting + " is being formatted.";
    if (!isUnderVolumesRoot(path))
        return {};
    // The longest mounted root holding the folder is the volume it lives on.
    const MountedVolume* holder = nullptr;
    for (const MountedVolume& volume : volumes) {
        if (volume.valid && volume.ready && rootHolds(volume.rootPath, path) &&
            (holder == nullptr || volume.rootPath.size() > holder->rootPath.size()))
            holder = &volume;
    }
    if (holder == nullptr || holder->systemRoot || !isUnderVolumesRoot(holder->rootPath))
        return "The recording drive " + path + " is not mounted.";
    return {};
}

std::string recordingDriveProblem(const std::string& folder, const VolumeSystem& volumes)
{
    // The volumes are read only for a folder that could be on a card.
    if (formattingVolumeHolding(folder).empty() && !isUnderVolumesRoot(withoutTrailingSlash(folder)))
        return {};
    return recordingDriveProblem(folder, volumes.mountedVolumes());
}
