// Construction, lifecycle, starting and stopping the output unit, and the
// device-alive listener.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"
#include "engine/render/RenderBlockBuffers.h"
#include "platform/audio/DefaultAudioSystem.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace {

constexpr std::chrono::seconds kShutdownWriterWait{15};
// Retired objects are small (a routing snapshot, an LTC reader): a slow
// timer is enough to free them when nothing else is published.
constexpr std::chrono::milliseconds kDeadWoodPeriod{100};

}  // namespace

AudioEngine_CoreAudio::AudioEngine_CoreAudio()
    : AudioEngine_CoreAudio(createDefaultAudioSystem(), kRecordingRingSeconds)
{
}

AudioEngine_CoreAudio::AudioEngine_CoreAudio(std::shared_ptr<AudioSystem> audioSystem, int recordingRingSeconds)
    : takeRecorder_(*this, kSampleRate), audioSystem_(std::move(audioSystem))
{
    allocateWorkBuffers();
    initializeOutputStages();
    allocateRecordingRing(std::max(recordingRingSeconds, 1));
    initializeSignalPath();
    takeRecorder_.setBackupSide(this);
    takeRecorder_.startRingWriter(recordingRing_);
    deadWood_.startTimer(kDeadWoodPeriod);
}

AudioEngine_CoreAudio::~AudioEngine_CoreAudio()
{
    shutdown();
    // After shutdown waited for Idle: a take still being copied ends its
    // copy loop here and is closed before the thread ends.
    takeRecorder_.stopRingWriter();
    // Jobs a late take close queued after shutdown are reported while the
    // engine they flag is still whole.
    stopBackupCopyQueue();
    // A unit left over from a device that failed to initialise its services
    // must not outlive the members its callback reads.
    stop();
    teardownAudioUnit();
}

void AudioEngine_CoreAudio::allocateWorkBuffers()
{
    const size_t block = kMaxBlockFrames;
    postTrimTapBuffers_.assign(kMaxTracks * block, 0.0f);
    chainOutputBuffers_.assign(kMaxTracks * block, 0.0f);
    busBuffers_.assign(RenderBlockBuffers::kBusCount * block, 0.0f);
    frameBuffer_.assign(block * kRingFrameFloats, 0.0f);
    playbackBuffer_.assign(block * kPlaybackChannels, 0.0f);
    auxBusBuffers_.assign(RoutingSnapshot::kAuxBusCount * block, 0.0f);
}

void AudioEngine_CoreAudio::allocateRecordingRing(int seconds)
{
    // Shared: live-backup workers keep reading the storage and the position
    // after the engine has let go of a take.
    recordingRing_ = std::make_shared<RecordingRing>(kRingFrameFloats, static_cast<uint64_t>(sampleRate_) * seconds);
}

bool AudioEngine_CoreAudio::initialize()
{
    if (initialized_)
        return true;
    debugLog("CoreAudio: Initializing audio engine");
    // A device selected before the first initialize is rendering already:
    // its callback feeds the decoder and its teardown needs the device ids.
    const bool unitInUse = outputUnit_ != nullptr || directCaptureProcExists_;
    if (!unitInUse)
        ltcDecoder_->initialize(sampleRate_);
    startBackupCopyQueue();
    loadChannelStripSettings();
    takeRecorder_.initializeBlockWriter(bufferSizeFrames_);
    if (!unitInUse) {
        AudioDeviceId defaultOutput = kNoAudioDevice;
        if (audioSystem_->getDefaultOutputDevice(defaultOutput) == kAudioOk)
            outputDeviceId_ = defaultOutput;
        inputDeviceId_ = kNoAudioDevice;
        currentDeviceName_.clear();
    }
    debugLog("CoreAudio: Engine infrastructure initialized (no audio device activated yet)");
    debugLog("CoreAudio: Waiting for device selection...");
    initialized_ = true;
    return true;
}

void AudioEngine_CoreAudio::shutdown()
{
    if (!initialized_)
        return;
    debugLog("CoreAudio: Shutting down audio engine");
    if (isRecording())
        stopRecording();
    cancelPendingPostroll();
    if (!waitForWriterIdle(kShutdownWriterWait))
        debugLog("CoreAudio: WARNING - timed out waiting for take finalization during shutdown");
    stop();
    teardownAudioUnit();
    // After the unit is gone: the render callback feeds the decoder.
    ltcDecoder_->shutdown();
    stopBackupCopyQueue();
    initialized_ = false;
}

bool AudioEngine_CoreAudio::isInitialized() const
{
    return initialized_;
}

bool AudioEngine_CoreAudio::isRunning() const
{
    return running_.load(std::memory_order_acquire);
}

bool AudioEngine_CoreAudio::start()
{
    if (!outputUnit_)
        return false;
    if (!running_.load(std::memory_order_acquire)) {
        const AudioStatus status = outputUnit_->start();
        if (status != kAudioOk) {
            debugLog("CoreAudio: Failed to start audio: " + std::to_string(status));
            return false;
        }
        unitStarted_.store(true, std::memory_order_release);
        running_.store(true, std::memory_order_release);
        debugLog("CoreAudio: Audio started");
    }
    return true;
}

bool AudioEngine_CoreAudio::stop()
{
    if (!outputUnit_)
        return false;
    // A lost device clears running while the unit may still render; the
    // unit is stopped in that case too.
    if (running_.load(std::memory_order_acquire) || unitStarted_.load(std::memory_order_acquire)) {
        const AudioStatus status = outputUnit_->stop();
        if (status != kAudioOk) {
            debugLog("CoreAudio: Failed to stop audio: " + std::to_string(status));
            return false;
        }
        unitStarted_.store(false, std::memory_order_release);
        running_.store(false, std::memory_order_release);
        debugLog("CoreAudio: Audio stopped");
        releaseRetiredObjects();
    }
    return true;
}

AudioStatus AudioEngine_CoreAudio::sDeviceAliveChanged(AudioDeviceId device, void* clientData)
{
    auto* engine = static_cast<AudioEngine_CoreAudio*>(clientData);
    if (engine == nullptr)
        return kAudioOk;
    bool alive = true;
    if (engine->audioSystem_->getDeviceIsAlive(device, alive) != kAudioOk || alive)
        return kAudioOk;
    engine->running_.store(false, std::memory_order_release);
    engine->takeRecorder_.countWriteError();
    debugLog("CoreAudio: Device " + std::to_string(device) + " (" + engine->getDeviceName(device)
             + ") is no longer alive - audio stopped until a device is selected again");
    return kAudioOk;
}

bool AudioEngine_CoreAudio::isUnitStarted() const
{
    return unitStarted_.load(std::memory_order_acquire);
}

uint64_t AudioEngine_CoreAudio::getRenderCycleCount() const
{
    return renderCycleCounter_.load();
}

int64_t AudioEngine_CoreAudio::getRecordingRingCapacityFrames() const
{
    return static_cast<int64_t>(recordingRing_->capacityFrames());
}

void AudioEngine_CoreAudio::retireAfterTwoRenderCycles(std::shared_ptr<const void> object)
{
    if (!unitStarted_.load(std::memory_order_acquire))
        return;  // no block can hold it: the last reference goes here
    // A unit that is started but not rendering (its device may be gone)
    // never moves the counter: the object then stays until the unit stops.
    deadWood_.retire(std::move(object));
}

size_t AudioEngine_CoreAudio::releaseDueRetiredObjects()
{
    return deadWood_.releaseDue();
}

size_t AudioEngine_CoreAudio::retiredObjectCount() const
{
    return deadWood_.size();
}

void AudioEngine_CoreAudio::releaseRetiredObjects()
{
    deadWood_.releaseAll();
}
