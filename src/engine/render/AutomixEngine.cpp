#include "engine/render/AutomixEngine.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr float kEnvelopeRise = 0.4f;
constexpr float kEnvelopeFall = 0.05f;
constexpr float kActivityGate = 0.003f;
constexpr float kShareRise = 0.35f;
constexpr float kShareFall = 0.14f;
constexpr float kShareWeightFloor = 0.001f;
constexpr float kGainExponent = 3.5f;
constexpr float kGroupWeightThreshold = 0.01f;
constexpr float kSilentTrackGain = 0.06f;

constexpr auto kRelaxed = std::memory_order_relaxed;

}  // namespace

void AutomixEngine::clearTrack(TrackState& track)
{
    track.share.store(0.0f, kRelaxed);
    track.envelope.store(0.0f, kRelaxed);
}

void AutomixEngine::setTrackGroup(int track, int group)
{
    if (track < 0 || track >= kTrackCount)
        return;
    const int clamped = std::clamp(group, 0, kGroupCount);
    TrackState& state = tracks_[static_cast<size_t>(track)];
    state.group.store(clamped, kRelaxed);
    if (clamped == 0)
        clearTrack(state);
}

void AutomixEngine::setGlobalEnabled(bool on)
{
    enabled_.store(on, kRelaxed);
    if (on)
        return;
    for (TrackState& track : tracks_)
        clearTrack(track);
    nom_.store(0.0f, kRelaxed);
}

float AutomixEngine::getTrackNOMContribution(int track) const
{
    if (track < 0 || track >= kTrackCount)
        return 0.0f;
    return tracks_[static_cast<size_t>(track)].share.load(kRelaxed);
}

float AutomixEngine::getNOM() const
{
    return nom_.load(kRelaxed);
}

int AutomixEngine::getTrackGroup(int track) const
{
    if (track < 0 || track >= kTrackCount)
        return 0;
    return tracks_[static_cast<size_t>(track)].group.load(kRelaxed);
}

bool AutomixEngine::isTrackEnabled(int track) const
{
    return getTrackGroup(track) > 0;
}

bool AutomixEngine::isGlobalEnabled() const
{
    return enabled_.load(kRelaxed);
}

void AutomixEngine::processAudio(const float* levels, int count)
{
    if (!enabled_.load(kRelaxed))
        return;
    if (count < 1 || levels == nullptr) {
        nom_.store(0.0f, kRelaxed);
        return;
    }
    const int tracks = std::min(count, kTrackCount);
    std::array<float, kGroupCount + 1> groupSums{};
    std::array<int, kTrackCount> groups{};
    for (int t = 0; t < tracks; ++t) {
        TrackState& track = tracks_[static_cast<size_t>(t)];
        const int group = track.group.load(kRelaxed);
        groups[static_cast<size_t>(t)] = group;
        if (!inGroup(group)) {
            clearTrack(track);
            continue;
        }
        const float level = levels[t];
        float envelope = track.envelope.load(kRelaxed);
        envelope += (level - envelope) * (level > envelope ? kEnvelopeRise : kEnvelopeFall);
        track.envelope.store(envelope, kRelaxed);
        if (envelope > kActivityGate)
            groupSums[static_cast<size_t>(group)] += envelope;
    }
    float shareSum = 0.0f;
    for (int t = 0; t < tracks; ++t) {
        const int group = groups[static_cast<size_t>(t)];
        if (!inGroup(group))
            continue;
        TrackState& track = tracks_[static_cast<size_t>(t)];
        const float envelope = track.envelope.load(kRelaxed);
        const float groupSum = groupSums[static_cast<size_t>(group)];
        const float target = (groupSum > kActivityGate && envelope > kActivityGate) ? envelope / groupSum : 0.0f;
        float share = track.share.load(kRelaxed);
        share += (target - share) * (target > share ? kShareRise : kShareFall);
        share = std::clamp(share, 0.0f, 1.0f);
        track.share.store(share, kRelaxed);
        shareSum += share;
    }
    nom_.store(shareSum, kRelaxed);
}

void AutomixEngine::calculateAutomixGains(float* gains, int count) const
{
    if (gains == nullptr || count < 1)
        return;
    const int tracks = std::min(count, kTrackCount);
    if (!enabled_.load(kRelaxed)) {
        std::fill_n(gains, tracks, 1.0f);
        return;
    }
    std::array<float, kTrackCount> weights{};
    std::array<int, kTrackCount> groups{};
    std::array<float, kGroupCount + 1> groupWeights{};
    for (int t = 0; t < tracks; ++t) {
        const TrackState& track = tracks_[static_cast<size_t>(t)];
        const int group = track.group.load(kRelaxed);
        groups[static_cast<size_t>(t)] = group;
        const float share = track.share.load(kRelaxed);
        if (inGroup(group) && share > kShareWeightFloor) {
            const float weight = std::pow(share, kGainExponent);
            weights[static_cast<size_t>(t)] = weight;
            groupWeights[static_cast<size_t>(group)] += weight;
        }
    }
    for (int t = 0; t < tracks; ++t) {
        const int group = groups[static_cast<size_t>(t)];
        if (!inGroup(group)) {
            gains[t] = 1.0f;
            continue;
        }
        const float weight = weights[static_cast<size_t>(t)];
        const float groupWeight = groupWeights[static_cast<size_t>(group)];
        gains[t] = (groupWeight > kGroupWeightThreshold && weight > 0.0f)
                       ? std::clamp(weight / groupWeight, 0.0f, 1.0f)
                       : kSilentTrackGain;
    }
}
