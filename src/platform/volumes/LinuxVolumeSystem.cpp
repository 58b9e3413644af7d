#include "platform/volumes/LinuxVolumeSystem.h"

#include <QFile>
#include <QStorageInfo>

#include <sstream>

namespace {

// mountinfo writes space, tab, newline and backslash in a path as "\ooo".
std::string decodeOctalEscapes(const std::string& field)
{
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string digits = field.substr(i + 1, 3);
            if (digits.size() == 3 && digits.find_first_not_of("01234567") == std::string::npos) {
                out += static_cast<char>(std::stoi(digits, nullptr, 8));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string> splitFields(const std::string& line)
{
    std::vector<std::string> fields;
    std::istringstream in(line);
    std::string field;
    while (in >> field)
        fields.push_back(field);
    return fields;
}

} // namespace

std::vector<MountInfoEntry> parseMountInfo(const std::string& text)
{
    // Fields: id parent major:minor root mountpoint options [optional...] - fstype source superoptions
    std::vector<MountInfoEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const std::vector<std::string> fields = splitFields(line);
        if (fields.size() < 7)
            continue;
        size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-")
            ++dash;
        if (dash + 2 >= fields.size())
            continue;
        MountInfoEntry entry;
        entry.mountPoint = decodeOctalEscapes(fields[4]);
        entry.fileSystemType = fields[dash + 1];
        entry.source = decodeOctalEscapes(fields[dash + 2]);
        const std::string options = "," + fields[5] + ",";
        entry.readOnly = options.find(",ro,") != std::string::npos;
        entries.push_back(entry);
    }
    return entries;
}

std::vector<MountedVolume> LinuxVolumeSystem::mountedVolumes() const
{
    std::vector<MountInfoEntry> mounts;
    QFile file("/proc/self/mountinfo");
    if (file.open(QIODevice::ReadOnly))
        mounts = parseMountInfo(file.readAll().toStdString());

    std::vector<MountedVolume> volumes;
    for (const QStorageInfo& storage : QStorageInfo::mountedVolumes()) {
        MountedVolume volume;
        volume.rootPath = storage.rootPath().toStdString();
        volume.name = storage.name().toStdString();
        volume.device = storage.device().toStdString();
        volume.fileSystemType = storage.fileSystemType().toStdString();
        volume.valid = storage.isValid();
        volume.ready = storage.isReady();
        volume.readOnly = storage.isReadOnly();
        volume.systemRoot = storage.isRoot();
        volume.totalBytes = storage.bytesTotal() > 0 ? static_cast<uint64_t>(storage.bytesTotal()) : 0;
        volume.availableBytes = storage.bytesAvailable() > 0 ? static_cast<uint64_t>(storage.bytesAvailable()) : 0;
        // The last mount on a point is the one in effect.
        for (auto it = mounts.rbegin(); it != mounts.rend(); ++it) {
            if (it->mountPoint != volume.rootPath)
                continue;
            if (volume.device.empty())
                volume.device = it->source;
            volume.readOnly = volume.readOnly || it->readOnly;
            break;
        }
        volumes.push_back(volume);
    }
    return volumes;
}
