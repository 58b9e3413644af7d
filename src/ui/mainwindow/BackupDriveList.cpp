#include "ui/mainwindow/BackupDriveList.h"

#include <stdexcept>

namespace {

std::vector<std::string> splitAt(const std::string& text, char separator)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (start <= text.size()) {
        const size_t end = text.find(separator, start);
        if (end == std::string::npos) {
            parts.push_back(text.substr(start));
            break;
        }
        parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

int layoutOf(const std::string& piece)
{
    try {
        return std::stoi(piece);
    } catch (const std::exception&) {
        return 0;
    }
}

} // namespace

std::vector<AudioEngineBase::BackupPathInfo> parseBackupDrives(const std::string& paths, const std::string& formats)
{
    std::vector<int> layouts;
    if (!formats.empty()) {
        std::vector<std::string> pieces = splitAt(formats, ',');
        if (!pieces.empty() && pieces.back().empty())
            pieces.pop_back();
        for (const std::string& piece : pieces)
            layouts.push_back(layoutOf(piece));
    }
    std::vector<AudioEngineBase::BackupPathInfo> drives;
    for (const std::string& path : splitAt(paths, '|')) {
        if (path.empty())
            continue;
        AudioEngineBase::BackupPathInfo drive;
        drive.path = path;
        drive.format = drives.size() < layouts.size() ? layouts[drives.size()] : 0;
        drives.push_back(drive);
    }
    return drives;
}
