#include "platform/volumes/MountedVolume.h"

#include <set>

namespace {

std::vector<std::string>& rootsStore()
{
    static std::vector<std::string> roots = defaultVolumesRoots();
    return roots;
}

} // namespace

std::vector<std::string> defaultVolumesRoots()
{
    return {"/Volumes/", "/media/", "/mnt/", "/run/media/"};
}

const std::vector<std::string>& volumesRoots()
{
    return rootsStore();
}

void setVolumesRoots(std::vector<std::string> roots)
{
    for (std::string& root : roots)
        if (!root.empty() && root.back() != '/')
            root += '/';
    rootsStore() = std::move(roots);
}

bool isUnderVolumesRoot(const std::string& rootPath)
{
    for (const std::string& root : volumesRoots())
        if (!root.empty() && rootPath.size() > root.size() && rootPath.compare(0, root.size(), root) == 0)
            return true;
    return false;
}

bool isPseudoFileSystem(const std::string& fileSystemType)
{
    static const std::set<std::string> pseudo = {
        "autofs",   "binfmt_misc", "bpf",      "cgroup",  "cgroup2",    "configfs", "debugfs", "devpts",
        "devtmpfs", "efivarfs",    "fusectl",  "hugetlbfs", "mqueue",   "nsfs",     "overlay", "proc",
        "pstore",   "ramfs",       "rpc_pipefs", "securityfs", "squashfs", "sysfs", "tmpfs",   "tracefs"};
    return pseudo.count(fileSystemType) != 0;
}

bool isExternalDrive(const MountedVolume& volume)
{
    return volume.valid && volume.ready && !volume.readOnly && !volume.systemRoot && volume.rootPath != "/" &&
           isUnderVolumesRoot(volume.rootPath) && !isPseudoFileSystem(volume.fileSystemType) &&
           volume.totalBytes >= kMinimumDriveBytes;
}

std::string lastPathComponent(const std::string& path)
{
    size_t end = path.size();
    while (end > 0) {
        while (end > 0 && (path[end - 1] == '/' || path[end - 1] == '\\'))
            --end;
        if (end == 0)
            break;
        size_t start = end;
        while (start > 0 && path[start - 1] != '/' && path[start - 1] != '\\')
            --start;
        return path.substr(start, end - start);
    }
    return path;
}
