// The recording side: take settings, takes, arming, backup and the health
// counters. Until takes are recorded the settings are not stored, no take
// starts and the writer stays Idle.
#include "engine/AudioEngine_CoreAudio.h"

namespace {

constexpr int kInitialFileFormat = 1;  // one mono file per track
constexpr int kInitialBitDepth = 24;

}  // namespace

void AudioEngine_CoreAudio::setSessionState(std::shared_ptr<SessionState> /*session*/) {}
void AudioEngine_CoreAudio::setMediaFormat(int /*fileFormat*/, int /*bitDepth*/) {}
void AudioEngine_CoreAudio::setSampleFormat(TakeSampleFormat /*format*/) {}

int AudioEngine_CoreAudio::getFileFormat() const
{
    return kInitialFileFormat;
}

int AudioEngine_CoreAudio::getBitDepth() const
{
    return kInitialBitDepth;
}

TakeSampleFormat AudioEngine_CoreAudio::getSampleFormat() const
{
    return kTakeSampleFormatInt24;
}

void AudioEngine_CoreAudio::setPrerollDuration(int /*seconds*/) {}

int AudioEngine_CoreAudio::getPrerollDuration() const
{
    return 0;
}

void AudioEngine_CoreAudio::setPostrollDuration(int /*seconds*/) {}

int AudioEngine_CoreAudio::getPostrollDuration() const
{
    return 0;
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
    return recording_.load(std::memory_order_acquire);
}

bool AudioEngine_CoreAudio::isWriterDraining() const
{
    const WriterState state = writerState_.load(std::memory_order_acquire);
    return state == WriterState::Draining || state == WriterState::Finalizing;
}

void AudioEngine_CoreAudio::cancelPendingPostroll() {}

void AudioEngine_CoreAudio::setRecordingMetadata(const RecordingMetadata& /*metadata*/) {}

AudioEngineBase::RecordingMetadata AudioEngine_CoreAudio::getRecordingMetadata() const
{
    return RecordingMetadata{};
}

Timecode AudioEngine_CoreAudio::getStartTimecode() const
{
    return Timecode{};
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
