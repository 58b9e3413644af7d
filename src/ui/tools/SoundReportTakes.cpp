#include "ui/tools/SoundReportTakes.h"

#include "core/ConfigManager.h"
#include "media/BwfMetadataReader.h"
#include "ui/tools/TimecodeText.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <system_error>

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

bool takeOrder(const SoundReportTake& a, const SoundReportTake& b)
{
    const QByteArray aKeys[] = {a.fileNumber.toUtf8(), a.scene.toUtf8(), a.take.toUtf8()};
    const QByteArray bKeys[] = {b.fileNumber.toUtf8(), b.scene.toUtf8(), b.take.toUtf8()};
    return std::lexicographical_compare(std::begin(aKeys), std::end(aKeys), std::begin(bKeys), std::end(bKeys));
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
    static const QRegularExpression kTakeName(QStringLiteral("^[A-Z]{3}[0-9]{4}_"));
    if (kTakeName.match(baseName).hasMatch())
        return baseName.left(7);
    return {};
}

bool readTake(const QFileInfo& info, SoundReportTake& take)
{
    // A FIFO or device would block or stream forever; only plain files are
    // takes (a symbolic link counts as what it points to).
    if (!info.isFile())
        return false;
    const std::string utf8Path = info.absoluteFilePath().toStdString();
    BwfMetadata metadata;
    try {
        metadata = BwfMetadataReader::readMetadata(utf8Path);
    } catch (const std::filesystem::filesystem_error&) {
        return false;  // vanished between the listing and the read
    }
    take = SoundReportTake{};
    take.fileName = info.fileName();
    take.fileDate = info.fileTime(QFileDevice::FileModificationTime);
    take.fileNumber = fileNumberOf(info.baseName());
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
        take.timecodeIn = formatTimecode(metadata.timeReference, metadata.timestampSampleRate, metadata.frameRate);
        take.timecodeOut =
            formatTimecode(metadata.timeReference + lengthSamples, metadata.timestampSampleRate, metadata.frameRate);
    }
    take.trackNames = trackNamesOf(metadata);
    return true;
}

std::vector<SoundReportTake> scanFolder(const QString& folder)
{
    std::vector<SoundReportTake> takes;
    const QFileInfoList files = QDir(folder).entryInfoList({QStringLiteral("*.wav"), QStringLiteral("*.WAV")},
                                                            QDir::Files, QDir::Name);
    for (const QFileInfo& file : files) {
        SoundReportTake take;
        if (readTake(file, take))
            takes.push_back(std::move(take));
    }
    // Stable, so takes equal in all three keys keep the listing order.
    std::stable_sort(takes.begin(), takes.end(), takeOrder);
    return takes;
}

QString currentRollFolder()
{
    const QString saveLocation = configString("media.saveLocation");
    const QString project = configString("metadata.project");
    const QString soundRoll = configString("lastRecording.soundRoll");
    if (saveLocation.isEmpty() || project.isEmpty())
        return {};
    QString folder = saveLocation + "/" + project;
    if (!soundRoll.isEmpty())
        folder += "/" + soundRoll;
    return folder;
}

QString openingFolder()
{
    const QString last = configString("lastRecording.folderPath");
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
    return QStringLiteral("%1:%2:%3:%4")
        .arg(hours, 2, 10, QChar('0'))
        .arg(minutes, 2, 10, QChar('0'))
        .arg(wholeSeconds, 2, 10, QChar('0'))
        .arg(frames, 2, 10, QChar('0'));
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
