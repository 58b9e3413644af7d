// The take recorder's GUI side: settings and metadata, the take start and
// its steps (settings latch, metadata snapshot, folders, start timecode, take
// files), the stop with its post-roll, and the hand-over points still to be
// filled. The ring writer thread (TakeRecorderWriter.cpp) and the take close
// (TakeRecorderClose.cpp) have their own files.
#include "engine/take/TakeRecorder.h"

#include "core/DebugLog.h"
#include "engine/take/TakeFiles.h"
#include "engine/take/TakeNaming.h"
#include "platform/volumes/RecordingDrive.h"

#include <algorithm>
#include <exception>

namespace {

constexpr const char* kTakeAlreadyRunning = "A take is already recording.";
constexpr const char* kPreviousTakeClosing = "The previous take is still being finished; try again in a moment.";

} // namespace

TakeRecorder::TakeRecorder(TakeEngineSide& engine, int sampleRate) : engine_(engine), sampleRate_(sampleRate)
{
    takeTimecode_.startTimecode = {0, 0, 0, 0, 30, false};
    takeTimecode_.takeTimestampSampleRate = sampleRate;
}

TakeRecorder::~TakeRecorder()
{
    stopRingWriter();
    std::vector<std::unique_ptr<LiveBackupWorker>> retired;
    {
        std::lock_guard<std::mutex> lock(backupMutex_);
        retired = std::move(liveBackupWorkers_);
        liveBackupWorkers_.clear();
        liveTakeControls_.clear();
    }
    retireLiveBackupWorkers(retired);
    blockWriter_.stop(true);
}

// --- Settings and metadata ---------------------------------------------------

void TakeRecorder::setMediaFormat(int fileFormat, int bitDepth)
{
    // Any value but 0 records mono files; storing it as 1 keeps every later
    // reader (take close, backup, the settings dialog) agreeing with that.
    fileFormat_ = normalizeFileFormat(fileFormat);
    if (fileFormat_ != fileFormat)
        debugLog("CoreAudio: File format " + std::to_string(fileFormat) + " records one mono file per track (stored as "
                 + std::to_string(fileFormat_) + ")");
    bitDepth_ = bitDepth;
}

void TakeRecorder::setSampleFormat(BwfFileWriter::SampleFormat format)
{
    sampleFormat_ = format;
}

void TakeRecorder::setPrerollSeconds(int seconds)
{
    prerollSeconds_ = clampRollSeconds(seconds);
    const uint64_t capacity = ring_ ? ring_->capacityFrames() : 0;
    debugLog("CoreAudio: Pre-record duration set to " + std::to_string(prerollSeconds_) + " seconds (fixed ring capacity "
             + std::to_string(capacity) + " frames)");
}

void TakeRecorder::setPostrollSeconds(int seconds)
{
    postrollSeconds_ = clampRollSeconds(seconds);
    debugLog("CoreAudio: Post-record duration set to " + std::to_string(postrollSeconds_) + " seconds");
}

void TakeRecorder::setRecordingMetadata(const TakeMetadata& metadata)
{
    std::lock_guard<std::mutex> lock(metadataMutex_);
    recordingMetadata_ = metadata;
}

TakeMetadata TakeRecorder::recordingMetadata() const
{
    std::lock_guard<std::mutex> lock(metadataMutex_);
    return recordingMetadata_;
}

// --- Start ------------------------------------------------------------------

bool TakeRecorder::startRecording()
{
    takeStartRefusal_.clear();
    if (recording_.load(std::memory_order_acquire)) {
        takeStartRefusal_ = kTakeAlreadyRunning;
        return false;
    }
    const WriterState state = writerState_.load(std::memory_order_acquire);
    if (state != WriterState::Idle) {
        // The caller retries; a post-roll would only make it wait longer.
        if (state == WriterState::Draining)
            cancelPendingPostroll();
        takeStartRefusal_ = kPreviousTakeClosing;
        return false;
    }
    debugLog("CoreAudio: Starting recording");
    if (takeActive_.load(std::memory_order_acquire) || postrollPending_.load(std::memory_order_acquire)) {
        cancelPendingPostroll();
        takeStartRefusal_ = kPreviousTakeClosing;
        return false;
    }
    try {
        return startTake();
    } catch (const std::exception& error) {
        // Folder steps report through the file system's exceptions; nothing
        // has been published yet.
        takeStartRefusal_ = std::string("Failed to start recording: ") + error.what();
        debugLog("CoreAudio: " + takeStartRefusal_);
        return false;
    }
}

// The take begins at a ring position, not a moment: the files may take as
// long as the ring allows to be made.
bool TakeRecorder::startTake()
{
    const TakeSettingsLatch& settings = latchTakeSettings();
    const TakeMetadata snapshot = takeMetadataSnapshot();
    const LocalDateTime localTime = readLocalDateTime();
    std::string takeFolder;
    if (!makeTakeFolder(snapshot, takeFolder))
        return false;
    releasePreviousTakeFiles();
    const int trackCount = std::min(engine_.takeTrackCount(), kMaxTracks);

    const uint64_t writePosition = ring_->writePosition();
    const uint64_t prerollFrames = settings.takePrerollSeconds >= 1 ? prerollFramesAt(writePosition) : 0;
    const uint64_t startPosition = writePosition - prerollFrames;
    captureTakeStartTimecode(startPosition, prerollFrames, localTime);

    // Armed tracks beyond the take's track count have no file: they stay out
    // of the take, so every writer gets exactly the channels it was opened with.
    for (int t = 0; t < kMaxTracks; ++t)
        armedAtStart_[static_cast<size_t>(t)] = t < trackCount && engine_.isTrackArmedForTake(t);
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
        takeStartRefusal_ = files.failureReason;
        return false;
    }
    installTakeFiles(files);
    debugLog("CoreAudio: Ring buffer record start - writePos=" + std::to_string(writePosition)
             + " prerollSamples=" + std::to_string(prerollFrames) + " startPos=" + std::to_string(startPosition));
    enqueueLiveBackupTakes(startPosition, files);
    publishTakeStart(startPosition);
    pauseCopyQueue();
    debugLog("CoreAudio: Recording started successfully (unified ring buffer - zero-transition architecture)");
    return true;
}

// The latched pre-roll, limited to what the ring holds: never before the
// ring's first frame, and four device buffers short of a whole ring so the
// render callback cannot overwrite the pre-roll's start while it is copied.
uint64_t TakeRecorder::prerollFramesAt(uint64_t writePosition) const
{
    const uint64_t capacity = ring_->capacityFrames();
    const uint64_t bufferGuard = 4 * static_cast<uint64_t>(std::max(engine_.takeBufferSizeFrames(), 0));
    return std::min({static_cast<uint64_t>(sampleRate_) * static_cast<uint64_t>(takeSettings_.takePrerollSeconds),
                     writePosition, capacity > bufferGuard ? capacity - bufferGuard : 0});
}

void TakeRecorder::releasePreviousTakeFiles()
{
    std::lock_guard<std::mutex> lock(writersMutex_);
    while (!monoWriters_.empty())
        monoWriters_.pop_back();
    monoWriterTracks_.clear();
    polyWriter_.reset();
}

// Installed without writersMutex_: the ring writer sleeps until takeActive_.
void TakeRecorder::installTakeFiles(TakeFileSet& files)
{
    takeName_ = files.takeName;
    polyFilePath_ = files.polyFilePath;
    polyWriter_ = std::move(files.polyWriter);
    monoWriters_ = std::move(files.monoWriters);
    monoWriterTracks_ = files.monoWriterTracks;
}

// The positions first, then the state, then takeActive_ under the writer's
// mutex: the writer tests the flag under it before it waits, so it cannot
// miss the wake-up, and it reads the positions only after the flag.
void TakeRecorder::publishTakeStart(uint64_t startPosition)
{
    takeStartPosition_.store(startPosition, std::memory_order_release);
    takeEndPosition_.store(0, std::memory_order_release);
    takeHasEnd_.store(false, std::memory_order_release);
    ringWriterReadPosition_.store(startPosition, std::memory_order_release);
    takeFrameCounters_[1].store(0, std::memory_order_relaxed);
    recording_.store(true, std::memory_order_release);
    writerState_.store(WriterState::Recording, std::memory_order_release);
    {
        std::lock_guard<std::mutex> lock(ringWriterMutex_);
        takeActive_.store(true, std::memory_order_release);
    }
    ringWriterCondition_.notify_one();
}

// --- Stop ------------------------------------------------------------------

bool TakeRecorder::stopRecording()
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
        stopPosition = ring_->writePosition();
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

bool TakeRecorder::isWriterDraining() const
{
    const WriterState state = writerState_.load(std::memory_order_acquire);
    return state == WriterState::Draining || state == WriterState::Finalizing;
}

void TakeRecorder::cancelPendingPostroll()
{
    if (!postrollPending_.load(std::memory_order_acquire))
        return;
    // The end only ever moves earlier: a post-roll that has already run out
    // keeps its own end.
    uint64_t now = 0;
    {
        std::lock_guard<std::mutex> lock(takeEndMutex_);
        now = std::min(ring_->writePosition(), takeEndPosition_.load(std::memory_order_acquire));
        takeEndPosition_.store(now);
        takeHasEnd_.store(true, std::memory_order_release);
    }
    publishLiveBackupEnd(now, {});
    postrollPending_.store(false, std::memory_order_release);
    debugLog("CoreAudio: Cancelled pending post-roll, endPos set to now (" + std::to_string(now) + ")");
}

bool TakeRecorder::waitForWriterIdle(std::chrono::milliseconds timeout)
{
    std::unique_lock<std::mutex> lock(writerIdleMutex_);
    return writerIdleCondition_.wait_for(
        lock, timeout, [this] { return writerState_.load(std::memory_order_acquire) == WriterState::Idle; });
}

// --- Take start steps --------------------------------------------------------

const TakeSettingsLatch& TakeRecorder::latchTakeSettings()
{
    takeSettings_.takeLayout = takeLayoutForFileFormat(fileFormat_);
    takeSettings_.takeSampleFormat = sampleFormat_;
    takeSettings_.takePrerollSeconds = clampRollSeconds(prerollSeconds_);
    takeSettings_.takePostrollSeconds = clampRollSeconds(postrollSeconds_);
    takeSettings_.takeNoMix = engine_.takeHasNoMix();
    return takeSettings_;
}

TakeMetadata TakeRecorder::takeMetadataSnapshot() const
{
    TakeMetadata snapshot;
    {
        std::lock_guard<std::mutex> lock(metadataMutex_);
        snapshot = recordingMetadata_;
    }
    return withTakeDefaults(std::move(snapshot));
}

bool TakeRecorder::makeTakeFolder(const TakeMetadata& snapshot, std::string& takeFolder)
{
    const std::string base = baseRecordingFolder();
    takeFolder = takeFolderPath(base, snapshot.project, snapshot.soundRoll);
    // The folders would otherwise be made on the system disk under the
    // card's empty mount point, and the take recorded there.
    const std::string driveProblem = recordingDriveProblem(base, volumeSystem());
    if (!driveProblem.empty()) {
        debugLog("CoreAudio: Recording not started: " + driveProblem);
        takeStartRefusal_ = driveProblem;
        return false;
    }
    std::string failureLine;
    if (createTakeFolders(base, takeFolder, failureLine))
        return true;
    debugLog(failureLine);
    takeStartRefusal_ = withoutLogPrefix(failureLine) + " (" + takeFolder + ")";
    return false;
}

StartTimecodeResult TakeRecorder::captureTakeStartTimecode(uint64_t startPositionFrames, uint64_t prerollFrames,
                                                           const LocalDateTime& localTime)
{
    StartTimecodeInputs inputs;
    inputs.startPositionFrames = startPositionFrames;
    inputs.prerollFrames = prerollFrames;
    inputs.sampleRate = sampleRate_;
    engine_.readTakeTimecodeInputs(inputs);
    readStartTimecodeSettings(inputs);
    inputs.localTime = localTime;

    takeTimecode_ = captureStartTimecode(inputs);
    for (const std::string& line : takeTimecode_.logLines)
        debugLog(line);
    return takeTimecode_;
}

TakeFileSet TakeRecorder::openTakeFiles(const std::string& takeFolder, const TakeMetadata& snapshot,
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
    request.bufferSizeFrames = engine_.takeBufferSizeFrames();
    request.frameBufferFloats = engine_.takeFrameBufferFloats();
    request.drawName = [] { return generateTakeName(); };
    return ::openTakeFiles(request);
}

// --- Hand-over points still to be filled ----------------------------------

