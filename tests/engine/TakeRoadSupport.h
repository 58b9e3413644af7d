#pragma once

#include "EngineTestSupport.h"

#include <cstdint>
#include <string>
#include <vector>

// Takes recorded on the "Virtual Interface": tracks 0..7 fed by inputs 1..8
// (input 8 carries the device's LTC), the mix on output 1, known signals fed
// into inputs 1..7 from ring position 0 on, and the engine's LTC reader
// listening to input 8 through the render callback.
class TakeRoadTest : public EngineTest {
protected:
    static constexpr int kRate = 48000;
    static constexpr uint32_t kBlockFrames = 256;
    static constexpr int kLtcChannel = 7;
    static constexpr size_t kFedFrames = 16 * 48000;

    void SetUp() override {}
    // A stepped engine (or a real-time one) with a ring of `ringSeconds`,
    // float files in the given layout, saving under the test's home.
    void setUpTakeRoad(int ringSeconds, int fileFormat, VirtualAudioSystem::Mode mode = VirtualAudioSystem::Mode::Stepped,
                       int trackCount = 8);
    void armTracks(std::initializer_list<int> tracks);
    // Renders `frames` frames in stepped blocks, feeding the LTC reader and
    // keeping the mix output by ring position.
    void step(uint64_t frames);
    // Waits for the writer to close the take once the ring holds its end (no
    // block is rendered meanwhile, so the take's counters stay exact); false
    // when it does not get there.
    bool waitUntilIdle();
    uint64_t writePosition() const { return static_cast<uint64_t>(engine_->getRecordingRingWritePosition()); }
    int logCount(const std::string& text) const;

    // The signal fed into input channel c at its k-th sample; unique per
    // channel and sample over the fed length, exact in float.
    static float fedSample(int channel, uint64_t k);
    // What the ring holds for track t (fed by input t) at position p.
    float expectedTrack(int track, uint64_t position) const { return fedSample(track, position); }
    float expectedMix(uint64_t position) const;

    std::vector<float> mixByPosition_;
    AudioDeviceId device_ = kNoAudioDevice;
};

// The fed signal for code that runs outside the fixture (child processes).
struct TakeRoadTestAccess : TakeRoadTest {
    static float fed(int channel, uint64_t k) { return fedSample(channel, k); }
};

struct AudioFile {
    bool ok = false;
    int channels = 0;
    int64_t frames = 0;
    std::vector<float> samples; // interleaved
    float at(int64_t frame, int channel) const { return samples[static_cast<size_t>(frame * channels + channel)]; }
};
// Read with libsndfile, not our reader.
AudioFile readWithSndfile(const std::string& path);

// The gain the take's fade gives frame `frame` of a take of `frames` frames.
float fadeGain(int64_t frame, int64_t frames);
