// Late-armed tracks: a track armed while a take is being recorded is copied
// from the recording ring into a hidden mono capture beside the take, from
// the ring position of its arming on. At the take's close every capture is
// merged into the polyphonic file as an extra channel (silent before its
// arming) or, in a mono take, becomes a take file of its own.
//
// Threads: trackArmChanged and startLateArmCapture on the GUI thread;
// writeLateArmChunk and finalizeLateArmTracks on the ring writer thread.
// Slots are touched only under lateArmMutex_; the finalization takes them
// out under it and works on its own copies, and once it has, no capture can
// start until the next take (lateArmOpen_). A capture's file is opened on
// the GUI thread outside the mutex, so the ring writer never waits for it.
#include "engine/take/TakeRecorder.h"

#include "core/DebugLog.h"
#include "engine/take/TakeFiles.h"
#include "engine/take/TakeNaming.h"
#include "media/BwfMetadataReader.h"
#include "media/ChannelMerge.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace {

constexpr uint64_t kLateArmChunkFrames = 4096;

const char* trueFalse(bool value)
{
    return value ? "true" : "false";
}

std::string twoDigits(int number)
{
    char text[16];
    std::snprintf(text, sizeof text, "%02d", number);
    return text;
}

void removeFile(const std::string& path)
{
    std::error_code error;
    std::filesystem::remove(path, error);
    if (error)
        debugLog("CoreAudio: WARNING - Failed to remove late-arm temp file: " + path + " (" + error.message() + ")");
}

}  // namespace

bool TakeRecorder::isLateArmCaptureActive(int track) const
{
    if (track < 0 || track >= kMaxTracks)
        return false;
    std::lock_guard<std::mutex> lock(lateArmMutex_);
    return lateArmSlots_[static_cast<size_t>(track)].lateArmActive;
}

void TakeRecorder::trackArmChanged(int track, bool wasArmed, bool armed)
{
    if (track < 0 || track >= kMaxTracks)
        return;
    const auto index = static_cast<size_t>(track);
    const bool active = isLateArmCaptureActive(track);
    const bool recording = recording_.load(std::memory_order_acquire);
    debugLog("CoreAudio: Track " + std::to_string(track) + " wasArmed=" + trueFalse(wasArmed) + " recording="
             + trueFalse(recording) + " armedAtStart=" + trueFalse(armedAtStart_[index]) + " lateArmActive="
             + trueFalse(active));
    // Disarming never stops anything; a track in the take files, or already
    // captured, gains nothing by being armed again.
    if (!armed || wasArmed || !recording || armedAtStart_[index] || active)
        return;
    debugLog("CoreAudio: Triggering late-arm capture for track " + std::to_string(track));
    startLateArmCapture(track);
}

void TakeRecorder::startLateArmCapture(int track)
{
    if (track < 0 || track >= kMaxTracks || !recording_.load(std::memory_order_acquire)
        || writerState_.load(std::memory_order_acquire) != WriterState::Recording)
        return;
    debugLog("CoreAudio: Starting late-arm capture for track " + std::to_string(track));
    const uint64_t position = ring_->writePosition();
    const uint64_t takeStart = takeStartPosition_.load(std::memory_order_acquire);
    const uint64_t sampleOffset = position >= takeStart ? position - takeStart : 0;
    publishLiveBackupArm(track, position);

    const std::string trackName = configuredTrackNames()[static_cast<size_t>(track)];
    const std::string tempPath = takeFolder_ + "/.late_arm_track_" + twoDigits(track + 1) + ".wav";
    TakeMetadata start;
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        start = startMetadata_;
    }
    BwfFileWriter::BextChunk bext = makeTakeBext(start, takeTimecode_, {trackName});
    bext.timeReference += sampleOffset;
    if (bext.timestampSampleRate == 0)
        bext.timestampSampleRate = static_cast<uint32_t>(sampleRate_);
    auto writer = std::make_unique<BwfFileWriter>();
    writer->setBextChunk(bext);
    if (!writer->open(tempPath, sampleRate_, 1, takeSettings_.takeSampleFormat)) {
        debugLog("CoreAudio: Failed to open late-arm temp file: " + tempPath + " (" + writer->lastError() + ")");
        return;
    }

    {
        std::lock_guard<std::mutex> lock(lateArmMutex_);
        LateArmSlot& slot = lateArmSlots_[static_cast<size_t>(track)];
        // The take may have ended (a stop, a write error) while the file was
        // opened: then its close has taken the slots, and this capture goes.
        const bool stillRecording = lateArmOpen_ && recording_.load(std::memory_order_acquire)
                                    && writerState_.load(std::memory_order_acquire) == WriterState::Recording;
        if (stillRecording && !slot.lateArmActive) {
            slot.writer = std::move(writer);
            slot.sampleOffset = sampleOffset;
            slot.startFrame = position;
            slot.nextFrame = position;
            slot.trackIndex = track;
            slot.tempPath = tempPath;
            slot.trackName = trackName;
            slot.lateArmActive = true;
        }
    }
    if (writer) {
        writer->close();
        writer.reset();
        removeFile(tempPath);
        debugLog("CoreAudio: Late-arm capture for track " + std::to_string(track) + " dropped: the take has ended");
        return;
    }
    debugLog("CoreAudio: Late-arm track " + std::to_string(track) + " started at sample offset "
             + std::to_string(sampleOffset));
}

// Take start (GUI thread, writer Idle): the previous take's slots are empty
// by now; captures may start once the take is Recording.
void TakeRecorder::clearLateArmSlots()
{
    std::lock_guard<std::mutex> lock(lateArmMutex_);
    for (LateArmSlot& slot : lateArmSlots_) {
        if (slot.writer) {
            slot.writer->close();
            removeFile(slot.tempPath);
        }
        slot = LateArmSlot{};
    }
    lateArmOpen_ = true;
    if (lateArmBuffer_.size() < kLateArmChunkFrames)
        lateArmBuffer_.assign(kLateArmChunkFrames, 0.0f);
}

// Ring writer thread, after the chunk [fromPosition, toPosition) went to the
// take files. A capture appends everything from where it stands: when it
// was armed behind the writer (its file opened while the writer moved on),
// the frames since its arming are still in the ring and come first, so the
// capture stays aligned with the take sample for sample.
void TakeRecorder::writeLateArmChunk(uint64_t /*fromPosition*/, uint64_t toPosition)
{
    std::lock_guard<std::mutex> lock(lateArmMutex_);
    for (LateArmSlot& slot : lateArmSlots_) {
        if (slot.lateArmActive && slot.writer && slot.writer->isOpen())
            writeLateArmSlot(slot, toPosition);
    }
}

void TakeRecorder::writeLateArmSlot(LateArmSlot& slot, uint64_t toPosition)
{
    const int column = 1 + slot.trackIndex;
    const size_t rowFloats = ring_->channels();
    while (slot.nextFrame < toPosition) {
        const uint64_t frames = std::min(toPosition - slot.nextFrame, kLateArmChunkFrames);
        uint64_t done = 0;
        while (done < frames) {
            const uint64_t run = std::min(frames - done, ring_->contiguousFramesAt(slot.nextFrame + done));
            const float* source = ring_->frameAt(slot.nextFrame + done) + column;
            for (uint64_t k = 0; k < run; ++k)
                lateArmBuffer_[done + k] = source[k * rowFloats];
            done += run;
        }
        // Frames the device came round to while they were copied are lost;
        // silence keeps the capture's length, hence its alignment.
        if (ring_->wasOverwritten(slot.nextFrame, kMaxBlockFrames)) {
            std::fill(lateArmBuffer_.begin(), lateArmBuffer_.begin() + static_cast<std::ptrdiff_t>(frames), 0.0f);
            droppedRingFrames_.fetch_add(static_cast<int64_t>(frames), std::memory_order_relaxed);
        }
        if (!slot.writer->writeFrames(lateArmBuffer_.data(), static_cast<int64_t>(frames))) {
            // The capture ends here; what it holds is finalized with the take.
            debugLog("CoreAudio: ERROR - Ring writer failed to write late-arm track " + std::to_string(slot.trackIndex)
                     + ": " + slot.writer->lastError());
            writeErrorCount_.fetch_add(1, std::memory_order_relaxed);
            slot.writer->close();
            return;
        }
        slot.nextFrame += frames;
    }
}

bool TakeRecorder::finalizeLateArmTracks(std::vector<std::string>& closedFiles)
{
    std::vector<LateArmSlot> slots;
    {
        std::lock_guard<std::mutex> lock(lateArmMutex_);
        lateArmOpen_ = false;
        for (LateArmSlot& slot : lateArmSlots_) {
            if (slot.lateArmActive)
                slots.push_back(std::move(slot));
            slot = LateArmSlot{};
        }
    }
    if (slots.empty()) {
        debugLog("CoreAudio: No late-armed tracks to finalize");
        return false;
    }
    debugLog("CoreAudio: Finalizing late-armed tracks");
    for (LateArmSlot& slot : slots) {
        if (slot.writer && slot.writer->isOpen() && !slot.writer->close())
            debugLog("CoreAudio: WARNING - Late-arm capture not closed cleanly: " + slot.tempPath + " ("
                     + slot.writer->lastError() + ")");
        slot.writer.reset();
    }
    std::string polyFilePath;
    {
        std::lock_guard<std::mutex> lock(writersMutex_);
        polyFilePath = polyFilePath_;
    }
    if (polyFilePath.empty()) {
        for (LateArmSlot& slot : slots)
            finalizeLateArmAsMonoFile(slot, closedFiles);
        return true;
    }
    return mergeLateArmTracks(slots, polyFilePath, closedFiles);
}

// The capture becomes a visible take file named like the mono take files,
// with a take name of its own.
bool TakeRecorder::finalizeLateArmAsMonoFile(LateArmSlot& slot, std::vector<std::string>& closedFiles)
{
    TakeMetadata start;
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        start = startMetadata_;
    }
    const std::string finalPath = takeFolder_ + "/" + takeBaseName(generateTakeName(), start) + "_"
                                  + twoDigits(slot.trackIndex + 1) + "_" + sanitizeTrackName(slot.trackName) + ".wav";
    std::error_code error;
    if (!std::filesystem::exists(slot.tempPath, error)) {
        if (error)
            debugLog("CoreAudio: WARNING - Failed to finalize late-arm file: " + error.message());
        return false;
    }
    // Never over another recording.
    if (std::filesystem::exists(finalPath, error) || error) {
        debugLog("CoreAudio: WARNING - Failed to finalize late-arm file: " + finalPath
                 + (error ? " (" + error.message() + ")" : std::string(" already exists")));
        return false;
    }
    std::filesystem::rename(slot.tempPath, finalPath, error);
    if (error) {
        debugLog("CoreAudio: WARNING - Failed to finalize late-arm file: " + error.message());
        return false;
    }
    debugLog("CoreAudio: Late-arm track " + std::to_string(slot.trackIndex) + " finalized as: " + finalPath);
    closedFiles.push_back(finalPath);
    return true;
}

bool TakeRecorder::mergeLateArmTracks(std::vector<LateArmSlot>& slots, const std::string& polyFilePath,
                                      std::vector<std::string>& closedFiles)
{
    debugLog("CoreAudio: Merging " + std::to_string(slots.size()) + " late-arm tracks into polyphonic file");
    ChannelMergeRequest request;
    request.basePath = polyFilePath;
    request.mergedPath = polyFilePath + ".merged.wav";
    request.sampleRate = sampleRate_;
    request.sampleFormat = takeSettings_.takeSampleFormat;
    for (const LateArmSlot& slot : slots)
        request.captures.push_back(ChannelMergeCapture{slot.tempPath, slot.sampleOffset, slot.trackName});

    // The merged file keeps the take's own bext and iXML values, its channel
    // names included: they are what the take files were made with.
    try {
        const BwfMetadata existing = BwfMetadataReader::readMetadata(polyFilePath);
        BwfFileWriter::BextChunk& bext = request.bext;
        bext.description = existing.description;
        bext.originator = existing.originator;
        bext.originatorReference = existing.originatorReference;
        bext.originationDate = existing.originationDate;
        bext.originationTime = existing.originationTime;
        bext.timeReference = existing.timeReference;
        bext.version = existing.bextVersion;
        bext.codingHistory = existing.codingHistory;
        bext.project = existing.project;
        bext.scene = existing.scene;
        bext.take = existing.take;
        bext.tape = existing.tape;
        bext.note = existing.note;
        bext.circled = existing.circled;
        bext.frameRate = existing.frameRate;
        bext.dropFrame = existing.dropFrame;
        bext.timestampSampleRate = existing.timestampSampleRate;
        if (existing.tracks.size() == existing.channels) {
            for (const BwfMetadata::TrackInfo& track : existing.tracks)
                bext.trackNames.push_back(track.name);
        } else {
            if (!takeSettings_.takeNoMix)
                bext.trackNames.push_back(kMixChannelName);
            const std::array<std::string, kMaxTracks> names = configuredTrackNames();
            for (size_t t = 0; t < kMaxTracks; ++t) {
                if (armedAtStart_[t])
                    bext.trackNames.push_back(names[t]);
            }
        }
    } catch (const std::exception& error) {
        debugLog("CoreAudio: Failed to open original file for merging: " + polyFilePath + " (" + error.what() + ")");
    }

    const ChannelMergeResult result = mergeChannels(request);
    if (result.baseOpened) {
        debugLog("CoreAudio: Opened original file with " + std::to_string(result.baseChannels) + " channels");
        debugLog("CoreAudio: Merging into " + std::to_string(result.totalChannels) + " channels, "
                 + std::to_string(result.baseFrames) + " frames");
    }
    if (result.ok)
        debugLog("CoreAudio: Replaced original with merged file containing " + std::to_string(result.totalChannels)
                 + " channels");
    else
        debugLog("CoreAudio: WARNING - Late-arm merge failed, the take file is unchanged: " + result.reason);

    // A capture that is not in a verified merged file is kept as a visible
    // file of its own, never deleted.
    for (size_t i = 0; i < slots.size(); ++i) {
        if (result.captureMerged[i]) {
            removeFile(slots[i].tempPath);
            continue;
        }
        debugLog("CoreAudio: WARNING - Late-arm track " + std::to_string(slots[i].trackIndex)
                 + " kept as a separate file");
        finalizeLateArmAsMonoFile(slots[i], closedFiles);
    }
    if (!result.ok)
        return false;
    debugLog("CoreAudio: Successfully merged late-arm tracks into polyphonic file");
    return true;
}
