// Playback of a file to chosen outputs and buses, and the monitor bus (PFL and
// its outputs). GUI thread. The reader is owned here and lent to the render
// callback through playbackReader_: it is unpublished (and any block still
// reading it finished) before it is seeked, closed or destroyed.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"
#include "engine/render/PortIndex.h"

#include <cmath>

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

const std::string kMixCode = "MIX";
const std::string kMixAndMonitorCode = "MIX+MON";
const std::string kMonitorCode = "MONITOR";
const std::string kComsCode = "COMS";
const std::string kAuxCodePrefix = "AUX";

// "AUX1" to "AUX4" name the aux buses 0 to 3; anything else is no aux code.
int auxBusOfCode(const std::string& code)
{
    if (code.size() != kAuxCodePrefix.size() + 1 || code.compare(0, kAuxCodePrefix.size(), kAuxCodePrefix) != 0)
        return RoutingSnapshot::kNoChannel;
    const int bus = code.back() - '1';
    return bus >= 0 && bus < RoutingSnapshot::kAuxBusCount ? bus : RoutingSnapshot::kNoChannel;
}

}  // namespace

void AudioEngine_CoreAudio::setPlaybackOutputPort(int channel, const std::string& target)
{
    if (channel < 0 || channel >= kPlaybackChannels)
        return;
    const size_t c = static_cast<size_t>(channel);
    const std::string prefix = "CoreAudio Playback [Ch " + std::to_string(channel);
    playbackCodes_[c] = target;
    int kind = kPlaybackNowhere;
    int index = RoutingSnapshot::kNoChannel;
    if (target.empty()) {
        debugLog(prefix + "]: No output assigned");
    } else if (target == kMixCode || target == kComsCode) {
        const bool mix = target == kMixCode;
        kind = mix ? kPlaybackMix : kPlaybackComs;
        // A bus plays to the outputs of the snapshot each block renders with;
        // its first output is only reported here.
        std::lock_guard<std::mutex> lock(routingMutex_);
        const std::vector<int>& bus = mix ? mixOutputIndices_ : comsOutputIndices_;
        const std::string busName = mix ? "Mix" : "Coms";
        if (bus.empty())
            debugLog(prefix + "]: " + busName + " not configured");
        else
            debugLog(prefix + "]: Routed to " + busName + " output index " + std::to_string(bus.front()));
    } else if (const int aux = auxBusOfCode(target); aux != RoutingSnapshot::kNoChannel) {
        // The bus plays at its master level to the outputs of the snapshot
        // each block renders with; its first output is only reported here.
        kind = kPlaybackAux;
        index = aux;
        std::lock_guard<std::mutex> lock(routingMutex_);
        const std::vector<int>& bus = auxOutputIndices_[static_cast<size_t>(aux)];
        const std::string busName = "Aux " + std::to_string(aux + 1);
        if (bus.empty())
            debugLog(prefix + "]: " + busName + " not configured");
        else
            debugLog(prefix + "]: Routed to " + busName + " output index " + std::to_string(bus.front()));
    } else if (target == kMixAndMonitorCode) {
        kind = kPlaybackMixAndMonitor;
        debugLog(prefix + "]: Routed to Mix + Monitor outputs");
    } else if (target == kMonitorCode) {
        kind = kPlaybackMonitor;
        debugLog(prefix + "]: Routed to Monitor outputs");
    } else {
        kind = kPlaybackPort;
        index = PortIndex::firstIndexOf(outputChannelNames_, target);
        if (index == RoutingSnapshot::kNoChannel)
            debugLog(prefix + "]: Output port not found: " + target);
        else
            debugLog(prefix + "]: Routed to output " + std::to_string(index) + " (" + target + ")");
    }
    // The index first: a block that sees the new kind finds its index.
    playbackOutputIndices_[c].store(index, kRelaxed);
    playbackTargets_[c].store(kind, std::memory_order_release);
}

bool AudioEngine_CoreAudio::startPlayback(const std::string& path)
{
    std::lock_guard<std::mutex> playbackLock(playbackMutex_);
    {
        std::lock_guard<std::mutex> routingLock(routingMutex_);
        debugLog("CoreAudio Playback Start: mixOutputIndices_.size()=" + std::to_string(mixOutputIndices_.size())
                 + ", monitorOutputIndices_.size()=" + std::to_string(monitorOutputIndices_.size()));
        for (int channel = 0; channel < kPlaybackChannels; ++channel) {
            const size_t c = static_cast<size_t>(channel);
            const std::string prefix = "CoreAudio Playback Start: Ch " + std::to_string(channel);
            const std::string& code = playbackCodes_[c];
            if (code == kMixCode && !mixOutputIndices_.empty()) {
                debugLog(prefix + " -> Mix output " + std::to_string(mixOutputIndices_.front()));
            } else if (code == kMixCode) {
                debugLog(prefix + " -> MIX but mixOutputIndices_ is EMPTY!");
            } else if (code == kMixAndMonitorCode) {
                debugLog(prefix + " -> Mix + Monitor outputs");
            } else if (code == kMonitorCode) {
                debugLog(prefix + " -> Monitor outputs only");
            } else if (code == kComsCode && !comsOutputIndices_.empty()) {
                debugLog(prefix + " -> Coms output " + std::to_string(comsOutputIndices_.front()));
            } else if (const int aux = auxBusOfCode(code); aux != RoutingSnapshot::kNoChannel) {
                const std::vector<int>& bus = auxOutputIndices_[static_cast<size_t>(aux)];
                const std::string busName = "Aux " + std::to_string(aux + 1);
                if (bus.empty())
                    debugLog(prefix + " -> " + busName + " not configured");
                else
                    debugLog(prefix + " -> " + busName + " output " + std::to_string(bus.front()));
            }
        }
    }

    // No block reads the previous reader once it is unpublished.
    playbackPlaying_.store(false, std::memory_order_release);
    playbackReader_.exchange(nullptr);
    playbackReaderOwner_.reset();

    auto reader = std::make_unique<WavFileReader>();
    if (!reader->open(path)) {
        debugLog("CoreAudio: Failed to open playback file: " + path);
        return false;
    }
    reader->startPrefetch(kPlaybackChannels);
    debugLog("CoreAudio: Starting playback of: " + path);
    playbackPositionFrames_.store(0, kRelaxed);
    playbackReaderOwner_ = std::move(reader);
    playbackReader_.exchange(playbackReaderOwner_.get());
    playbackPlaying_.store(true, std::memory_order_release);
    playbackPaused_.store(false, std::memory_order_release);
    return true;
}

// Returns without waiting for further blocks: once the reader is unpublished
// no block can reach it, whether the unit renders, is stopped, or renders on
// for a device that has died.
void AudioEngine_CoreAudio::stopPlayback()
{
    playbackPlaying_.store(false, std::memory_order_release);
    std::lock_guard<std::mutex> lock(playbackMutex_);
    playbackReader_.exchange(nullptr);
    if (playbackReaderOwner_)
        playbackReaderOwner_->close();
    playbackReaderOwner_.reset();
}

void AudioEngine_CoreAudio::pausePlayback()
{
    playbackPaused_.store(true, std::memory_order_release);
}

void AudioEngine_CoreAudio::resumePlayback()
{
    playbackPaused_.store(false, std::memory_order_release);
}

bool AudioEngine_CoreAudio::isPlayingBack() const
{
    return playbackPlaying_.load(std::memory_order_acquire);
}

bool AudioEngine_CoreAudio::isPlaybackPaused() const
{
    return playbackPaused_.load(std::memory_order_acquire);
}

double AudioEngine_CoreAudio::getPlaybackPosition() const
{
    std::lock_guard<std::mutex> lock(playbackMutex_);
    if (!playbackReaderOwner_ || playbackReaderOwner_->getSampleRate() < 1)
        return 0.0;
    return static_cast<double>(playbackPositionFrames_.load(kRelaxed)) / playbackReaderOwner_->getSampleRate();
}

double AudioEngine_CoreAudio::getPlaybackDuration() const
{
    std::lock_guard<std::mutex> lock(playbackMutex_);
    return playbackReaderOwner_ ? playbackReaderOwner_->getDuration() : 0.0;
}

// The reader is taken from the callback for the seek, so the position the
// callback counts on from starts exactly at the target.
void AudioEngine_CoreAudio::seekPlayback(double seconds)
{
    std::lock_guard<std::mutex> lock(playbackMutex_);
    WavFileReader* reader = playbackReaderOwner_.get();
    if (reader == nullptr || std::isnan(seconds))
        return;
    playbackReader_.exchange(nullptr);
    reader->seekSeconds(seconds);
    const double frame = seconds * reader->getSampleRate();
    int64_t target = 0;
    if (frame >= static_cast<double>(reader->getTotalFrames()))
        target = reader->getTotalFrames();
    else if (frame > 0.0)
        target = static_cast<int64_t>(frame);
    playbackPositionFrames_.store(target, kRelaxed);
    playbackReader_.exchange(reader);
}

void AudioEngine_CoreAudio::setPFLTrack(int track)
{
    if (track < -1 || track >= kMaxTracks)
        return;
    pflTrack_.store(track, kRelaxed);
    debugLog(track >= 0 ? "PFL enabled for track " + std::to_string(track) : std::string("PFL disabled"));
}

void AudioEngine_CoreAudio::setMonitorOutputRouting(const std::vector<std::string>& monitorPorts,
                                                    const std::vector<std::string>& outputPortNames)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    monitorOutputIndices_ = PortIndex::resolveAll(PortIndex::lastIndexByName(outputPortNames), monitorPorts);
    publishRoutingSnapshotLocked();
    debugLog("Monitor outputs configured: " + std::to_string(monitorOutputIndices_.size()) + " outputs");
}
