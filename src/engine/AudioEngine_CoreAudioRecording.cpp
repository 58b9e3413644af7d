// The recording side's operations: each forwards to the take recorder,
// which owns the settings, the metadata, the take and its writer thread.
// What a take's start asks of the engine (routing, arming, buffer size, the
// LTC reader) is answered here, on the GUI thread.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/SessionState.h"
#include "core/DebugLog.h"

#include <algorithm>

namespace {

TakeMetadata toTakeMetadata(const AudioEngineBase::RecordingMetadata& metadata)
{
    return TakeMetadata{metadata.project, metadata.soundRoll, metadata.scene,
                        metadata.take,    metadata.notes,     metadata.trackNames};
}

}  // namespace

void AudioEngine_CoreAudio::setSessionState(std::shared_ptr<SessionState> session)
{
    sessionState_ = std::move(session);
}

void AudioEngine_CoreAudio::setMediaFormat(int fileFormat, int bitDepth)
{
    takeRecorder_.setMediaFormat(fileFormat, bitDepth);
}

void AudioEngine_CoreAudio::setSampleFormat(BwfFileWriter::SampleFormat format)
{
    takeRecorder_.setSampleFormat(format);
}

int AudioEngine_CoreAudio::getFileFormat() const
{
    return takeRecorder_.fileFormat();
}

int AudioEngine_CoreAudio::getBitDepth() const
{
    return takeRecorder_.bitDepth();
}

BwfFileWriter::SampleFormat AudioEngine_CoreAudio::getSampleFormat() const
{
    return takeRecorder_.sampleFormat();
}

void AudioEngine_CoreAudio::setPrerollDuration(int seconds)
{
    takeRecorder_.setPrerollSeconds(seconds);
}

int AudioEngine_CoreAudio::getPrerollDuration() const
{
    return takeRecorder_.prerollSeconds();
}

void AudioEngine_CoreAudio::setPostrollDuration(int seconds)
{
    takeRecorder_.setPostrollSeconds(seconds);
}

int AudioEngine_CoreAudio::getPostrollDuration() const
{
    return takeRecorder_.postrollSeconds();
}


bool AudioEngine_CoreAudio::startRecording()
{
    if (!initialized_) {
        notReadyRefusal_ = "Audio engine not initialized";
        return false;
    }
    notReadyRefusal_.clear();
    return takeRecorder_.startRecording();
}

std::string AudioEngine_CoreAudio::getTakeStartRefusal() const
{
    return notReadyRefusal_.empty() ? takeRecorder_.takeStartRefusal() : notReadyRefusal_;
}

bool AudioEngine_CoreAudio::stopRecording()
{
    return takeRecorder_.stopRecording();
}

bool AudioEngine_CoreAudio::isRecording() const
{
    return takeRecorder_.isRecording();
}

bool AudioEngine_CoreAudio::isWriterDraining() const
{
    return takeRecorder_.isWriterDraining();
}

void AudioEngine_CoreAudio::cancelPendingPostroll()
{
    takeRecorder_.cancelPendingPostroll();
}

void AudioEngine_CoreAudio::setRecordingMetadata(const RecordingMetadata& metadata)
{
    takeRecorder_.setRecordingMetadata(toTakeMetadata(metadata));
}

AudioEngineBase::RecordingMetadata AudioEngine_CoreAudio::getRecordingMetadata() const
{
    TakeMetadata metadata = takeRecorder_.recordingMetadata();
    return RecordingMetadata{std::move(metadata.project), std::move(metadata.soundRoll), std::move(metadata.scene),
                             std::move(metadata.take),    std::move(metadata.notes),     std::move(metadata.trackNames)};
}

Timecode AudioEngine_CoreAudio::getStartTimecode() const
{
    return takeRecorder_.startTimecode();
}

void AudioEngine_CoreAudio::setTrackArmed(int track, bool armed)
{
    debugLog("CoreAudio: setTrackArmed called - track=" + std::to_string(track) + " armed=" + (armed ? "true" : "false"));
    if (track < 0 || track >= kMaxTracks)
        return;
    const size_t index = static_cast<size_t>(track);
    const bool wasArmed = trackArmed_[index].exchange(armed, std::memory_order_relaxed);
    takeRecorder_.trackArmChanged(track, wasArmed, armed);
}

bool AudioEngine_CoreAudio::isTrackArmed(int track) const
{
    if (track < 0 || track >= kMaxTracks)
        return false;
    return trackArmed_[static_cast<size_t>(track)].load(std::memory_order_relaxed);
}

// Frames, counted once per frame position whatever the take's layout and
// channel count: those the ring writer skipped plus those direct capture lost;
// with the samples the block writer could not write.
int64_t AudioEngine_CoreAudio::getDroppedSamples() const
{
    return takeRecorder_.droppedSamples() + directCaptureEarlierLostFrames_.load(std::memory_order_relaxed)
           + directCaptureOverflowFrames_.load(std::memory_order_relaxed)
           + directCaptureUnderrunFrames_.load(std::memory_order_relaxed)
           // Frames an audio server skipped (xruns) never reached the ring.
           + audioSystem_->getDroppedFrameCount();
}

int64_t AudioEngine_CoreAudio::getWriteErrors() const
{
    return takeRecorder_.writeErrors();
}


bool AudioEngine_CoreAudio::waitForWriterIdle(std::chrono::milliseconds timeout)
{
    return takeRecorder_.waitForWriterIdle(timeout);
}

WriterState AudioEngine_CoreAudio::getWriterState() const
{
    return takeRecorder_.writerState();
}

uint64_t AudioEngine_CoreAudio::getRingWriterReadPosition() const
{
    return takeRecorder_.ringWriterReadPosition();
}

uint64_t AudioEngine_CoreAudio::getRingWriterLargestLagFrames() const
{
    return takeRecorder_.ringWriterLargestLagFrames();
}

int64_t AudioEngine_CoreAudio::getTakeFrameCount() const
{
    return takeRecorder_.takeFrameCount();
}

std::vector<std::string> AudioEngine_CoreAudio::getLastClosedTakeFiles() const
{
    return takeRecorder_.lastClosedTakeFiles();
}

// --- Take start steps ------------------------------------------------------

const TakeSettingsLatch& AudioEngine_CoreAudio::latchTakeSettings()
{
    return takeRecorder_.latchTakeSettings();
}

const TakeSettingsLatch& AudioEngine_CoreAudio::getLatchedTakeSettings() const
{
    return takeRecorder_.latchedTakeSettings();
}

TakeMetadata AudioEngine_CoreAudio::takeMetadataSnapshot() const
{
    return takeRecorder_.takeMetadataSnapshot();
}

bool AudioEngine_CoreAudio::makeTakeFolder(const TakeMetadata& snapshot, std::string& takeFolder)
{
    return takeRecorder_.makeTakeFolder(snapshot, takeFolder);
}

StartTimecodeResult AudioEngine_CoreAudio::captureTakeStartTimecode(uint64_t startPositionFrames,
                                                                    uint64_t prerollFrames,
                                                                    const LocalDateTime& localTime)
{
    return takeRecorder_.captureTakeStartTimecode(startPositionFrames, prerollFrames, localTime);
}

TakeFileSet AudioEngine_CoreAudio::openTakeFiles(const std::string& takeFolder, const TakeMetadata& snapshot,
                                                 const std::array<bool, kMaxTracks>& armedAtStart, int trackCount)
{
    return takeRecorder_.openTakeFiles(takeFolder, snapshot, armedAtStart, trackCount);
}

// --- What a take's start asks of the engine ------------------------------------

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

bool AudioEngine_CoreAudio::isTrackArmedForTake(int track) const
{
    return isTrackArmed(track);
}

bool AudioEngine_CoreAudio::takeHasNoMix() const
{
    return isBitbucketMode();
}

int AudioEngine_CoreAudio::takeBufferSizeFrames() const
{
    return bufferSizeFrames_;
}

size_t AudioEngine_CoreAudio::takeFrameBufferFloats() const
{
    return frameBuffer_.size();
}

// One snapshot for time, anchor and validity; the detected rate may read a
// second one.
void AudioEngine_CoreAudio::readTakeTimecodeInputs(StartTimecodeInputs& inputs) const
{
    inputs.snapshot = ltcDecoder_->getSnapshot();
    inputs.detectedFps = getDetectedFramerate();
    inputs.forcedFps = ltcDecoder_->forcedFps();
}
