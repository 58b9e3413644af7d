#include "platform/volumes/FormatPlacement.h"

#include <sstream>

namespace {

void setFormat(BackupDriveList& list, size_t index, int format)
{
    if (list.formats.size() <= index)
        list.formats.resize(index + 1, format);
    list.formats[index] = format;
}

} // namespace

BackupDriveList placeFormattedDrive(BackupDriveList list, const std::string& external1,
                                    const std::string& external2, int fileFormat,
                                    const std::string& formattedRoot, const std::string& newPath)
{
    size_t index = 0;
    bool placed = false;
    for (size_t i = 0; i < list.paths.size() && !formattedRoot.empty(); ++i) {
        if (list.paths[i] == formattedRoot) {
            index = i;
            placed = true;
            break;
        }
    }
    if (!placed) {
        if (list.paths.empty() || external1.empty() || list.paths.front() == external1) {
            index = 0;
        } else if (external2.empty()) {
            index = 1;
        } else {
            index = list.paths.size() >= 2 && list.paths[1] == external2 ? 1 : 0;
        }
    }
    if (index >= list.paths.size()) {
        index = list.paths.size();
        list.paths.push_back(newPath);
    } else {
        list.paths[index] = newPath;
    }
    setFormat(list, index, fileFormat);
    if (list.formats.size() < list.paths.size())
        list.formats.resize(list.paths.size(), fileFormat);
    list.formats.resize(list.paths.size());
    return list;
}

std::vector<std::string> splitDrivePaths(const std::string& joined)
{
    std::vector<std::string> paths;
    std::stringstream in(joined);
    std::string piece;
    while (std::getline(in, piece, '|'))
        if (!piece.empty())
            paths.push_back(piece);
    return paths;
}

std::vector<int> splitDriveFormats(const std::string& joined)
{
    std::vector<int> formats;
    if (joined.empty())
        return formats;
    std::stringstream in(joined);
    std::string piece;
    while (std::getline(in, piece, ',')) {
        try {
            size_t used = 0;
            const int value = std::stoi(piece, &used);
            formats.push_back(used == piece.size() ? value : 0);
        } catch (const std::exception&) {
            formats.push_back(0);
        }
    }
    return formats;
}
