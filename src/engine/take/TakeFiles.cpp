#include "engine/take/TakeFiles.h"

#include "core/ConfigManager.h"
#include "core/settings/MediaKeys.h"
#include "core/settings/TrackKeys.h"
#include "media/PortableFileName.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <system_error>

namespace {

constexpr const char* kDefaultTrackNamePrefix = "Track_";
constexpr const char* kPolyphonicSuffix = ".wav";
constexpr const char* kMonoMixSuffix = "_00_MIX.wav";

std::string twoDigitTrackNumber(int trackIndex)
{
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "%02d", trackIndex + 1);
    return buffer;
}

bool createFolder(const std::string& path, std::string& errorText)
{
    std::error_code error;
    std::filesystem::create_directories(path, error);
    if (error) {
        errorText = error.message();
        return false;
    }
    // create_directories reports no error when a file of that name is in the way.
    if (!std::filesystem::is_directory(path, error)) {
        errorText = std::make_error_code(std::errc::not_a_directory).message();
        return false;
    }
    return true;
}

} // namespace

std::string sanitizePathComponent(const std::string& name)
{
    return portableName(shortenUtf8(name, kMaxFileNameBytes));
}

std::string baseRecordingFolder(const std::string& saveLocation, const std::optional<std::string>& home)
{
    if (!saveLocation.empty())
        return saveLocation;
    if (home && !home->empty())
        return *home + kDefaultRecordingsSubfolder;
    return kFallbackRecordingsFolder;
}

std::string baseRecordingFolder()
{
    const char* home = std::getenv("HOME");
    return baseRecordingFolder(ConfigManager::getInstance()->getString(MediaKeys::kSaveLocation, ""),
                               home ? std::optional<std::string>(home) : std::nullopt);
}

std::string takeFolderPath(const std::string& root, const std::string& project, const std::string& soundRoll)
{
    return root + "/" + sanitizePathComponent(project) + "/" + sanitizePathComponent(soundRoll);
}

bool createTakeFolders(const std::string& baseFolder, const std::string& takeFolder, std::string& failureLogLine)
{
    std::string errorText;
    if (!createFolder(baseFolder, errorText)) {
        failureLogLine = "CoreAudio: Failed to create recording directory: " + errorText;
        return false;
    }
    if (!createFolder(takeFolder, errorText)) {
        failureLogLine = "CoreAudio: Failed to create project directory: " + errorText;
        return false;
    }
    return true;
}

std::string withoutLogPrefix(const std::string& logLine)
{
    constexpr std::string_view prefix = "CoreAudio: ";
    return logLine.rfind(prefix, 0) == 0 ? logLine.substr(prefix.size()) : logLine;
}

std::array<std::string, kMaxTracks> configuredTrackNames()
{
    ConfigManager* config = ConfigManager::getInstance();
    std::array<std::string, kMaxTracks> names;
    for (int i = 0; i < kMaxTracks; ++i)
        names[i] = config->getString(TrackKeys::nameKey(i), kDefaultTrackNamePrefix + std::to_string(i + 1));
    return names;
}

std::array<std::string, kMaxTracks> trackNameList(const std::vector<std::string>& metadataTrackNames,
                                                  const std::array<std::string, kMaxTracks>& configuredNames)
{
    std::array<std::string, kMaxTracks> names = configuredNames;
    for (int i = 0; i < kMaxTracks && i < static_cast<int>(metadataTrackNames.size()); ++i) {
        if (!metadataTrackNames[i].empty())
            names[i] = metadataTrackNames[i];
    }
    return names;
}

std::vector<std::string> bextTrackNames(const std::array<std::string, kMaxTracks>& names,
                                        const std::array<bool, kMaxTracks>& armedAtStart, int trackCount, bool noMix)
{
    std::vector<std::string> channels;
    if (!noMix)
        channels.push_back(kMixChannelName);
    for (int i = 0; i < trackCount && i < kMaxTracks; ++i) {
        if (armedAtStart[i])
            channels.push_back(names[i]);
    }
    return channels;
}

std::string takeBaseName(const std::string& takeName, const TakeMetadata& metadata)
{
    std::vector<std::string> parts = {sanitizePathComponent(metadata.project), sanitizePathComponent(metadata.soundRoll),
                                      sanitizePathComponent(metadata.scene), sanitizePathComponent(metadata.take)};
    std::string& scene = parts[2];
    const auto joined = [&] {
        std::string base = takeName + "_" + parts[0] + "_" + parts[1] + "_";
        if (!metadata.scene.empty())
            base += scene + "_";
        return base + "T" + parts[3];
    };
    // The longest part gives way a character at a time, so short fields stay
    // whole and the take number stays readable.
    for (std::string base = joined(); base.size() > kMaxTakeBaseNameBytes; base = joined()) {
        std::string& longest = *std::max_element(parts.begin(), parts.end(),
                                                 [](const std::string& a, const std::string& b) { return a.size() < b.size(); });
        longest = portableName(shortenUtf8(longest, longest.size() - 1));
    }
    return joined();
}

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// The take number in `stem` when it is <take name>_<prefix><digits>, maybe
// followed by a mono file's "_NN_..."; 0 otherwise.
int takeNumberIn(const std::string& stem, const std::string& prefix)
{
    const size_t start = stem.find('_');
    if (start == std::string::npos || stem.compare(start + 1, prefix.size(), prefix) != 0)
        return 0;
    size_t end = start + 1 + prefix.size();
    int number = 0;
    for (; end < stem.size() && isDigit(stem[end]) && number < 1000000; ++end)
        number = number * 10 + (stem[end] - '0');
    const bool plainEnd = end == stem.size();
    const bool monoEnd = end + 3 < stem.size() && stem[end] == '_' && isDigit(stem[end + 1]) &&
                         isDigit(stem[end + 2]) && stem[end + 3] == '_';
    return plainEnd || monoEnd ? number : 0;
}

} // namespace

int highestRecordedTake(const std::string& takeFolder, const TakeMetadata& metadata)
{
    // The name parts between the take name and the take number.
    const std::string base = takeBaseName("", metadata);
    const std::string prefix = base.substr(1, base.size() - 1 - sanitizePathComponent(metadata.take).size());
    int highest = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(takeFolder, error), end; !error && it != end; it.increment(error)) {
        const std::filesystem::path name = it->path().filename();
        if (name.extension() == ".wav")
            highest = std::max(highest, takeNumberIn(name.stem().string(), prefix));
    }
    return highest;
}

std::vector<TakeFilePlan> planTakeFiles(TakeLayout layout, const std::array<std::string, kMaxTracks>& names,
                                        const std::array<bool, kMaxTracks>& armedAtStart, int trackCount, bool noMix)
{
    std::vector<TakeFilePlan> files;
    if (layout == TakeLayout::Polyphonic) {
        TakeFilePlan poly;
        poly.role = TakeFileRole::Polyphonic;
        poly.suffix = kPolyphonicSuffix;
        poly.bextTrackNames = bextTrackNames(names, armedAtStart, trackCount, noMix);
        poly.channelCount = static_cast<int>(poly.bextTrackNames.size());
        files.push_back(std::move(poly));
        return files;
    }
    if (!noMix)
        files.push_back(TakeFilePlan{TakeFileRole::MonoMix, kMonoMixSuffix, 1, -1, {kMixChannelName}});
    for (int i = 0; i < trackCount && i < kMaxTracks; ++i) {
        if (!armedAtStart[i])
            continue;
        const std::string suffix = "_" + twoDigitTrackNumber(i) + "_" + sanitizeTrackName(names[i]) + ".wav";
        files.push_back(TakeFilePlan{TakeFileRole::MonoTrack, suffix, 1, i, {names[i]}});
    }
    return files;
}

std::string takeFilePath(const std::string& takeFolder, const std::string& takeName, const TakeMetadata& metadata,
                         const TakeFilePlan& file)
{
    return takeFolder + "/" + takeBaseName(takeName, metadata) + file.suffix;
}

BwfFileWriter::BextChunk makeTakeBext(const TakeMetadata& metadata, const StartTimecodeResult& timecode,
                                      std::vector<std::string> trackNames)
{
    BwfFileWriter::BextChunk f;
    f.originator = metadata.project;
    f.originatorReference = metadata.scene.empty() ? metadata.take : metadata.scene + "_" + metadata.take;
    f.originationDate = timecode.takeOriginationDate;
    f.originationTime = timecode.takeOriginationTime;
    f.timeReference = timecode.takeTimeReference;
    f.project = metadata.project;
    f.scene = metadata.scene;
    f.take = metadata.take;
    f.tape = metadata.soundRoll;
    f.note = metadata.notes;
    f.frameRate = timecode.takeFrameRate;
    f.dropFrame = timecode.takeDropFrame;
    f.timestampSampleRate = timecode.takeTimestampSampleRate;
    f.trackNames = std::move(trackNames);
    return f;
}
