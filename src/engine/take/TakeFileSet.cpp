#include "engine/take/TakeFileSet.h"

#include "core/DebugLog.h"

#include <filesystem>
#include <set>
#include <system_error>
#include <utility>

namespace {

constexpr const char* kLogPrefix = "CoreAudio: ";
constexpr const char* kBannerLine = "CoreAudio: ========================================";

// Take names already carried by files in the take folder: the part of each
// entry's name before its first '_'. A name drawn again after the counter was
// reset (a lost configuration file) is passed over even when the rest of the
// file name would differ, so two takes never share a name in one roll.
std::set<std::string> takeNamesInFolder(const std::string& folder)
{
    std::set<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        const std::string entry = it->path().filename().string();
        names.insert(entry.substr(0, entry.find('_')));
    }
    return names;
}

struct OpenedFile {
    std::unique_ptr<BwfFileWriter> writer; // null when the file was not opened
    std::string takeName;                  // empty when no name could be drawn
    std::string path;
    std::string error;
};

OpenedFile drawNameAndOpen(const TakeFileRequest& request, const TakeFilePlan& plan, std::set<std::string>& usedNames)
{
    OpenedFile file;
    const auto inUse = [&](const std::string& name) {
        std::error_code error;
        return usedNames.count(name) > 0 ||
               std::filesystem::exists(takeFilePath(request.takeFolder, name, request.metadata, plan), error);
    };
    file.takeName = drawUnusedTakeName(request.drawName, inUse, file.error);
    if (file.takeName.empty())
        return file;
    usedNames.insert(file.takeName);
    file.path = takeFilePath(request.takeFolder, file.takeName, request.metadata, plan);

    BwfFileWriter::BextChunk bext = request.takeBext;
    bext.trackNames = plan.bextTrackNames;
    auto writer = std::make_unique<BwfFileWriter>();
    writer->setBextChunk(bext);
    // Create-only-if-new: a file that appeared since the name was checked
    // fails this file rather than being overwritten.
    if (writer->open(file.path, request.sampleRate, plan.channelCount, request.sampleFormat,
                     BwfFileWriter::OpenMode::CreateNew))
        file.writer = std::move(writer);
    else
        file.error = writer->lastError();
    return file;
}

// Logs the failure line and, when there is one, the reason underneath it.
void logFailure(const std::string& line, const std::string& detail)
{
    debugLog(line);
    if (!detail.empty())
        debugLog(kLogPrefix + detail);
}

TakeFileSet failed(TakeFileSet set, const std::string& line, const std::string& detail = {})
{
    logFailure(line, detail);
    set.ok = false;
    set.failureReason = withoutLogPrefix(line);
    if (!detail.empty())
        set.failureReason += " (" + detail + ")";
    set.polyWriter.reset();
    set.monoWriters.clear();
    set.monoWriterTracks.clear();
    return set;
}

void logPolyphonicFileCreated(const TakeFileRequest& request, const std::string& path, int channels)
{
    const Timecode& tc = request.startTimecode;
    debugLog(kBannerLine);
    debugLog("CoreAudio: POLYPHONIC RECORDING FILE CREATED:");
    debugLog("CoreAudio: Path: " + path);
    debugLog("CoreAudio: Channels: " + std::to_string(channels));
    debugLog("CoreAudio: Sample Rate: " + std::to_string(request.sampleRate));
    debugLog("CoreAudio: BWF Start Timecode: " + std::to_string(tc.hours) + ":" + std::to_string(tc.minutes) + ":" +
             std::to_string(tc.seconds) + ":" + std::to_string(tc.frames) + " " + (tc.dropFrame ? "DF" : "NDF"));
    debugLog(kBannerLine);
}

TakeFileSet openPolyphonic(const TakeFileRequest& request, TakeFileSet set, std::set<std::string>& usedNames)
{
    const TakeFilePlan plan = planTakeFiles(TakeLayout::Polyphonic, request.trackNames, request.armedAtStart,
                                            request.trackCount, request.noMix)
                                  .front();
    const int channels = plan.channelCount;
    if (channels < 1)
        return failed(std::move(set),
                      "CoreAudio: Refusing polyphonic take without channels: Bitbucket Mode is on and no track is armed");
    // The ring writer interleaves one block of every channel into the frame
    // buffer; checked before anything is created.
    const size_t required = static_cast<size_t>(request.bufferSizeFrames) * static_cast<size_t>(channels);
    if (required > request.frameBufferFloats)
        return failed(std::move(set), "ERROR: Polyphonic buffer too small! Required: " + std::to_string(required) +
                                          ", Available: " + std::to_string(request.frameBufferFloats));

    OpenedFile file = drawNameAndOpen(request, plan, usedNames);
    set.takeName = file.takeName;
    if (!file.writer)
        return failed(std::move(set), "CoreAudio: Failed to open polyphonic recording file: " + file.path, file.error);

    logPolyphonicFileCreated(request, file.path, channels);
    debugLog("CoreAudio: Recording polyphonic file (" + std::to_string(channels) + " channels) to: " + file.path);
    set.polyWriter = std::move(file.writer);
    set.polyFilePath = file.path;
    set.polyChannelCount = channels;
    set.ok = true;
    return set;
}

TakeFileSet openMono(const TakeFileRequest& request, TakeFileSet set, std::set<std::string>& usedNames)
{
    const std::vector<TakeFilePlan> plans =
        planTakeFiles(TakeLayout::Mono, request.trackNames, request.armedAtStart, request.trackCount, request.noMix);
    if (request.noMix)
        debugLog("CoreAudio: Bitbucket Mode - skipping MIX file creation");
    if (plans.empty())
        return failed(std::move(set),
                      "CoreAudio: Refusing mono take without files: Bitbucket Mode is on and no track is armed");

    for (const TakeFilePlan& plan : plans) {
        OpenedFile file = drawNameAndOpen(request, plan, usedNames);
        if (set.takeName.empty())
            set.takeName = file.takeName;
        if (plan.role == TakeFileRole::MonoMix) {
            if (!file.writer)
                return failed(std::move(set), "CoreAudio: Failed to open MIX recording file: " + file.path, file.error);
            debugLog("CoreAudio: Recording MIX to: " + file.path);
        } else if (!file.writer) {
            logFailure("CoreAudio: Failed to open track recording file: " + file.path, file.error);
            continue;
        } else {
            debugLog("CoreAudio: Recording Track " + std::to_string(plan.trackIndex + 1) + " to: " + file.path);
        }
        set.monoWriters.push_back(std::move(file.writer));
        set.monoWriterTracks.push_back(plan.trackIndex);
    }
    // Without a mix every file may have failed: a take that records nothing
    // must not be reported as running.
    if (set.monoWriters.empty())
        return failed(std::move(set), "CoreAudio: No take file could be opened in " + request.takeFolder);
    set.ok = true;
    return set;
}

} // namespace

TakeFileSet openTakeFiles(const TakeFileRequest& request)
{
    TakeFileSet set;
    set.channelNames = bextTrackNames(request.trackNames, request.armedAtStart, request.trackCount, request.noMix);
    set.takeBext = request.takeBext;
    set.takeBext.trackNames = set.channelNames;

    std::set<std::string> usedNames = takeNamesInFolder(request.takeFolder);
    set = request.layout == TakeLayout::Polyphonic ? openPolyphonic(request, std::move(set), usedNames)
                                                   : openMono(request, std::move(set), usedNames);
    if (!set.takeName.empty())
        set.baseName = takeBaseName(set.takeName, request.metadata);
    return set;
}
