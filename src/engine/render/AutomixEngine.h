#pragma once

#include <array>
#include <atomic>

// Gain-sharing automixer for 32 tracks in four groups: within a group the
// tracks being spoken into get most of the gain, the quiet ones sit at
// about -24 dB. Smoothing works per block with fixed factors.
//
// Threads: processAudio and calculateAutomixGains run on the audio thread
// (no locks, no allocation, no logging); setTrackGroup, setGlobalEnabled and
// the getters on the GUI thread. Every value is one relaxed atomic scalar: a
// GUI-side clear racing a block only gives that block a mixture of old and
// cleared values; the next block is consistent again.
class AutomixEngine {
public:
    static constexpr int kTrackCount = 32;
    static constexpr int kGroupCount = 4;

    // Ignored outside 0..31; group clamped to 0..4; group 0 also clears the
    // track's share and envelope.
    void setTrackGroup(int track, int group);
    // Switching off clears every share, envelope and the NOM.
    void setGlobalEnabled(bool on);
    float getTrackNOMContribution(int track) const;
    float getNOM() const;
    int getTrackGroup(int track) const;
    bool isTrackEnabled(int track) const;
    bool isGlobalEnabled() const;

    // --- Audio thread: no locks, no allocation, no logging. ----------------
    // One block of smoothing from the tracks' block peaks; nothing when off.
    void processAudio(const float* levels, int count);
    // One gain per track: 1.0 outside the groups or while off.
    void calculateAutomixGains(float* gains, int count) const;

private:
    struct TrackState {
        std::atomic<int> group{0};
        std::atomic<float> share{0.0f};
        std::atomic<float> envelope{0.0f};
    };

    static bool inGroup(int group) { return group >= 1 && group <= kGroupCount; }
    void clearTrack(TrackState& track);

    std::atomic<bool> enabled_{false};
    std::atomic<float> nom_{0.0f};
    std::array<TrackState, kTrackCount> tracks_;
};
