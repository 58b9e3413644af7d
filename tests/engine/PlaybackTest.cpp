// Playback of a file through the engine on the stepped "Virtual Interface":
// the file is written by libsndfile, played through the prefetching reader
// and read back from the device outputs.
#include "RenderTestSupport.h"

#include "timecode/LtcEncoder.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <random>
#include <thread>

namespace {

constexpr uint32_t kBlock = 256;
constexpr int kFileFrames = 48000;
constexpr float kLiveMix = 0.125f;

class PlaybackTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        whileStopped([&] {
            engine_->setInputRouting({inputNames_[0]});
            engine_->applyOutputRouting({}, {}, outputNames_, {}, {outputNames_[0]}, {outputNames_[2]}, {});
            engine_->setMonitorOutputRouting({outputNames_[1]}, outputNames_);
        });
        engine_->armTrackForTest(0, true);
    }

    // A float WAV whose samples are never 0, so silence tells where the
    // reader delivered nothing.
    std::string writeFile(int channels)
    {
        std::mt19937 random(7);
        std::uniform_real_distribution<float> magnitude(0.01f, 0.9f);
        file_.assign(static_cast<size_t>(kFileFrames * channels), 0.0f);
        for (float& sample : file_)
            sample = (random() & 1 ? 1.0f : -1.0f) * magnitude(random);
        const std::string path = home_.pathStd() + "/take.wav";
        // Not fatal here (the path is returned); the caller's start fails.
        EXPECT_TRUE(writeWavWithSndfile(path, channels, SF_FORMAT_FLOAT, file_));
        channels_ = channels;
        return path;
    }
    float fileSample(int64_t frame, int channel) const
    {
        return file_[static_cast<size_t>(frame * channels_ + channel)];
    }

    // Renders block by block until `frames` frames have come out (the
    // prefetch thread fills the reader at its own pace), keeping the output
    // samples of the blocks that delivered. Each delivery starts at the
    // block's first sample and agrees with the reported position.
    std::vector<std::vector<float>> play(int64_t frames, int64_t& positionFrames)
    {
        std::vector<std::vector<float>> delivered(8);
        int64_t got = 0;
        for (int attempt = 0; attempt < 1000000 && got < frames; ++attempt) {
            const auto out = render(1, kBlock);
            const int64_t now = std::llround(engine_->getPlaybackPosition() * 48000.0);
            const int64_t count = now - positionFrames;
            EXPECT_GE(count, 0);
            EXPECT_LE(count, static_cast<int64_t>(kBlock));
            for (size_t o = 0; o < 8; ++o)
                delivered[o].insert(delivered[o].end(), out[o].begin(), out[o].begin() + std::max<int64_t>(count, 0));
            positionFrames = now;
            got += std::max<int64_t>(count, 0);
            if (count == 0)
                std::this_thread::yield();
        }
        EXPECT_GE(got, frames);
        return delivered;
    }

    void feedLiveMix() { feed(0, std::vector<float>(1 << 22, kLiveMix)); }

    std::vector<float> file_;
    int channels_ = 0;
};

TEST_F(PlaybackTest, FileComesOutBitExactOnItsOutputsAndHoldsTheLiveMix)
{
    feedLiveMix();
    engine_->setPlaybackOutputPort(0, outputNames_[5]);
    engine_->setPlaybackOutputPort(1, "MIX");
    ASSERT_TRUE(engine_->startPlayback(writeFile(2)));
    EXPECT_TRUE(engine_->isPlayingBack());
    EXPECT_DOUBLE_EQ(engine_->getPlaybackDuration(), 1.0);

    int64_t position = 0;
    const auto out = play(kFileFrames, position);
    ASSERT_EQ(out[5].size(), static_cast<size_t>(kFileFrames));
    for (int64_t i = 0; i < kFileFrames; ++i) {
        ASSERT_EQ(out[5][static_cast<size_t>(i)], fileSample(i, 0)) << i;
        // Playback to the mix takes the live mix off the mix and monitor outputs.
        ASSERT_EQ(out[0][static_cast<size_t>(i)], fileSample(i, 1)) << i;
        ASSERT_EQ(out[1][static_cast<size_t>(i)], 0.0f) << i;
    }
    EXPECT_DOUBLE_EQ(engine_->getPlaybackPosition(), 1.0);
    // After the last frame playback ends by itself: the channels fall silent
    // and the live mix is back on the mix and monitor outputs, with nobody
    // having called stop.
    const auto ended = render(4, kBlock);
    EXPECT_EQ(rms(ended[5], 0, 1024), 0.0);
    EXPECT_FALSE(engine_->isPlayingBack());
    EXPECT_EQ(ended[0][3 * kBlock], kLiveMix);
    EXPECT_EQ(ended[1][3 * kBlock], kLiveMix);
    EXPECT_DOUBLE_EQ(engine_->getPlaybackPosition(), 1.0) << "the file stays attached until stop";

    engine_->stopPlayback();
    EXPECT_FALSE(engine_->isPlayingBack());
    EXPECT_EQ(engine_->getPlaybackPosition(), 0.0);
    EXPECT_EQ(engine_->getPlaybackDuration(), 0.0);
    const auto after = render(2, kBlock);
    EXPECT_EQ(after[0][100], kLiveMix);
    EXPECT_EQ(after[1][100], kLiveMix);
}

TEST_F(PlaybackTest, PauseSeekAndStop)
{
    engine_->setPlaybackOutputPort(0, outputNames_[5]);
    ASSERT_TRUE(engine_->startPlayback(writeFile(1)));
    int64_t position = 0;
    play(9600, position);

    engine_->pausePlayback();
    EXPECT_TRUE(engine_->isPlaybackPaused());
    const double paused = engine_->getPlaybackPosition();
    EXPECT_EQ(rms(render(20, kBlock)[5], 0, 20 * kBlock), 0.0);
    EXPECT_EQ(engine_->getPlaybackPosition(), paused);
    EXPECT_EQ(std::llround(paused * 48000.0), position);
    engine_->resumePlayback();
    const int64_t resumedAt = position;
    auto out = play(512, position);
    EXPECT_EQ(out[5][0], fileSample(resumedAt, 0));
    EXPECT_EQ(out[5][511], fileSample(resumedAt + 511, 0));

    engine_->seekPlayback(0.5);
    EXPECT_DOUBLE_EQ(engine_->getPlaybackPosition(), 0.5);
    position = 24000;
    out = play(1024, position);
    for (int64_t i = 0; i < 1024; ++i)
        ASSERT_EQ(out[5][static_cast<size_t>(i)], fileSample(24000 + i, 0)) << i;

    engine_->seekPlayback(5.0);
    EXPECT_DOUBLE_EQ(engine_->getPlaybackPosition(), 1.0);
    engine_->seekPlayback(0.0);
    position = 0;
    out = play(256, position);
    EXPECT_EQ(out[5][0], fileSample(0, 0));

    engine_->stopPlayback();
    EXPECT_TRUE(engine_->isPlaybackPaused() == false);
    EXPECT_EQ(rms(render(4, kBlock)[5], 0, 1024), 0.0);
    engine_->seekPlayback(0.2);  // nothing attached: nothing happens
    EXPECT_EQ(engine_->getPlaybackPosition(), 0.0);
}

// One channel coded to a bus: where it plays and whether the live mix stays.
struct CodeCase {
    const char* code;
    bool toMix, toMonitor, toComs;
    bool liveMixStays;
};

TEST_F(PlaybackTest, BusCodesReachTheirOutputs)
{
    const CodeCase cases[] = {
        {"MIX", true, false, false, false},
        {"MIX+MON", true, true, false, false},
        {"MONITOR", false, true, false, false},
        {"COMS", false, false, true, true},
    };
    const std::string path = writeFile(1);
    for (const CodeCase& c : cases) {
        SCOPED_TRACE(c.code);
        feedLiveMix();
        engine_->setPlaybackOutputPort(0, c.code);
        ASSERT_TRUE(engine_->startPlayback(path));
        int64_t position = 0;
        const auto out = play(2048, position);
        const float live = c.liveMixStays ? kLiveMix : 0.0f;
        for (size_t i = 0; i < 2048; ++i) {
            const float sample = fileSample(static_cast<int64_t>(i), 0);
            ASSERT_EQ(out[0][i], (c.toMix ? sample : 0.0f) + live) << i;
            ASSERT_EQ(out[1][i], (c.toMonitor ? sample : 0.0f) + live) << i;
            ASSERT_EQ(out[2][i], c.toComs ? sample : 0.0f) << i;
        }
        engine_->stopPlayback();
    }
}

// "AUX2" plays on aux bus 2's output at the bus's master level, alongside
// the live mix (which stays on the mix and monitor outputs); "AUX4", a bus
// without outputs, is reported and plays nowhere.
TEST_F(PlaybackTest, AuxCodesPlayOnTheBusOutputsAtTheBusLevel)
{
    whileStopped([&] {
        engine_->setAuxOutputIndices(0, {7});
        engine_->setAuxOutputIndices(1, {6});
    });
    engine_->setAuxLevel(1, 0.5f);
    feedLiveMix();
    engine_->setPlaybackOutputPort(0, "AUX2");
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 0]: Routed to Aux 2 output index 6"));
    engine_->setPlaybackOutputPort(1, "AUX4");
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 1]: Aux 4 not configured"));
    ASSERT_TRUE(engine_->startPlayback(writeFile(2)));
    EXPECT_TRUE(logHas("CoreAudio Playback Start: Ch 0 -> Aux 2 output 6"));
    EXPECT_TRUE(logHas("CoreAudio Playback Start: Ch 1 -> Aux 4 not configured"));

    int64_t position = 0;
    auto out = play(4096, position);
    for (size_t i = 0; i < 4096; ++i) {
        ASSERT_EQ(out[6][i], 0.5f * fileSample(static_cast<int64_t>(i), 0)) << i;
        ASSERT_EQ(out[0][i], kLiveMix) << i;
        ASSERT_EQ(out[1][i], kLiveMix) << i;
        for (const size_t silent : {2u, 3u, 4u, 5u, 7u})
            ASSERT_EQ(out[silent][i], 0.0f) << silent << " " << i;
    }

    // The bus level is read per block; a bus turned down to 0 is silent.
    engine_->setAuxLevel(1, 0.0f);
    out = play(512, position);
    EXPECT_EQ(rms(out[6], 0, 512), 0.0);

    // Outputs given to bus 4 while playing are reached from the next block.
    engine_->setAuxLevel(3, 0.25f);
    whileStopped([&] { engine_->setAuxOutputIndices(3, {3}); });
    const int64_t from = position;
    out = play(512, position);
    for (size_t i = 0; i < 512; ++i)
        ASSERT_EQ(out[3][i], 0.25f * fileSample(from + static_cast<int64_t>(i), 1)) << i;
    engine_->stopPlayback();
}

TEST_F(PlaybackTest, RoutingCodesAndFailures)
{
    engine_->setPlaybackOutputPort(16, "MIX");
    EXPECT_FALSE(logHas("[Ch 16"));
    engine_->setPlaybackOutputPort(3, outputNames_[6]);
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 3]: Routed to output 6 (" + outputNames_[6] + ")"));
    // Only AUX1 to AUX4 name buses; other names are looked up as ports.
    for (const char* name : {"AUX0", "AUX5", "AUX12", "AUX"}) {
        engine_->setPlaybackOutputPort(4, name);
        EXPECT_TRUE(logHas(std::string("CoreAudio Playback [Ch 4]: Output port not found: ") + name)) << name;
    }
    engine_->setPlaybackOutputPort(5, "");
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 5]: No output assigned"));
    engine_->setPlaybackOutputPort(1, "MIX+MON");
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 1]: Routed to Mix + Monitor outputs"));

    EXPECT_FALSE(engine_->startPlayback(home_.pathStd() + "/missing.wav"));
    EXPECT_TRUE(logHas("CoreAudio: Failed to open playback file: " + home_.pathStd() + "/missing.wav"));
    EXPECT_FALSE(engine_->isPlayingBack());

    // "MIX" without mix outputs plays nowhere, then reaches them once they exist.
    whileStopped([&] {
        engine_->applyOutputRouting({}, {}, outputNames_, {}, {}, {}, {});
    });
    engine_->setPlaybackOutputPort(0, "MIX");
    EXPECT_TRUE(logHas("CoreAudio Playback [Ch 0]: Mix not configured"));
    const std::string path = writeFile(1);
    ASSERT_TRUE(engine_->startPlayback(path));
    EXPECT_TRUE(logHas("CoreAudio Playback Start: Ch 0 -> MIX but mixOutputIndices_ is EMPTY!"));
    whileStopped([&] {
        engine_->applyOutputRouting({}, {}, outputNames_, {}, {outputNames_[4]}, {}, {});
    });
    int64_t position = 0;
    const auto out = play(256, position);
    EXPECT_EQ(out[4][0], fileSample(0, 0));
}

}  // namespace

namespace {

// The reader and the generator are taken back and freed while the unit
// renders on its own thread, before and after its device died: no block may
// touch them once the call returns (asan/tsan builds check the frees).
TEST_F(EngineTest, ReaderAndGeneratorAreFreedOnlyWhenNoBlockCanUseThem)
{
    makeEngine(VirtualAudioDescription::builtInDefault(), VirtualAudioSystem::Mode::RealTime);
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    const std::vector<std::string> outputs = engine_->getAvailableOutputChannels();
    const std::string path = home_.pathStd() + "/take.wav";
    ASSERT_TRUE(writeWavWithSndfile(path, 2, SF_FORMAT_PCM_16, std::vector<float>(2 * 4800, 0.5f)));
    engine_->setPlaybackOutputPort(0, outputs[5]);
    engine_->enableLtcGenerator(true);
    const auto churn = [&](bool rendering) {
        for (int i = 0; i < 10; ++i) {
            ASSERT_TRUE(engine_->startPlayback(path));
            auto generator = std::make_unique<LtcEncoder>(48000, LtcEncoder::Fps25);
            engine_->setLtcGenerator(generator.get());
            if (rendering) {
                ASSERT_TRUE(system_->waitForRenderCycles(2, std::chrono::seconds(5)));
            }
            engine_->seekPlayback(0.05);
            engine_->setLtcGenerator(nullptr);
            generator.reset();
            engine_->stopPlayback();
        }
    };
    churn(true);
    system_->unplugDevice(system_->findDevice("Virtual Interface"));
    system_->waitForNotifications();
    ASSERT_FALSE(engine_->isRunning());
    ASSERT_TRUE(engine_->isUnitStarted());
    churn(false);
    EXPECT_FALSE(engine_->isPlayingBack());
    EXPECT_TRUE(engine_->stop());
}

}  // namespace
