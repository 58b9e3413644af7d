#include "platform/volumes/MountedVolume.h"

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
