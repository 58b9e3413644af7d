// LTC generator attachment, record beep, test tone, bitbucket mode and the
// aux buses with their sends. Every operation runs on the GUI thread and
// only records a value; the render callback's output stages act on it.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/DebugLog.h"

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;
constexpr int kAuxCount = RoutingSnapshot::kAuxBusCount;

bool isAux(int aux)
{
    return aux >= 0 && aux < kAuxCount;
}

}  // namespace

// Returns once no block can still use the previous generator, so its owner
// may free it right after a detach (even when the device died while the
// unit renders on).
void AudioEngine_CoreAudio::setLtcGenerator(LtcEncoder* generator)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    ltcGenerator_.exchange(generator);
}

void AudioEngine_CoreAudio::setLtcGeneratorOutput(int channel)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    ltcGeneratorOutputChannel_ = channel;
}

void AudioEngine_CoreAudio::enableLtcGenerator(bool enabled)
{
    std::lock_guard<std::mutex> lock(routingMutex_);
    ltcGeneratorEnabled_.store(enabled, kRelaxed);
}

void AudioEngine_CoreAudio::setBeepOnRecordEnabled(bool enabled)
{
    beepOnRecord_.store(enabled, kRelaxed);
}

void AudioEngine_CoreAudio::triggerRecordBeep(bool doubleBeep)
{
    if (!beepOnRecord_.load(kRelaxed))
        return;
    doubleBeepRequested_.store(doubleBeep, kRelaxed);
    // Release: the callback that sees the new count sees the kind of beep.
    beepTriggerCount_.fetch_add(1, std::memory_order_release);
}

void AudioEngine_CoreAudio::setTestToneEnabled(bool enabled)
{
    if (enabled)
        testToneStartCount_.fetch_add(1, std::memory_order_release);
    testToneOn_.store(enabled, std::memory_order_release);
    debugLog(std::string("Test Tone ") + (enabled ? "ENABLED" : "DISABLED")
             + " - outputChannels_=" + std::to_string(outputChannelCount_));
}

bool AudioEngine_CoreAudio::isTestToneEnabled() const
{
    return testToneOn_.load(kRelaxed);
}

void AudioEngine_CoreAudio::setBitbucketMode(bool enabled)
{
    bitbucketMode_.store(enabled, kRelaxed);
    debugLog(std::string("Bitbucket Mode ") + (enabled ? "ENABLED" : "DISABLED"));
}

bool AudioEngine_CoreAudio::isBitbucketMode() const
{
    return bitbucketMode_.load(kRelaxed);
}

void AudioEngine_CoreAudio::setAuxLevel(int aux, float level)
{
    if (isAux(aux))
        auxLevels_[static_cast<size_t>(aux)].store(level, kRelaxed);
}

float AudioEngine_CoreAudio::getAuxLevel(int aux) const
{
    return isAux(aux) ? auxLevels_[static_cast<size_t>(aux)].load(kRelaxed) : 0.0f;
}

void AudioEngine_CoreAudio::setTrackAuxSend(int track, int aux, float level)
{
    if (track >= 0 && track < kAuxSendTracks && isAux(aux))
        trackAuxSends_[static_cast<size_t>(track)][static_cast<size_t>(aux)].store(level, kRelaxed);
}

float AudioEngine_CoreAudio::getTrackAuxSend(int track, int aux) const
{
    if (track < 0 || track >= kAuxSendTracks || !isAux(aux))
        return 0.0f;
    return trackAuxSends_[static_cast<size_t>(track)][static_cast<size_t>(aux)].load(kRelaxed);
}

void AudioEngine_CoreAudio::setAuxOutputIndices(int aux, const std::vector<int>& channels)
{
    if (!isAux(aux))
        return;
    std::lock_guard<std::mutex> lock(routingMutex_);
    auxOutputIndices_[static_cast<size_t>(aux)] = channels;
    publishRoutingSnapshotLocked();
}

// Under the routing mutex like the other list getters, so a dialog reading
// on another thread never sees a list being replaced.
std::vector<int> AudioEngine_CoreAudio::getAuxOutputIndices(int aux) const
{
    if (!isAux(aux))
        return {};
    std::lock_guard<std::mutex> lock(routingMutex_);
    return auxOutputIndices_[static_cast<size_t>(aux)];
}

void AudioEngine_CoreAudio::setTrackAuxSendPreFader(int track, int aux, bool preFader)
{
    if (track >= 0 && track < kAuxSendTracks && isAux(aux))
        trackAuxPreFader_[static_cast<size_t>(track)][static_cast<size_t>(aux)].store(preFader, kRelaxed);
}

bool AudioEngine_CoreAudio::getTrackAuxSendPreFader(int track, int aux) const
{
    if (track < 0 || track >= kAuxSendTracks || !isAux(aux))
        return false;
    return trackAuxPreFader_[static_cast<size_t>(track)][static_cast<size_t>(aux)].load(kRelaxed);
}

void AudioEngine_CoreAudio::setMixSendLevel(int aux, float level)
{
    if (isAux(aux))
        mixSendLevels_[static_cast<size_t>(aux)].store(level, kRelaxed);
}

float AudioEngine_CoreAudio::getMixSendLevel(int aux) const
{
    return isAux(aux) ? mixSendLevels_[static_cast<size_t>(aux)].load(kRelaxed) : 0.0f;
}

void AudioEngine_CoreAudio::setMixSendPreFader(int aux, bool preFader)
{
    if (isAux(aux))
        mixSendPreFader_[static_cast<size_t>(aux)].store(preFader, kRelaxed);
}

bool AudioEngine_CoreAudio::getMixSendPreFader(int aux) const
{
    return isAux(aux) && mixSendPreFader_[static_cast<size_t>(aux)].load(kRelaxed);
}
