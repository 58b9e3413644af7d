#pragma once

#include "engine/AudioEngine_CoreAudio.h"
#include "platform/audio/VirtualAudioSystem.h"
#include "support/TempHome.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// An engine whose writer state a test can set, as a running take would.
class TestableEngine : public AudioEngine_CoreAudio {
public:
    using AudioEngine_CoreAudio::AudioEngine_CoreAudio;
    void setWriterStateForTest(WriterState state) { takeRecorder_.setWriterStateForTest(state); }
    // The render callback's LTC input, fed directly by timecode tests.
    LtcDecoder& ltcDecoderForTest() { return *ltcDecoder_; }
    void armTrackForTest(int track, bool armed) { trackArmed_[static_cast<size_t>(track)].store(armed); }
    // Keeps the ring writer between chunks, as if the ring had nothing new.
    void holdRingWriterForTest(bool held) { takeRecorder_.holdRingWriterForTest(held); }
    // Bitbucket Mode as the take start sees it, whether or not the render
    // path's own switch is built.
    void setBitbucketForTest(bool enabled) { bitbucketForTest_ = enabled; }
    using AudioEngine_CoreAudio::setLiveTakeControlsForTest;
    bool isBitbucketMode() const override { return bitbucketForTest_ || AudioEngine_CoreAudio::isBitbucketMode(); }

private:
    bool bitbucketForTest_ = false;
};

VirtualDeviceDescription makeDevice(const std::string& name, std::vector<uint32_t> inputStreams,
                                    std::vector<uint32_t> outputStreams);

// A fresh HOME, a stepped virtual system and an initialised engine on it
// with a one-second recording ring.
class EngineTest : public TempHomeTest {
protected:
    void SetUp() override;
    void TearDown() override;
    void makeEngine(const VirtualAudioDescription& description,
                    VirtualAudioSystem::Mode mode = VirtualAudioSystem::Mode::Stepped, int ringSeconds = 1);
    bool logHas(const std::string& text) const { return home_.logText().find(text) != std::string::npos; }

    std::shared_ptr<VirtualAudioSystem> system_;
    std::unique_ptr<TestableEngine> engine_;
};
