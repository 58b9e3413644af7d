// The recording side: take settings and metadata, the take start and its
// steps (settings latch, metadata snapshot, folders, start timecode, take
// files), the stop with its post-roll, arming, backup and the health
// counters. The ring writer and the take close have their own files.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"
#include "core/SessionState.h"
#include "engine/TakeNaming.h"

#include <algorithm>
#include <exception>

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
    if (!initialized_ || recording_.load(std::memory_order_acquire))
        return false;
    const WriterState state = writerState_.load(std::memory_order_acquire);
    if (state != WriterState::Idle) {
        // The caller retries; a post-roll would only make it wait longer.
        if (state == WriterState::Draining)
            cancelPendingPostroll();
        return false;
    }
    debugLog("CoreAudio: Starting recording");
    if (takeActive_.load(std::memory_order_acquire) || postrollPending_.load(std::memory_order_acquire)) {
        cancelPendingPostroll();
        return false;
    }
    try {
        return startTake();
    } catch (const std::exception& error) {
        // Folder steps report through the file system's exceptions; nothing
        // has been published yet.
        debugLog(std::string("CoreAudio: Failed to start recording: ") + error.what());
        return false;
    }
}

bool AudioEngine_CoreAudio::startTake()
{
    const TakeSettingsLatch& settings = latchTakeSettings();
    const TakeMetadata snapshot = takeMetadataSnapshot();
    const LocalDateTime localTime = readLocalDateTime();
    std::string takeFolder;
    if (!makeTakeFolder(snapshot, takeFolder))
        return false;
    releasePreviousTakeFiles();
    const int trackCount = takeTrackCount();

    // The take begins at a ring position, not a moment: the files may take
    // as long as the ring allows to be made.
    const uint64_t writePosition = recordingRingWritePosition_.load(std::memory_order_acquire);
    const uint64_t capacity = static_cast<uint64_t>(recordingRingCapacityFrames_);
    const uint64_t bufferGuard = 4 * static_cast<uint64_t>(std::max(bufferSizeFrames_, 0));
    uint64_t prerollFrames = 0;
    if (settings.takePrerollSeconds >= 1 && capacity > 0) {
        prerollFrames = std::min({static_cast<uint64_t>(sampleRate_) * static_cast<uint64_t>(settings.takePrerollSeconds),
                                  writePosition, capacity > bufferGuard ? capacity - bufferGuard : 0});
    }
    const uint64_t startPosition = writePosition - prerollFrames;
    captureTakeStartTimecode(startPosition, prerollFrames, localTime);

    // Armed tracks beyond the take's track count have no file: they stay out
    // of the take, so every writer gets exactly the channels it was opened with.
    for (size_t t = 0; t < kMaxTracks; ++t)
        armedAtStart_[t] = static_cast<int>(t) < trackCount && trackArmed_[t].load(std::memory_order_relaxed);
    clearLateArmSlots();
    takeFrameCounters_[0].store(0, std::memory_order_relaxed);
    takeFolder_ = takeFolder;
    takeName_.clear();
    polyFilePath_.clear();
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        startMetadata_ = snapshot;
        stopMetadata_ = snapshot;
    }
    {
        std::lock_guard<std::mutex> lock(writersMutex_);
        lastClosedTakeFiles_.clear();
    }

    TakeFileSet files = openTakeFiles(takeFolder, snapshot, armedAtStart_, trackCount);
    if (!files.ok) {
        debugLog("CoreAudio: Recording not started: " + files.failureReason);
        return false;
    }
    installTakeFiles(files);

    takeStartPosition_.store(startPosition, std::memory_order_release);
    takeEndPosition_.store(0, std::memory_order_release);
    takeHasEnd_.store(false, std::memory_order_release);
    ringWriterReadPosition_.store(startPosition, std::memory_order_release);
    debugLog("CoreAudio: Ring buffer record start - writePos=" + std::to_string(writePosition)
             + " prerollSamples=" + std::to_string(prerollFrames) + " startPos=" + std::to_string(startPosition));
    enqueueLiveBackupTakes(startPosition, files);

    takeFrameCounters_[1].store(0, std::memory_order_relaxed);
    recording_.store(true, std::memory_order_release);
    writerState_.store(WriterState::Recording, std::memory_order_release);
    {
        // Under the writer's mutex: it tests the flag under it before it
        // waits, so it cannot miss the wake-up.
        std::lock_guard<std::mutex> lock(ringWriterMutex_);
        takeActive_.store(true, std::memory_order_release);
    }
    ringWriterCondition_.notify_one();
    pauseCopyQueue();
    debugLog("CoreAudio: Recording started successfully (unified ring buffer - zero-transition architecture)");
    return true;
}

void AudioEngine_CoreAudio::releasePreviousTakeFiles()
{
    std::lock_guard<std::mutex> lock(writersMutex_);
    while (!monoWriters_.empty())
        monoWriters_.pop_back();
    monoWriterTracks_.clear();
    polyWriter_.reset();
}

// The routing's track list, or one track per input channel without routing.
int AudioEngine_CoreAudio::takeTrackCount() const
{
    size_t routedTracks = 0;
    {
        std::lock_guard<std::mutex> lock(routingMutex_);
        routedTracks = trackInputIndices_.size();
    }
    const size_t count = routedTracks > 0 ? routedTracks : static_cast<size_t>(std::max(inputChannelCount_, 0));
    return static_cast<int>(std::min<size_t>(count, kMaxTracks));
}

// Installed without writersMutex_: the ring writer sleeps until takeActive_.
void AudioEngine_CoreAudio::installTakeFiles(TakeFileSet& files)
{
    takeName_ = files.takeName;
    polyFilePath_ = files.polyFilePath;
    polyWriter_ = std::move(files.polyWriter);
    monoWriters_ = std::move(files.monoWriters);
    monoWriterTracks_ = files.monoWriterTracks;
}

bool AudioEngine_CoreAudio::stopRecording()
{
    if (!recording_.load(std::memory_order_acquire))
        return false;
    debugLog("CoreAudio: Stopping recording");
    recording_.store(false, std::memory_order_release);
    // A take that already ended on a write error is Finalizing or Idle and
    // gets there on its own.
    WriterState expected = WriterState::Recording;
    writerState_.compare_exchange_strong(expected, WriterState::Draining);

    TakeMetadata stopValues;
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        stopValues = startMetadata_;
        stopValues.project = recordingMetadata_.project;
        stopValues.soundRoll = recordingMetadata_.soundRoll;
        stopValues.scene = recordingMetadata_.scene;
        stopValues.take = recordingMetadata_.take;
        stopValues = withTakeDefaults(std::move(stopValues));
        stopMetadata_ = stopValues;
    }

    const int postrollSeconds = takeSettings_.takePostrollSeconds;
    const uint64_t postrollFrames =
        postrollSeconds < 1 ? 0 : static_cast<uint64_t>(postrollSeconds) * static_cast<uint64_t>(sampleRate_);
    uint64_t stopPosition = 0;
    {
        // The ring writer reads its bounds under the same lock: it can never
        // copy past this stop position without seeing the end it sets.
        std::lock_guard<std::mutex> lock(takeEndMutex_);
        stopPosition = recordingRingWritePosition_.load(std::memory_order_acquire);
        takeEndPosition_.store(stopPosition + postrollFrames);
        takeHasEnd_.store(true, std::memory_order_release);
    }
    if (postrollSeconds < 1) {
        debugLog("CoreAudio: No post-roll, endPos=" + std::to_string(stopPosition));
    } else {
        postrollPending_.store(true, std::memory_order_release);
        debugLog("CoreAudio: Post-roll: " + std::to_string(postrollSeconds) + "s (" + std::to_string(postrollFrames)
                 + " samples), endPos=" + std::to_string(stopPosition + postrollFrames));
    }
    publishLiveBackupEnd(takeEndPosition_.load(std::memory_order_acquire), takeBaseName(takeName_, stopValues));
    return true;
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

void AudioEngine_CoreAudio::cancelPendingPostroll()
{
    if (!postrollPending_.load(std::memory_order_acquire))
        return;
    // The end only ever moves earlier: a post-roll that has already run out
    // keeps its own end.
    uint64_t now = 0;
    {
        std::lock_guard<std::mutex> lock(takeEndMutex_);
        now = std::min(recordingRingWritePosition_.load(std::memory_order_acquire),
                       takeEndPosition_.load(std::memory_order_acquire));
        takeEndPosition_.store(now);
        takeHasEnd_.store(true, std::memory_order_release);
    }
    publishLiveBackupEnd(now, {});
    postrollPending_.store(false, std::memory_order_release);
    debugLog("CoreAudio: Cancelled pending post-roll, endPos set to now (" + std::to_string(now) + ")");
}

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
    return takeTimecode_.startTimecode;
}

void AudioEngine_CoreAudio::setTrackArmed(int track, bool armed)
{
    debugLog("CoreAudio: setTrackArmed called - track=" + std::to_string(track) + " armed=" + (armed ? "true" : "false"));
    if (track < 0 || track >= kMaxTracks)
        return;
    const size_t index = static_cast<size_t>(track);
    const bool wasArmed = trackArmed_[index].exchange(armed, std::memory_order_relaxed);
    triggerLateArmCaptureIfRecording(track, wasArmed, armed);
}

bool AudioEngine_CoreAudio::isTrackArmed(int track) const
{
    if (track < 0 || track >= kMaxTracks)
        return false;
    return trackArmed_[static_cast<size_t>(track)].load(std::memory_order_relaxed);
}

// --- Hand-over points still to be filled ----------------------------------
// Late-armed tracks, live backup and the copy queue plug in here; until they
// are built a take records only the tracks armed at its start, nothing is
// backed up and no copy queue is paused or resumed.

void AudioEngine_CoreAudio::clearLateArmSlots() {}

void AudioEngine_CoreAudio::triggerLateArmCaptureIfRecording(int /*track*/, bool /*wasArmed*/, bool /*armed*/) {}

void AudioEngine_CoreAudio::writeLateArmChunk(uint64_t /*fromPosition*/, uint64_t /*toPosition*/) {}

void AudioEngine_CoreAudio::finalizeLateArmTracks(std::vector<std::string>& /*closedFiles*/) {}

void AudioEngine_CoreAudio::enqueueLiveBackupTakes(uint64_t /*startPosition*/, const TakeFileSet& /*files*/) {}

void AudioEngine_CoreAudio::publishLiveBackupEnd(uint64_t /*endPosition*/, const std::string& /*finalBaseName*/) {}

void AudioEngine_CoreAudio::queueBackupCopies(const std::vector<std::string>& /*closedFiles*/,
                                              const std::string& /*polyFilePath*/, const std::string& /*project*/,
                                              const std::string& /*soundRoll*/)
{
}

void AudioEngine_CoreAudio::pauseCopyQueue() {}

void AudioEngine_CoreAudio::resumeCopyQueue() {}

int64_t AudioEngine_CoreAudio::getDroppedSamples() const
{
    return droppedRingSamples_.load(std::memory_order_relaxed)
           + directCaptureEarlierLostFrames_.load(std::memory_order_relaxed)
           + directCaptureOverflowFrames_.load(std::memory_order_relaxed)
           + directCaptureUnderrunFrames_.load(std::memory_order_relaxed)
           // Frames an audio server skipped (xruns) never reached the ring.
           + audioSystem_->getDroppedFrameCount();
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
    StartTimecodeInputs inputs;
    inputs.startPositionFrames = startPositionFrames;
    inputs.prerollFrames = prerollFrames;
    inputs.sampleRate = sampleRate_;
    inputs.snapshot = ltcDecoder_->getSnapshot();
    inputs.detectedFps = getDetectedFramerate();
    inputs.forcedFps = ltcDecoder_->forcedFps.load();
    readStartTimecodeSettings(inputs);
    inputs.localTime = localTime;

    takeTimecode_ = captureStartTimecode(inputs);
    for (const std::string& line : takeTimecode_.logLines)
        debugLog(line);
    return takeTimecode_;
}

TakeFileSet AudioEngine_CoreAudio::openTakeFiles(const std::string& takeFolder, const TakeMetadata& snapshot,
                                                 const std::array<bool, kMaxTracks>& armedAtStart, int trackCount)
{
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
    request.takeBext = makeTakeBext(snapshot, takeTimecode_, {});
    request.startTimecode = takeTimecode_.startTimecode;
    request.bufferSizeFrames = bufferSizeFrames_;
    request.frameBufferFloats = frameBuffer_.size();
    request.drawName = [] { return generateTakeName(); };
    return ::openTakeFiles(request);
}
