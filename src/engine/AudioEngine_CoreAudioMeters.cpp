// Meters and the LTC input. The meters are written by the render callback and
// read here without a lock; the LTC reader is the engine's decoder, fed by
// the render callback from the chosen input and read through its
// sequence-counted snapshot. GUI thread.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"
#include "engine/render/PortIndex.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

bool AudioEngine_CoreAudio::setupInputPorts()
{
    return true;
}

void AudioEngine_CoreAudio::cleanupInputPorts() {}
void AudioEngine_CoreAudio::cleanupTrackOutputPorts() {}

float AudioEngine_CoreAudio::getTrackPeakLevel(int track) const
{
    if (track < 0 || track >= kMaxTracks)
        return 0.0f;
    return trackMeters_[static_cast<size_t>(track)].peakLevel.load(kRelaxed);
}

float AudioEngine_CoreAudio::getMainPeakLevel() const
{
    return mainPeakLevel_.load(kRelaxed);
}

bool AudioEngine_CoreAudio::hasAnyTrackClipped() const
{
    for (const TrackMeter& meter : trackMeters_) {
        if (meter.clipped.load(kRelaxed))
            return true;
    }
    return false;
}

// A new source starts from a fresh decoder: the old one may be inside
// processAudio on the audio thread, so it is swapped out and retired after two
// render cycles instead of being reset in place. The forced rate carries over.
void AudioEngine_CoreAudio::setLtcInputPort(const std::string& port)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    ltcInputPortName_ = port;
    ltcInputIndex_ = RoutingSnapshot::kNoChannel;
    debugLog("CoreAudio: setLtcInputPort called with portName='" + port + "'");

    auto fresh = std::make_unique<LtcDecoder>();
    fresh->setForcedFps(ltcDecoder_->forcedFps());
    fresh->initialize(sampleRate_);
    std::shared_ptr<const void> previous = ltcDecoder_.publish(std::move(fresh));
    debugLog("CoreAudio: LTC decoder reset for new input source");

    if (port == PortIndex::kLtcGeneratorInputName) {
        ltcInputIndex_ = RoutingSnapshot::kLtcGeneratorChannel;
        debugLog(std::string("CoreAudio: LTC Input set to virtual LTCGEN (index=-2), ltcGeneratorEnabled_=")
                 + (ltcGeneratorEnabled_.load(kRelaxed) ? "true" : "false"));
    } else {
        ltcInputIndex_ = PortIndex::firstIndexOf(inputChannelNames_, port);
        if (ltcInputIndex_ == RoutingSnapshot::kNoChannel)
            debugLog("CoreAudio: LTC Input port not found: '" + port + "', ltcInputIndex_=-1");
        else
            debugLog("CoreAudio: LTC Input set to physical input " + std::to_string(ltcInputIndex_) + " (" + port
                     + ")");
    }
    publishRoutingSnapshotLocked();
    retireAfterTwoRenderCycles(std::move(previous));
}

void AudioEngine_CoreAudio::setLtcInputEnabled(bool enabled)
{
    ltcInputEnabled_.store(enabled, kRelaxed);
}

namespace {

Timecode timecodeOf(const LtcDecoder::TcSnapshot& snapshot)
{
    Timecode timecode;
    timecode.hours = snapshot.hours;
    timecode.minutes = snapshot.minutes;
    timecode.seconds = snapshot.seconds;
    timecode.frames = snapshot.frames;
    timecode.fps = snapshot.fps;
    timecode.dropFrame = snapshot.dropFrame;
    return timecode;
}

}  // namespace

Timecode AudioEngine_CoreAudio::getTimecode() const
{
    return timecodeOf(ltcDecoder_->getSnapshot());
}

AudioEngineBase::PlacedTimecode AudioEngine_CoreAudio::getPlacedTimecode() const
{
    const LtcDecoder::TcSnapshot snapshot = ltcDecoder_->getSnapshot();
    PlacedTimecode placed;
    placed.timecode = timecodeOf(snapshot);
    if (snapshot.valid)
        placed.framePosition = snapshot.samplePosition;
    return placed;
}

bool AudioEngine_CoreAudio::hasValidTimecode() const
{
    return ltcDecoder_->getSnapshot().valid;
}

double AudioEngine_CoreAudio::getDetectedFramerate() const
{
    const double forced = ltcDecoder_->forcedFps();
    return forced > 0.0 ? forced : ltcDecoder_->getSnapshot().fpsEstimate;
}

void AudioEngine_CoreAudio::setForcedFramerate(double fps)
{
    ltcDecoder_->setForcedFps(fps);
}

double AudioEngine_CoreAudio::getForcedFramerate() const
{
    return ltcDecoder_->forcedFps();
}

bool AudioEngine_CoreAudio::isFramerateForced() const
{
    return ltcDecoder_->forcedFps() > 0.0;
}
