// The recording side: take settings and metadata, the take start's steps
// (settings latch, metadata snapshot, folders, start timecode, take files),
// takes, arming, backup and the health counters. Until takes are recorded no
// take starts and the writer stays Idle.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"
#include "core/SessionState.h"
#include "engine/TakeNaming.h"

#include <algorithm>

void AudioEngine_CoreAudio::setSessionState(std::shared_ptr<SessionState> session)
{
    sessionState_ = std::move(session);
}

void AudioEngine_CoreAudio::setMediaFormat(int fileFormat, int bitDepth)
{
    // Any value but 0 records mono files; storing it as 1 keeps every later
    // reader (take close, backup, the settings dialog) agreeing with that.
    fileFormat_ = normalizeFileFormat(fileFormat);
    if (fileFormat_ != fileFormat)
        debugLog("CoreAudio: File format " + std::to_string(fileFormat) + " records one mono file per track (stored as "
                 + std::to_string(fileFormat_) + ")");
    bitDepth_ = bitDepth;
}

void AudioEngine_CoreAudio::setSampleFormat(BwfFileWriter::SampleFormat format)
{
    sampleFormat_ = format;
}

int AudioEngine_CoreAudio::getFileFormat() const
{
    return fileFormat_;
}

int AudioEngine_CoreAudio::getBitDepth() const
{
    return bitDepth_;
}

BwfFileWriter::SampleFormat AudioEngine_CoreAudio::getSampleFormat() const
{
    return sampleFormat_;
}

void AudioEngine_CoreAudio::setPrerollDuration(int seconds)
{
    prerollSeconds_ = clampRollSeconds(seconds);
    debugLog("CoreAudio: Pre-record duration set to " + std::to_string(prerollSeconds_) + " seconds (fixed ring capacity "
             + std::to_string(recordingRingCapacityFrames_) + " frames)");
}

int AudioEngine_CoreAudio::getPrerollDuration() const
{
    return prerollSeconds_;
}

void AudioEngine_CoreAudio::setPostrollDuration(int seconds)
{
    postrollSeconds_ = clampRollSeconds(seconds);
    debugLog("CoreAudio: Post-record duration set to " + std::to_string(postrollSeconds_) + " seconds");
}

int AudioEngine_CoreAudio::getPostrollDuration() const
{
    return postrollSeconds_;
}

void AudioEngine_CoreAudio::setBackupMediaPaths(bool /*enabled*/, const std::vector<std::string>& /*roots*/) {}
void AudioEngine_CoreAudio::setBackupMediaPathsWithFormats(bool /*enabled*/,
                                                           const std::vector<BackupPathInfo>& /*paths*/)
{
}
void AudioEngine_CoreAudio::setLiveBackupActiveTake(bool /*enabled*/) {}

bool AudioEngine_CoreAudio::isBackupCopyActive() const
{
    return false;
}

bool AudioEngine_CoreAudio::startRecording()
{
    return false;
}

bool AudioEngine_CoreAudio::stopRecording()
{
    return false;
}

bool AudioEngine_CoreAudio::isRecording() const
{
    return recording_.load();
}

bool AudioEngine_CoreAudio::isWriterDraining() const
{
    const WriterState state = writerState_.load(std::memory_order_acquire);
    return state == WriterState::Draining || state == WriterState::Finalizing;
}

void AudioEngine_CoreAudio::cancelPendingPostroll() {}

void AudioEngine_CoreAudio::setRecordingMetadata(const RecordingMetadata& metadata)
{
    if (&metadata == &recordingMetadata_)
        return;
    std::lock_guard<std::mutex> lock(metadataMutex_);
    recordingMetadata_ = metadata;
}

AudioEngineBase::RecordingMetadata AudioEngine_CoreAudio::getRecordingMetadata() const
{
    std::lock_guard<std::mutex> lock(metadataMutex_);
    return recordingMetadata_;
}

Timecode AudioEngine_CoreAudio::getStartTimecode() const
{
    return startTimecode_;
}

void AudioEngine_CoreAudio::setTrackArmed(int /*track*/, bool /*armed*/) {}

bool AudioEngine_CoreAudio::isTrackArmed(int /*track*/) const
{
    return false;
}

int64_t AudioEngine_CoreAudio::getDroppedSamples() const
{
    return droppedRingSamples_.load(std::memory_order_relaxed)
           + directCaptureOverflowFrames_.load(std::memory_order_relaxed)
           + directCaptureUnderrunFrames_.load(std::memory_order_relaxed);
}

int64_t AudioEngine_CoreAudio::getWriteErrors() const
{
    return writeErrorCount_.load(std::memory_order_relaxed);
}

bool AudioEngine_CoreAudio::hasBackupDriveError(int /*drive*/) const
{
    return false;
}

void AudioEngine_CoreAudio::clearBackupDriveError(int /*drive*/) {}

// --- Take start steps ------------------------------------------------------

const TakeSettingsLatch& AudioEngine_CoreAudio::latchTakeSettings()
{
    takeSettings_.takeLayout = takeLayoutForFileFormat(fileFormat_);
    takeSettings_.takeSampleFormat = sampleFormat_;
    takeSettings_.takePrerollSeconds = clampRollSeconds(prerollSeconds_);
    takeSettings_.takePostrollSeconds = clampRollSeconds(postrollSeconds_);
    takeSettings_.takeNoMix = isBitbucketMode();
    return takeSettings_;
}

const TakeSettingsLatch& AudioEngine_CoreAudio::getLatchedTakeSettings() const
{
    return takeSettings_;
}

TakeMetadata AudioEngine_CoreAudio::takeMetadataSnapshot() const
{
    TakeMetadata snapshot;
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        snapshot = TakeMetadata{recordingMetadata_.project, recordingMetadata_.soundRoll, recordingMetadata_.scene,
                                recordingMetadata_.take,    recordingMetadata_.notes,     recordingMetadata_.trackNames};
    }
    return withTakeDefaults(std::move(snapshot));
}

bool AudioEngine_CoreAudio::makeTakeFolder(const TakeMetadata& snapshot, std::string& takeFolder)
{
    const std::string base = baseRecordingFolder();
    takeFolder = takeFolderPath(base, snapshot.project, snapshot.soundRoll);
    std::string failureLine;
    if (createTakeFolders(base, takeFolder, failureLine))
        return true;
    debugLog(failureLine);
    return false;
}

StartTimecodeResult AudioEngine_CoreAudio::captureTakeStartTimecode(uint64_t startPositionFrames,
                                                                    uint64_t prerollFrames,
                                                                    const LocalDateTime& localTime)
{
    // One snapshot for time, anchor and validity; the detected rate may read
    // a second one.
    const LtcDecoder::TcSnapshot snap = ltcDecoder_->getSnapshot();
    StartTimecodeInputs inputs;
    inputs.startPositionFrames = startPositionFrames;
    inputs.prerollFrames = prerollFrames;
    inputs.sampleRate = sampleRate_;
    inputs.snapshot = LtcSnapshotValues{snap.hours, snap.minutes,    snap.seconds, snap.frames,        snap.fps,
                                        snap.dropFrame, snap.fpsEstimate, snap.valid, snap.samplePosition};
    inputs.detectedFps = getDetectedFramerate();
    inputs.forcedFps = ltcDecoder_->forcedFps.load();
    readStartTimecodeSettings(inputs);
    inputs.localTime = localTime;

    StartTimecodeResult result = captureStartTimecode(inputs);
    for (const std::string& line : result.logLines)
        debugLog(line);
    startTimecode_ = result.startTimecode;
    takeFrameRate_ = result.takeFrameRate;
    takeDropFrame_ = result.takeDropFrame;
    takeTimestampSampleRate_ = result.takeTimestampSampleRate;
    takeTimeReference_ = result.takeTimeReference;
    takeOriginationDate_ = result.takeOriginationDate;
    takeOriginationTime_ = result.takeOriginationTime;
    return result;
}

TakeFileSet AudioEngine_CoreAudio::openTakeFiles(const std::string& takeFolder, const TakeMetadata& snapshot,
                                                 const std::array<bool, kMaxTracks>& armedAtStart, int trackCount)
{
    StartTimecodeResult timecode;
    timecode.takeFrameRate = takeFrameRate_;
    timecode.takeDropFrame = takeDropFrame_;
    timecode.takeTimestampSampleRate = takeTimestampSampleRate_;
    timecode.takeTimeReference = takeTimeReference_;
    timecode.takeOriginationDate = takeOriginationDate_;
    timecode.takeOriginationTime = takeOriginationTime_;

    TakeFileRequest request;
    request.takeFolder = takeFolder;
    request.metadata = snapshot;
    request.trackNames = trackNameList(snapshot.trackNames, configuredTrackNames());
    request.armedAtStart = armedAtStart;
    request.trackCount = std::clamp(trackCount, 0, kMaxTracks);
    request.layout = takeSettings_.takeLayout;
    request.noMix = takeSettings_.takeNoMix;
    request.sampleRate = sampleRate_;
    request.sampleFormat = takeSettings_.takeSampleFormat;
    request.takeBext = makeTakeBext(snapshot, timecode, {});
    request.startTimecode = startTimecode_;
    request.dropFrame = takeDropFrame_;
    request.bufferSizeFrames = bufferSizeFrames_;
    request.frameBufferFloats = frameBuffer_.size();
    request.drawName = [] { return generateTakeName(); };
    return ::openTakeFiles(request);
}
