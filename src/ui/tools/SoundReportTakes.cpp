#include "ui/tools/SoundReportTakes.h"

#include "core/ConfigManager.h"
#include "core/settings/MediaKeys.h"
#include "core/settings/MetadataKeys.h"
#include "media/BwfMetadataReader.h"
#include "ui/tools/TimecodeText.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <string_view>

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr double kDefaultDurationFps = 30.0;
// Frames of a length are counted from a product of two doubles; a value a
// hair below a whole frame is that frame.
constexpr double kFrameEpsilon = 1e-6;

QString fromUtf8(const std::string& text)
{
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QStringList trackNamesOf(const BwfMetadata& metadata)
{
    std::vector<std::pair<int, std::string>> pairs;
    for (const BwfMetadata::TrackInfo& track : metadata.tracks)
        pairs.emplace_back(track.channelIndex, track.name);
    std::sort(pairs.begin(), pairs.end());
    QStringList names;
    for (const auto& pair : pairs)
        names << fromUtf8(pair.second);
    if (names.isEmpty()) {
        for (int channel = 0; channel < metadata.channels; ++channel)
            names << (channel == 0 ? QStringLiteral("Mix") : QStringLiteral("Track%1").arg(channel));
    }
    return names;
}

QDateTime modificationTime(const struct stat& status)
{
    // In UTC: a local time would read the time zone for every take of a
    // folder. The readers convert what they show.
    const qint64 msecs = qint64(status.st_mtim.tv_sec) * 1000 + status.st_mtim.tv_nsec / 1'000'000;
    return QDateTime::fromMSecsSinceEpoch(msecs, Qt::UTC);
}

bool hasWavSuffix(std::string_view name)
{
    return name.size() >= 4 && strncasecmp(name.data() + name.size() - 4, ".wav", 4) == 0;
}

// The name as text, or empty when its bytes are not UTF-8: such a name
// could not be given back to the file system as text, so it is no take.
QString nameText(std::string_view name)
{
    const QString text = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    // ASCII always reads back as itself; only other names need the check.
    if (std::all_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return text;
    const QByteArray back = text.toUtf8();
    if (std::string_view(back.constData(), static_cast<size_t>(back.size())) != name)
        return {};
    return text;
}

// The order of the two texts' UTF-8 bytes, found on their UTF-16 units
// without converting them: the orders agree except where a surrogate (a
// code point above U+FFFF) meets a unit from U+E000 up, which UTF-8 puts
// before it. Texts read from UTF-8 hold no lone surrogates.
int compareAsUtf8(QStringView a, QStringView b)
{
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common; ++i) {
        const char16_t x = a[i].unicode();
        const char16_t y = b[i].unicode();
        if (x == y)
            continue;
        if (x >= 0xD800 && y >= 0xD800) {
            const auto rank = [](char16_t unit) { return unit < 0xE000 ? unit + 0x2000 : unit - 0x800; };
            return rank(x) < rank(y) ? -1 : 1;
        }
        return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

// Fills a take from its file, opened (fd >= 0) or not readable (fd < 0,
// a record with only the name and date).
void fillTake(int fd, const struct stat& status, const QString& fileName, std::string nativeName,
              SoundReportTake& take)
{
    const BwfMetadata metadata =
        fd >= 0 ? BwfMetadataReader::readMetadata(fd, static_cast<uint64_t>(status.st_size), std::move(nativeName))
                : BwfMetadata{};
    take = SoundReportTake{};
    take.fileName = fileName;
    take.fileDate = modificationTime(status);
    take.fileNumber = SoundReportTakes::fileNumberOf(fileName.left(fileName.indexOf(QLatin1Char('.'))));
    take.scene = fromUtf8(metadata.scene);
    take.take = fromUtf8(metadata.take);
    take.project = fromUtf8(metadata.project);
    take.soundRoll = fromUtf8(metadata.tape);
    take.notes = fromUtf8(metadata.note);
    take.frameRate = metadata.frameRate;
    take.sampleRate = metadata.sampleRate;
    take.bitDepth = metadata.bitsPerSample;
    take.durationSeconds = metadata.durationSeconds;
    take.isPolyphonic = metadata.channels >= 2;
    if (metadata.timeReference != 0 && metadata.timestampSampleRate != 0 && metadata.frameRate > 0.0) {
        take.timeReference = metadata.timeReference;
        take.timestampSampleRate = metadata.timestampSampleRate;
        const auto lengthSamples = static_cast<uint64_t>(metadata.durationSeconds * metadata.timestampSampleRate);
        take.timecodeIn = SoundReportTakes::formatTimecode(metadata.timeReference, metadata.timestampSampleRate,
                                                           metadata.frameRate);
        take.timecodeOut = SoundReportTakes::formatTimecode(metadata.timeReference + lengthSamples,
                                                            metadata.timestampSampleRate, metadata.frameRate);
    }
    take.trackNames = trackNamesOf(metadata);
}

// Opens a listed name without waiting on a FIFO that took its place.
enum class Opened { Take, Unreadable, NoTake };

Opened openTake(int dirFd, const char* name, int& fd, struct stat& status)
{
    fd = ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // Present but not readable: listed with what its name says.
        if (errno != ENOENT && errno != ENOTDIR && ::fstatat(dirFd, name, &status, 0) == 0 && S_ISREG(status.st_mode))
            return Opened::Unreadable;
        return Opened::NoTake;
    }
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        fd = -1;
        return Opened::NoTake;
    }
    return Opened::Take;
}

bool readListedTake(int dirFd, const char* nativeName, const QString& fileName, SoundReportTake& take)
{
    int fd = -1;
    struct stat status {};
    switch (openTake(dirFd, nativeName, fd, status)) {
    case Opened::NoTake:
        return false;
    case Opened::Unreadable:
        fillTake(-1, status, fileName, nativeName, take);
        return true;
    case Opened::Take:
        fillTake(fd, status, fileName, nativeName, take);
        ::close(fd);
        return true;
    }
    return false;
}

QString configString(const char* key)
{
    return QString::fromStdString(ConfigManager::getInstance()->getString(key, ""));
}

} // namespace

namespace SoundReportTakes {

QString fileNumberOf(const QString& baseName)
{
    if (baseName.startsWith(QLatin1String("AAD")) && baseName.contains('_'))
        return baseName.left(baseName.indexOf('_'));
    // Three capital letters, four digits and "_" (ABC0042_...).
    constexpr qsizetype kNumberLength = 7;
    if (baseName.size() <= kNumberLength || baseName[kNumberLength] != QLatin1Char('_'))
        return {};
    for (qsizetype i = 0; i < kNumberLength; ++i) {
        const char16_t c = baseName[i].unicode();
        if (i < 3 ? (c < u'A' || c > u'Z') : (c < u'0' || c > u'9'))
            return {};
    }
    return baseName.left(kNumberLength);
}

bool readTake(const QFileInfo& info, SoundReportTake& take)
{
    // A FIFO or device would block or stream forever; only plain files are
    // takes (a symbolic link counts as what it points to).
    if (!info.isFile())
        return false;
    const QByteArray path = QFile::encodeName(info.absoluteFilePath());
    return readListedTake(AT_FDCWD, path.constData(), info.fileName(), take);
}

std::vector<SoundReportTake> scanFolder(const QString& folder, const ScanProgress& progress)
{
    std::vector<SoundReportTake> takes;
    const QByteArray folderPath = QFile::encodeName(folder);
    DIR* const dir = folderPath.isEmpty() ? nullptr : ::opendir(folderPath.constData());
    if (!dir)
        return takes;
    const int dirFd = ::dirfd(dir);
    // The names first, so the reading can say how far it is.
    std::vector<std::pair<std::string, unsigned char>> listed;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        // Hidden files are no takes; "." and ".." are hidden too.
        if (name.empty() || name.front() == '.' || !hasWavSuffix(name))
            continue;
        const unsigned char type = entry->d_type;
        if (type != DT_REG && type != DT_LNK && type != DT_UNKNOWN)
            continue;
        listed.emplace_back(name, type);
    }
    const int total = static_cast<int>(listed.size());
    for (int done = 0; done < total; ++done) {
        if (progress && !progress(done, total))
            break;
        const auto& [name, type] = listed[static_cast<size_t>(done)];
        const QString fileName = nameText(name);
        if (fileName.isEmpty())
            continue;
        // A link or an entry of unknown type is opened only when it leads to
        // a plain file: opening a device can act on it.
        struct stat target {};
        if (type != DT_REG && (::fstatat(dirFd, name.c_str(), &target, 0) != 0 || !S_ISREG(target.st_mode)))
            continue;
        SoundReportTake take;
        if (readListedTake(dirFd, name.c_str(), fileName, take))
            takes.push_back(std::move(take));
    }
    if (progress)
        progress(total, total);
    ::closedir(dir);

    // By file number, scene and take as UTF-8 byte strings; takes equal in
    // all three in the order of their names.
    std::vector<size_t> order(takes.size());
    for (size_t i = 0; i < takes.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        const SoundReportTake& left = takes[a];
        const SoundReportTake& right = takes[b];
        for (const QString SoundReportTake::*key :
             {&SoundReportTake::fileNumber, &SoundReportTake::scene, &SoundReportTake::take}) {
            if (const int sign = compareAsUtf8(left.*key, right.*key))
                return sign < 0;
        }
        return QString::compare(left.fileName, right.fileName, Qt::CaseSensitive) < 0;
    });
    std::vector<SoundReportTake> sorted;
    sorted.reserve(takes.size());
    for (const size_t index : order)
        sorted.push_back(std::move(takes[index]));
    return sorted;
}

QString currentRollFolder()
{
    const QString saveLocation = configString(MediaKeys::kSaveLocation);
    const QString project = configString(MetadataKeys::kProject);
    const QString soundRoll = configString(MetadataKeys::kLastSoundRoll);
    if (saveLocation.isEmpty() || project.isEmpty())
        return {};
    QString folder = saveLocation + "/" + project;
    if (!soundRoll.isEmpty())
        folder += "/" + soundRoll;
    return folder;
}

QString openingFolder()
{
    const QString last = configString(MetadataKeys::kLastFolderPath);
    if (!last.isEmpty() && QFileInfo(last).isDir())
        return last;
    const QString roll = currentRollFolder();
    if (!roll.isEmpty() && QFileInfo(roll).isDir())
        return roll;
    return {};
}

QString formatTimecode(uint64_t samples, uint32_t rate, double fps)
{
    return formatSamplesAsTimecode(samples, rate, fps);
}

QString formatDuration(double seconds, double fps)
{
    if (!(fps > 0.0))
        fps = kDefaultDurationFps;
    if (!(seconds > 0.0))
        seconds = 0.0;
    const auto hours = static_cast<int64_t>(seconds / 3600);
    double rest = seconds - double(hours) * 3600;
    const auto minutes = static_cast<int64_t>(rest / 60);
    rest -= double(minutes) * 60;
    const auto wholeSeconds = static_cast<int64_t>(rest);
    const auto lastFrame = static_cast<int64_t>(std::ceil(fps)) - 1;
    const auto frames = std::min(
        lastFrame, static_cast<int64_t>(std::floor(fps * (rest - double(wholeSeconds)) + kFrameEpsilon)));
    return timecodeFieldsText(static_cast<uint64_t>(hours), static_cast<uint64_t>(minutes),
                              static_cast<uint64_t>(wholeSeconds), static_cast<uint64_t>(frames));
}

QString formatFramerate(double fps)
{
    if (!(fps > 0.0))
        return {};
    QString text = QString::number(fps, 'f', 2);
    while (text.endsWith('0'))
        text.chop(1);
    if (text.endsWith('.'))
        text.chop(1);
    const bool dropFrameRate = std::fabs(fps - 29.97) < 0.01 || std::fabs(fps - 59.94) < 0.01;
    return text + (dropFrameRate ? QStringLiteral("df-C") : QStringLiteral("nd-C"));
}

} // namespace SoundReportTakes
