#include "backup/BackupLayoutNames.h"

#include <algorithm>
#include <cctype>

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
