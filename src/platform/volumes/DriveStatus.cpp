#include "platform/volumes/DriveStatus.h"

#include "core/NumberText.h"

#include <algorithm>
#include <filesystem>

double recordingMinutesLeft(double availableBytes, int channels)
{
    if (availableBytes <= 0)
        return 0;
    return availableBytes / (std::max(1, channels) * kBytesPerChannelMinute);
}

std::string formatRecordingTimeRemaining(double availableBytes, int channels)
{
    if (availableBytes <= 0)
        return "--";
    const long long minutes = static_cast<long long>(recordingMinutesLeft(availableBytes, channels));
    if (minutes < 60)
        return std::to_string(minutes) + "m";
    if (minutes < 6000)
        return std::to_string(minutes / 60) + "h" + std::to_string(minutes % 60) + "m";
    return std::to_string(minutes / 60) + "h";
}

bool isRecordingTimeLow(double availableBytes, int channels)
{
    return recordingMinutesLeft(availableBytes, channels) < 60.0;
}

namespace {

const MountedVolume* holdingVolume(const std::vector<MountedVolume>& volumes, const std::string& path)
{
    if (path.empty())
        return nullptr;
    const MountedVolume* best = nullptr;
    for (const MountedVolume& volume : volumes) {
        if (!volume.valid || !volume.ready)
            continue;
        const std::string& root = volume.rootPath;
        const bool holds = root == "/" ? path[0] == '/'
                                       : path.compare(0, root.size(), root) == 0 &&
                                             (path.size() == root.size() || path[root.size()] == '/');
        if (holds && (!best || root.size() > best->rootPath.size()))
            best = &volume;
    }
    if (!best)
        return nullptr;
    std::error_code error;
    return path == best->rootPath || std::filesystem::exists(path, error) ? best : nullptr;
}

double gibibytes(uint64_t bytes)
{
    return static_cast<double>(bytes) / 1073741824.0;
}

} // namespace

double driveFreeSpaceGB(const std::vector<MountedVolume>& volumes, const std::string& path)
{
    const MountedVolume* volume = holdingVolume(volumes, path);
    return volume ? gibibytes(volume->availableBytes) : -1;
}

double externalDriveFreeSpaceGB(const std::vector<MountedVolume>& volumes, const std::string& path)
{
    const MountedVolume* volume = holdingVolume(volumes, path);
    return volume && !volume->systemRoot && volume->rootPath != "/" ? gibibytes(volume->availableBytes) : -1;
}

bool isFormatCandidate(const MountedVolume& volume)
{
    return isExternalDrive(volume);
}

bool formatEntryEnabled(const std::vector<MountedVolume>& volumes, bool takeActive)
{
    return !takeActive && std::any_of(volumes.begin(), volumes.end(), isFormatCandidate);
}

std::vector<FormatCandidateRow> formatCandidateRows(const std::vector<MountedVolume>& volumes)
{
    std::vector<FormatCandidateRow> rows;
    for (const MountedVolume& volume : volumes) {
        if (!isFormatCandidate(volume))
            continue;
        const std::string size = fixedText(static_cast<double>(volume.totalBytes) / 1073741824.0, 1);
        const std::string name = volume.name.empty() ? lastPathComponent(volume.rootPath) : volume.name;
        rows.push_back({volume.rootPath, name + " - " + volume.rootPath + " (" + size + " GB)", volume});
    }
    return rows;
}

std::string rootPathForRowText(const std::vector<FormatCandidateRow>& rows, const std::string& text)
{
    for (const FormatCandidateRow& row : rows)
        if (row.text == text)
            return row.rootPath;
    return {};
}
