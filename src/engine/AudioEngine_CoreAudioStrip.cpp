// The per-track channel strip: fader, trim, high-pass, EQ and limiter.
// Setters run on the GUI thread: each takes its group's mutex, updates the
// table, publishes into the audio-side record (tracks 0 to 31), writes its
// "track.*" key and saves. The audio thread never takes these mutexes.
#include "engine/AudioEngine_CoreAudio.h"

#include "core/ConfigManager.h"
#include "core/DebugLog.h"
#include "core/NumberText.h"
#include "core/settings/StripKeys.h"

#include <cmath>

namespace {

constexpr float kUnityGain = 1.0f;
constexpr float kSilenceGainDb = -60.0f;          // what a fader at 0 is saved as
constexpr float kSilenceLoadThresholdDb = -59.0f; // at or below: loads as silence
constexpr float kAttackSeconds = 0.0001f;
constexpr float kReleaseSeconds = 0.1f;
constexpr int kFallbackSampleRate = 48000;
constexpr float kDefaultHpfFrequencyHz = 80.0f;
constexpr float kDefaultLimiterThresholdDb = -6.0f;
constexpr std::array<float, EqSettings::kBandCount> kLoadedBandFrequencyHz{100.0f, 1000.0f, 5000.0f};

bool isStripTrack(int track)
{
    return track >= 0 && track < AudioEngine_CoreAudio::kMaxTracks;
}

bool isEqBand(int band)
{
    return band >= 0 && band < EqSettings::kBandCount;
}

float dbToLinear(float gainDb)
{
    return std::pow(10.0f, gainDb / 20.0f);
}

void saveConfiguration()
{
    ConfigManager::getInstance()->saveConfig("");
}

// A non-finite value would make every coefficient and filter state NaN.
bool rejectNonFinite(const std::string& what, int track, float value)
{
    if (std::isfinite(value))
        return false;
    debugLog("CoreAudio: WARNING - ignoring non-finite " + what + " for track " + std::to_string(track));
    return true;
}

// A value read back from the configuration that is not a number counts as
// the default.
float finiteOr(float value, float fallback)
{
    return std::isfinite(value) ? value : fallback;
}

EqBandCoefficients bandCoefficients(const EqSettings& settings)
{
    EqBandCoefficients coefficients;
    for (int b = 0; b < EqSettings::kBandCount; ++b)
        coefficients.bands[static_cast<size_t>(b)] = settings.bands[static_cast<size_t>(b)].coefficients;
    return coefficients;
}

}  // namespace

// --- Fader and trim -----------------------------------------------------------

void AudioEngine_CoreAudio::setTrackGain(int track, float gainLinear)
{
    if (rejectNonFinite("fader gain", track, gainLinear))
        return;
    std::lock_guard<std::mutex> lock(gainMutex_);
    targetGainTable_[track] = gainLinear;
    if (isStripTrack(track))
        gainRealtime_[static_cast<size_t>(track)].targetGainLinear.store(gainLinear, std::memory_order_relaxed);
    ConfigManager::getInstance()->setFloat(StripKeys::gainKey(track),
                                           gainLinear > 0.0f ? 20.0f * std::log10(gainLinear) : kSilenceGainDb);
    saveConfiguration();
}

// The gain the fader has actually reached on the audio side (it ramps toward
// the target); 1.0 for a track that has no strip.
float AudioEngine_CoreAudio::getTrackGain(int track) const
{
    if (!isStripTrack(track))
        return kUnityGain;
    std::lock_guard<std::mutex> lock(gainMutex_);
    return gainRealtime_[static_cast<size_t>(track)].appliedGainLinear.load(std::memory_order_relaxed);
}

float AudioEngine_CoreAudio::getTargetTrackGain(int track) const
{
    std::lock_guard<std::mutex> lock(gainMutex_);
    const auto found = targetGainTable_.find(track);
    return found == targetGainTable_.end() ? kUnityGain : found->second;
}

void AudioEngine_CoreAudio::setTrackDigitalGain(int track, float gainDb)
{
    if (rejectNonFinite("trim", track, gainDb))
        return;
    const float factor = dbToLinear(gainDb);
    std::lock_guard<std::mutex> lock(gainMutex_);
    trimGainTable_[track] = factor;
    if (isStripTrack(track))
        gainRealtime_[static_cast<size_t>(track)].trimGainLinear.store(factor, std::memory_order_relaxed);
    ConfigManager::getInstance()->setFloat(StripKeys::digitalGainKey(track), gainDb);
    saveConfiguration();
}

float AudioEngine_CoreAudio::getTrackDigitalGain(int track) const
{
    std::lock_guard<std::mutex> lock(gainMutex_);
    const auto found = trimGainTable_.find(track);
    return found == trimGainTable_.end() ? 0.0f : 20.0f * std::log10(found->second);
}

// --- High-pass filter --------------------------------------------------------------

void AudioEngine_CoreAudio::setTrackHPFEnabled(int track, bool enabled)
{
    std::lock_guard<std::mutex> lock(hpfMutex_);
    hpfTable_[track].enabled = enabled;
    if (isStripTrack(track))
        hpfRealtime_[static_cast<size_t>(track)].enabled.store(enabled, std::memory_order_relaxed);
    ConfigManager::getInstance()->setBool(StripKeys::hpfEnabledKey(track), enabled);
    saveConfiguration();
}

bool AudioEngine_CoreAudio::getTrackHPFEnabled(int track) const
{
    std::lock_guard<std::mutex> lock(hpfMutex_);
    const auto found = hpfTable_.find(track);
    return found != hpfTable_.end() && found->second.enabled;
}

void AudioEngine_CoreAudio::setTrackHPFFrequency(int track, float frequencyHz)
{
    if (rejectNonFinite("high-pass frequency", track, frequencyHz))
        return;
    const float limitedHz = limitFilterFrequencyHz(frequencyHz, sampleRate_, kDefaultHpfFrequencyHz);
    std::lock_guard<std::mutex> lock(hpfMutex_);
    hpfTable_[track].frequencyHz = limitedHz;
    calculateHPFCoefficients(track, limitedHz);
    ConfigManager::getInstance()->setFloat(StripKeys::hpfFrequencyKey(track), limitedHz);
    saveConfiguration();
}

float AudioEngine_CoreAudio::getTrackHPFFrequency(int track) const
{
    std::lock_guard<std::mutex> lock(hpfMutex_);
    const auto found = hpfTable_.find(track);
    return found == hpfTable_.end() ? kDefaultHpfFrequencyHz : found->second.frequencyHz;
}

void AudioEngine_CoreAudio::calculateHPFCoefficients(int track, float frequencyHz)
{
    if (isStripTrack(track))
        hpfRealtime_[static_cast<size_t>(track)].coefficients.publish(
            BiquadCoefficients::highPass(sampleRate_, frequencyHz));
}

// --- EQ ------------------------------------------------------------------------------

void AudioEngine_CoreAudio::setTrackEQEnabled(int track, bool enabled)
{
    std::lock_guard<std::mutex> lock(eqMutex_);
    eqTable_[track].enabled = enabled;
    if (isStripTrack(track))
        eqRealtime_[static_cast<size_t>(track)].enabled.store(enabled, std::memory_order_relaxed);
    ConfigManager::getInstance()->setBool(StripKeys::eqEnabledKey(track), enabled);
    saveConfiguration();
}

bool AudioEngine_CoreAudio::getTrackEQEnabled(int track) const
{
    std::lock_guard<std::mutex> lock(eqMutex_);
    const auto found = eqTable_.find(track);
    return found != eqTable_.end() && found->second.enabled;
}

void AudioEngine_CoreAudio::setTrackEQBand(int track, int band, float frequencyHz, float gainDb, float q)
{
    if (!isEqBand(band))
        return;
    if (rejectNonFinite("EQ frequency", track, frequencyHz) || rejectNonFinite("EQ gain", track, gainDb)
        || rejectNonFinite("EQ Q", track, q))
        return;
    std::lock_guard<std::mutex> lock(eqMutex_);
    EqBand& entry = eqTable_[track].bands[static_cast<size_t>(band)];
    entry.frequencyHz = limitFilterFrequencyHz(frequencyHz, sampleRate_, entry.frequencyHz);
    entry.gainDb = limitEqGainDb(gainDb, entry.gainDb);
    entry.q = limitFilterQ(q, entry.q);
    calculateEQCoefficients(track, band);
    ConfigManager* config = ConfigManager::getInstance();
    config->setFloat(StripKeys::eqBandFrequencyKey(track, band), entry.frequencyHz);
    config->setFloat(StripKeys::eqBandGainKey(track, band), entry.gainDb);
    config->setFloat(StripKeys::eqBandQKey(track, band), entry.q);
    saveConfiguration();
}

void AudioEngine_CoreAudio::getTrackEQBand(int track, int band, float& frequencyHz, float& gainDb, float& q) const
{
    const EqBand defaults;
    frequencyHz = defaults.frequencyHz;
    gainDb = defaults.gainDb;
    q = defaults.q;
    if (!isEqBand(band))
        return;
    std::lock_guard<std::mutex> lock(eqMutex_);
    const auto found = eqTable_.find(track);
    if (found == eqTable_.end())
        return;
    const EqBand& entry = found->second.bands[static_cast<size_t>(band)];
    frequencyHz = entry.frequencyHz;
    gainDb = entry.gainDb;
    q = entry.q;
}

void AudioEngine_CoreAudio::calculateEQCoefficients(int track, int band)
{
    if (!isEqBand(band))
        return;
    EqSettings& settings = eqTable_[track];
    EqBand& entry = settings.bands[static_cast<size_t>(band)];
    entry.coefficients = BiquadCoefficients::peakingEq(sampleRate_, entry.frequencyHz, entry.gainDb, entry.q);
    if (isStripTrack(track))
        eqRealtime_[static_cast<size_t>(track)].coefficients.publish(bandCoefficients(settings));
}

// --- Limiter ---------------------------------------------------------------------

void AudioEngine_CoreAudio::setTrackLimiterEnabled(int track, bool enabled)
{
    std::lock_guard<std::mutex> lock(limiterMutex_);
    LimiterSettings& entry = limiterTable_[track];
    entry.enabled = enabled;
    if (enabled && !entry.coefficientsComputed)
        calculateLimiterCoefficients(track, entry.thresholdDb);
    if (isStripTrack(track))
        limiterRealtime_[static_cast<size_t>(track)].enabled.store(enabled, std::memory_order_relaxed);
    ConfigManager::getInstance()->setBool(StripKeys::limiterEnabledKey(track), enabled);
    saveConfiguration();
}

bool AudioEngine_CoreAudio::getTrackLimiterEnabled(int track) const
{
    std::lock_guard<std::mutex> lock(limiterMutex_);
    const auto found = limiterTable_.find(track);
    return found != limiterTable_.end() && found->second.enabled;
}

void AudioEngine_CoreAudio::setTrackLimiterThreshold(int track, float thresholdDb)
{
    if (rejectNonFinite("limiter threshold", track, thresholdDb))
        return;
    std::lock_guard<std::mutex> lock(limiterMutex_);
    limiterTable_[track].thresholdDb = thresholdDb;
    calculateLimiterCoefficients(track, thresholdDb);
    ConfigManager::getInstance()->setFloat(StripKeys::limiterThresholdKey(track), thresholdDb);
    saveConfiguration();
}

float AudioEngine_CoreAudio::getTrackLimiterThreshold(int track) const
{
    std::lock_guard<std::mutex> lock(limiterMutex_);
    const auto found = limiterTable_.find(track);
    return found == limiterTable_.end() ? kDefaultLimiterThresholdDb : found->second.thresholdDb;
}

void AudioEngine_CoreAudio::calculateLimiterCoefficients(int track, float thresholdDb)
{
    const float rate = static_cast<float>(sampleRate_ > 0 ? sampleRate_ : kFallbackSampleRate);
    LimiterCoefficients coefficients;
    coefficients.thresholdLinear = dbToLinear(thresholdDb);
    coefficients.attackCoefficient = 1.0f - std::exp(-1.0f / (rate * kAttackSeconds));
    coefficients.releaseCoefficient = 1.0f - std::exp(-1.0f / (rate * kReleaseSeconds));
    limiterTable_[track].coefficientsComputed = true;
    if (isStripTrack(track))
        limiterRealtime_[static_cast<size_t>(track)].coefficients.publish(coefficients);
    debugLog("CoreAudio: Limiter coefficients calculated for track " + std::to_string(track) + ": thresholdDb="
             + fixedText(thresholdDb, 6) + " thresholdLinear=" + fixedText(coefficients.thresholdLinear, 6)
             + " attack=" + fixedText(coefficients.attackCoefficient, 6)
             + " release=" + fixedText(coefficients.releaseCoefficient, 6));
}

// --- Load and unit set-up -------------------------------------------------------

void AudioEngine_CoreAudio::loadChannelStripSettings()
{
    debugLog("CoreAudio: Loading channel strip settings from config");
    ConfigManager* config = ConfigManager::getInstance();
    for (int i = 0; i < kMaxTracks; ++i) {
        const size_t t = static_cast<size_t>(i);
        const float gainDb = finiteOr(config->getFloat(StripKeys::gainKey(i), 0.0f), 0.0f);
        const float gain = gainDb <= kSilenceLoadThresholdDb ? 0.0f : dbToLinear(gainDb);
        targetGainTable_[i] = gain;
        gainRealtime_[t].targetGainLinear.store(gain, std::memory_order_relaxed);
        gainRealtime_[t].appliedGainLinear.store(gain, std::memory_order_relaxed);

        const float trim = dbToLinear(finiteOr(config->getFloat(StripKeys::digitalGainKey(i), 0.0f), 0.0f));
        trimGainTable_[i] = trim;
        gainRealtime_[t].trimGainLinear.store(trim, std::memory_order_relaxed);

        const bool hpfOn = config->getBool(StripKeys::hpfEnabledKey(i), false);
        const float hpfHz = limitFilterFrequencyHz(
            finiteOr(config->getFloat(StripKeys::hpfFrequencyKey(i), kDefaultHpfFrequencyHz), kDefaultHpfFrequencyHz),
            sampleRate_, kDefaultHpfFrequencyHz);
        hpfTable_[i].enabled = hpfOn;
        hpfTable_[i].frequencyHz = hpfHz;
        calculateHPFCoefficients(i, hpfHz);
        hpfRealtime_[t].enabled.store(hpfOn, std::memory_order_relaxed);

        const bool eqOn = config->getBool(StripKeys::eqEnabledKey(i), false);
        eqTable_[i].enabled = eqOn;
        eqRealtime_[t].enabled.store(eqOn, std::memory_order_relaxed);
        for (int b = 0; b < EqSettings::kBandCount; ++b) {
            const float defaultHz = kLoadedBandFrequencyHz[static_cast<size_t>(b)];
            EqBand& band = eqTable_[i].bands[static_cast<size_t>(b)];
            band.frequencyHz = limitFilterFrequencyHz(config->getFloat(StripKeys::eqBandFrequencyKey(i, b), defaultHz),
                                                      sampleRate_, defaultHz);
            band.gainDb = limitEqGainDb(config->getFloat(StripKeys::eqBandGainKey(i, b), 0.0f), 0.0f);
            band.q = limitFilterQ(config->getFloat(StripKeys::eqBandQKey(i, b), 1.0f), 1.0f);
            calculateEQCoefficients(i, b);
        }

        const bool limiterOn = config->getBool(StripKeys::limiterEnabledKey(i), false);
        const float thresholdDb = finiteOr(
            config->getFloat(StripKeys::limiterThresholdKey(i), kDefaultLimiterThresholdDb),
            kDefaultLimiterThresholdDb);
        limiterTable_[i].enabled = limiterOn;
        limiterTable_[i].thresholdDb = thresholdDb;
        calculateLimiterCoefficients(i, thresholdDb);
        limiterRealtime_[t].enabled.store(limiterOn, std::memory_order_relaxed);
    }
    debugLog("CoreAudio: Channel strip settings loaded for " + std::to_string(kMaxTracks) + " tracks");
}

void AudioEngine_CoreAudio::resetStripGainsForUnit()
{
    for (TrackGainRealtime& gain : gainRealtime_) {
        gain.targetGainLinear.store(kUnityGain, std::memory_order_relaxed);
        gain.appliedGainLinear.store(kUnityGain, std::memory_order_relaxed);
        gain.trimGainLinear.store(kUnityGain, std::memory_order_relaxed);
    }
    for (TrackMeter& meter : trackMeters_) {
        meter.peakLevel.store(0.0f, std::memory_order_relaxed);
        meter.clipped.store(false, std::memory_order_relaxed);
    }
    loadChannelStripSettings();
}

AutomixEngine* AudioEngine_CoreAudio::getAutomixEngine()
{
    return automixEngine_.get();
}
