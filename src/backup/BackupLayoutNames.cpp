#include "backup/BackupLayoutNames.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

namespace {

constexpr int kMaxBackupDrives = 8;

bool isDigit(char c)
{
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

std::string withoutTrailingSeparators(std::string path)
{
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\'))
        path.pop_back();
    return path;
}

std::string stemOfTakeFile(const std::string& fileName)
{
    constexpr size_t kExtensionLength = 4;
    if (fileName.size() <= kExtensionLength)
        return {};
    std::string extension = fileName.substr(fileName.size() - kExtensionLength);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
    return extension == ".wav" ? fileName.substr(0, fileName.size() - kExtensionLength) : std::string();
}

}  // namespace

std::optional<size_t> findMonoTrackSeparator(const std::string& stem, size_t start)
{
    if (start > stem.size())
        return std::nullopt;
    size_t occurrence = stem.find("_T", start);
    while (occurrence != std::string::npos) {
        const size_t underscore = stem.find('_', occurrence + 2);
        if (underscore != std::string::npos && underscore + 2 < stem.size() && isDigit(stem[underscore + 1]) && isDigit(stem[underscore + 2])
            && stem.find('_', underscore + 1) == underscore + 3)
            return underscore;
        occurrence = stem.find("_T", occurrence + 1);
    }
    return std::nullopt;
}

MonoTakeName parseMonoTakeName(const std::string& stem)
{
    MonoTakeName name;
    const size_t first = stem.find('_');
    if (first == std::string::npos)
        return name;
    const std::optional<size_t> separator = findMonoTrackSeparator(stem, first);
    if (!separator)
        return name;
    name.valid = true;
    name.takeKey = stem.substr(first, *separator - first);
    name.baseName = stem.substr(0, *separator);
    name.trackField = (stem[*separator + 1] - '0') * 10 + (stem[*separator + 2] - '0');
    return name;
}

std::string monoChannelSuffix(int channel, bool hasMix)
{
    if (hasMix && channel == 0)
        return "MIX";
    const int track = hasMix ? channel : channel + 1;
    return std::string("T") + (track < 10 ? "0" : "") + std::to_string(track);
}

BwfFileWriter::BextChunk bextFromMetadata(const BwfMetadata& metadata)
{
    BwfFileWriter::BextChunk chunk;
    chunk.description = metadata.description;
    chunk.originator = metadata.originator;
    chunk.originatorReference = metadata.originatorReference;
    chunk.originationDate = metadata.originationDate;
    chunk.originationTime = metadata.originationTime;
    chunk.timeReference = metadata.timeReference;
    chunk.version = std::max<uint16_t>(metadata.bextVersion, 1);
    chunk.codingHistory = metadata.codingHistory;
    chunk.project = metadata.project;
    chunk.scene = metadata.scene;
    chunk.take = metadata.take;
    chunk.tape = metadata.tape;
    chunk.note = metadata.note;
    chunk.circled = metadata.circled;
    chunk.frameRate = metadata.frameRate;
    chunk.dropFrame = metadata.dropFrame;
    chunk.timestampSampleRate = metadata.timestampSampleRate;
    return chunk;
}

int backupDriveForDestination(const std::vector<std::string>& driveRoots, const std::string& destinationDir)
{
    int best = -1;
    size_t bestLength = 0;
    const int count = std::min<int>(static_cast<int>(driveRoots.size()), kMaxBackupDrives);
    for (int drive = 0; drive < count; ++drive) {
        if (driveRoots[static_cast<size_t>(drive)].empty())
            continue;
        const std::string root = withoutTrailingSeparators(driveRoots[static_cast<size_t>(drive)]);
        if (destinationDir.size() < root.size() || destinationDir.compare(0, root.size(), root) != 0)
            continue;
        // Whole components only: the root ".../Backup" does not hold ".../Backup2".
        const bool matches = destinationDir.size() == root.size() || root == "/" || destinationDir[root.size()] == '/'
                             || destinationDir[root.size()] == '\\';
        if (matches && (best < 0 || root.size() > bestLength)) {
            best = drive;
            bestLength = root.size();
        }
    }
    return best;
}

std::vector<std::string> takeStemsOfFile(const std::string& fileName)
{
    const std::string stem = stemOfTakeFile(fileName);
    if (stem.empty())
        return {};
    const MonoTakeName mono = parseMonoTakeName(stem);
    if (mono.valid)
        return {stem, mono.baseName};
    return {stem};
}

bool isFileOfTake(const std::string& fileName, const std::vector<std::string>& takeStems)
{
    const std::string stem = stemOfTakeFile(fileName);
    if (stem.empty())
        return false;
    for (const std::string& takeStem : takeStems) {
        if (takeStem.empty())
            continue;
        if (stem == takeStem)
            return true;
        if (stem.size() <= takeStem.size() + 1 || stem.compare(0, takeStem.size() + 1, takeStem + "_") != 0)
            continue;
        const std::string split = stem.substr(takeStem.size() + 1);
        const bool trackNumber = split.size() > 1 && split[0] == 'T' && std::all_of(split.begin() + 1, split.end(), isDigit);
        const bool monoTrack = split.size() > 3 && isDigit(split[0]) && isDigit(split[1]) && split[2] == '_';
        if (split == "MIX" || trackNumber || monoTrack)
            return true;
    }
    return false;
}

std::string backupFolderFor(const std::string& recordingRoot, const std::string& recordingFolder,
                            const std::string& driveRoot)
{
    namespace fs = std::filesystem;
    if (recordingRoot.empty() || recordingFolder.empty() || driveRoot.empty())
        return {};
    const fs::path relative = fs::path(withoutTrailingSeparators(recordingFolder))
                                  .lexically_normal()
                                  .lexically_relative(fs::path(withoutTrailingSeparators(recordingRoot)).lexically_normal());
    if (relative.empty() || *relative.begin() == "..")
        return {};
    std::string folder = withoutTrailingSeparators(driveRoot) + "/Tonvale";
    for (const fs::path& part : relative) {
        if (part != "." && !part.empty())
            folder += "/" + part.string();
    }
    return folder;
}
