// The render callback's output stages on the stepped "Virtual Interface":
// LTC generator and reader, record beep, test tone, monitor/PFL, coms, aux
// buses and the meters, read back sample by sample from the device outputs
// and the recording ring.
#include "RenderTestSupport.h"

#include "timecode/LtcEncoder.h"

#include <gtest/gtest.h>
#include <ltc.h>

#include <map>
#include <numbers>

namespace {

constexpr uint32_t kBlock = 256;
constexpr int kRingFloats = AudioEngine_CoreAudio::kRingFrameFloats;

// The time of every frame libltc itself finds in a signal, in order.
std::vector<std::string> decodeWithLibltc(const std::vector<float>& signal)
{
    LTCDecoder* decoder = ltc_decoder_create(1920, 32);
    std::vector<std::string> times;
    std::vector<float> copy(signal);
    ltc_decoder_write_float(decoder, copy.data(), copy.size(), 0);
    LTCFrameExt frame;
    while (ltc_decoder_read(decoder, &frame)) {
        SMPTETimecode time;
        ltc_frame_to_time(&time, &frame.ltc, 0);
        char text[16];
        std::snprintf(text, sizeof text, "%02d:%02d:%02d:%02d", time.hours, time.mins, time.secs, time.frame);
        times.emplace_back(text);
    }
    ltc_decoder_free(decoder);
    return times;
}

std::vector<float> ringColumn(const AudioEngine_CoreAudio& engine, int column, int64_t from, int64_t to)
{
    const auto ring = engine.getRecordingRing();
    const int64_t capacity = engine.getRecordingRingCapacityFrames();
    std::vector<float> samples;
    for (int64_t p = from; p < to; ++p)
        samples.push_back(ring->frameAt(static_cast<uint64_t>(p % capacity))[column]);
    return samples;
}

class OutputStagesTest : public RenderTest {
protected:
    void SetUp() override
    {
        RenderTest::SetUp();
        generator_ = std::make_unique<LtcEncoder>(48000, LtcEncoder::Fps25);
        generator_->setTimecode({10, 20, 30, 5, false});
    }
    void TearDown() override
    {
        // The generator's owner detaches it before freeing it.
        engine_->setLtcGenerator(nullptr);
        generator_.reset();
        RenderTest::TearDown();
    }
    // Track t on input t for every given track; outputs: mix 0, coms 2,
    // LTC generator 3 when asked; monitor 1.
    void routeBuses(int tracks, bool generatorOut = false)
    {
        std::vector<std::string> inputs;
        for (int t = 0; t < tracks; ++t)
            inputs.push_back(inputNames_[static_cast<size_t>(t)]);
        whileStopped([&] {
            engine_->setInputRouting(inputs);
            engine_->applyOutputRouting({}, {}, outputNames_, {}, {outputNames_[0]}, {outputNames_[2]},
                                        generatorOut ? std::vector<std::string>{outputNames_[3]}
                                                     : std::vector<std::string>{});
            engine_->setMonitorOutputRouting({outputNames_[1]}, outputNames_);
        });
    }

    std::unique_ptr<LtcEncoder> generator_;
};

TEST_F(OutputStagesTest, GeneratorOnAnOutputCarriesTheTimeThatWasSet)
{
    routeBuses(0, true);
    engine_->setLtcGenerator(generator_.get());
    engine_->enableLtcGenerator(true);
    const auto out = render(60, kBlock);  // 15360 samples: eight frames at 25 fps

    const std::vector<std::string> times = decodeWithLibltc(out[3]);
    ASSERT_GE(times.size(), 7u);
    EXPECT_EQ(times[0], "10:20:30:05");
    EXPECT_EQ(times[6], "10:20:30:11");

    LtcDecoder ours;
    ASSERT_TRUE(ours.initialize(48000));
    ours.processAudio(out[3].data(), 1920 * 3 + 100, 0);
    const LtcDecoder::TcSnapshot snapshot = ours.getSnapshot();
    ASSERT_TRUE(snapshot.valid);
    EXPECT_EQ(Timecode({snapshot.hours, snapshot.minutes, snapshot.seconds, snapshot.frames, 25, false}).toString(),
              "10:20:30:07");
    EXPECT_EQ(snapshot.samplePosition, 1920 * 2);
    // Only the generator outputs carry it; the channel number set aside is not used.
    engine_->setLtcGeneratorOutput(5);
    const auto later = render(4, kBlock);
    EXPECT_EQ(rms(later[5], 0, 1024), 0.0);
    EXPECT_GT(rms(later[3], 0, 1024), 0.01);
}

TEST_F(OutputStagesTest, LtcgenFeedsItsTrackColumnAndTheReaderAtRingPositions)
{
    whileStopped([&] {
        engine_->setInputRouting({"LTCGEN"});
        engine_->applyOutputRouting({}, {}, outputNames_, {}, {}, {}, {outputNames_[3]});
        engine_->setLtcInputPort("LTCGEN");
    });
    engine_->armTrackForTest(0, true);
    engine_->setLtcInputEnabled(true);
    render(4, kBlock);
    EXPECT_FALSE(engine_->hasValidTimecode());  // generator still off

    engine_->setLtcGenerator(generator_.get());
    engine_->enableLtcGenerator(true);
    const int64_t start = engine_->getRecordingRingWritePosition();
    const auto out = render(31, kBlock);  // four frames and a little more
    const int64_t end = engine_->getRecordingRingWritePosition();

    // The track's ring column is the generator's signal, sample for sample.
    const std::vector<float> column = ringColumn(*engine_, 1, start, end);
    ASSERT_EQ(column.size(), out[3].size());
    EXPECT_EQ(column, out[3]);
    // The reader stamps the last complete frame (the fourth) with its ring position.
    ASSERT_TRUE(engine_->hasValidTimecode());
    EXPECT_EQ(engine_->getTimecode().toString(), "10:20:30:08");
    EXPECT_EQ(engine_->ltcDecoderForTest().getSnapshot().samplePosition, start + 3 * 1920);
    // The track's meter follows the generator's level.
    EXPECT_GT(engine_->getTrackPeakLevel(0), 0.1f);
}

TEST_F(OutputStagesTest, LtcInputFromAnyChannelWithForcedFrameRate)
{
    // Channel 8 of the virtual interface carries 25 fps LTC.
    whileStopped([&] { engine_->setLtcInputPort(inputNames_[7]); });
    engine_->setLtcInputEnabled(true);
    EXPECT_TRUE(logHas("CoreAudio: LTC Input set to physical input 7 (" + inputNames_[7] + ")"));
    render(200, kBlock);
    ASSERT_TRUE(engine_->hasValidTimecode());
    EXPECT_NEAR(engine_->getDetectedFramerate(), 25.0, 0.05);
    EXPECT_EQ(engine_->getTimecode().fps, 25);
    EXPECT_FALSE(engine_->isFramerateForced());

    engine_->setForcedFramerate(30.0);
    EXPECT_TRUE(engine_->isFramerateForced());
    EXPECT_DOUBLE_EQ(engine_->getDetectedFramerate(), 30.0);

    // A new source keeps the forced rate but forgets the decoded time.
    whileStopped([&] { engine_->setLtcInputPort("No Such Input"); });
    EXPECT_TRUE(logHas("CoreAudio: LTC Input port not found: 'No Such Input', ltcInputIndex_=-1"));
    EXPECT_TRUE(logHas("CoreAudio: LTC decoder reset for new input source"));
    EXPECT_FALSE(engine_->hasValidTimecode());
    EXPECT_DOUBLE_EQ(engine_->getForcedFramerate(), 30.0);
    render(100, kBlock);
    EXPECT_FALSE(engine_->hasValidTimecode());

    engine_->setForcedFramerate(0.0);
    whileStopped([&] { engine_->setLtcInputPort(inputNames_[7]); });
    engine_->setLtcInputEnabled(false);
    render(100, kBlock);
    EXPECT_FALSE(engine_->hasValidTimecode());  // not fed while disabled
    engine_->setLtcInputEnabled(true);
    render(100, kBlock);
    EXPECT_TRUE(engine_->hasValidTimecode());
    EXPECT_NEAR(engine_->getDetectedFramerate(), 25.0, 0.05);
}

struct BeepCase {
    bool doubleBeep;
    int toneSamples;
    int gapSamples;
};

TEST_F(OutputStagesTest, RecordBeepLengthAndShapeInSamples)
{
    routeBuses(0);
    for (const BeepCase c : {BeepCase{false, 14400, 0}, BeepCase{true, 7200, 2400}}) {
        SCOPED_TRACE(c.doubleBeep ? "double" : "single");
        engine_->setBeepOnRecordEnabled(true);
        engine_->triggerRecordBeep(c.doubleBeep);
        const auto out = render(70, kBlock);
        const int total = c.doubleBeep ? 16800 : 14400;
        int tone = 0;
        for (int i = 0; i < 17920; ++i) {
            const bool inGap = c.doubleBeep && i >= c.toneSamples && i < c.toneSamples + c.gapSamples;
            const bool sounding = i < total && !inGap;
            const double expected = sounding ? 0.35 * std::sin(2 * std::numbers::pi * 500 * tone / 48000.0) : 0.0;
            tone += sounding ? 1 : 0;
            ASSERT_NEAR(out[0][static_cast<size_t>(i)], expected, 0.35 * 0.002) << i;
            if (!sounding) {
                ASSERT_EQ(out[0][static_cast<size_t>(i)], 0.0f) << i;
            }
        }
        EXPECT_EQ(out[1], out[0]);  // monitor
        EXPECT_EQ(out[2], out[0]);  // coms
    }
    engine_->setBeepOnRecordEnabled(false);
    engine_->triggerRecordBeep(false);
    engine_->setBeepOnRecordEnabled(true);
    EXPECT_EQ(rms(render(4, kBlock)[0], 0, 1024), 0.0);
}

TEST_F(OutputStagesTest, TestToneOwnsTheOutputsWhileTheTakeAndTheReaderGoOn)
{
    routeBuses(1);
    engine_->armTrackForTest(0, true);
    whileStopped([&] { engine_->setLtcInputPort(inputNames_[7]); });
    engine_->setLtcInputEnabled(true);
    std::vector<float> ramp(2560);
    for (size_t i = 0; i < ramp.size(); ++i)
        ramp[i] = static_cast<float>(i + 1) / 4096.0f;

    for (int round = 0; round < 2; ++round) {
        engine_->setTestToneEnabled(true);  // each switch-on starts at phase 0
        feed(0, ramp);
        const int64_t start = engine_->getRecordingRingWritePosition();
        const auto out = render(10, kBlock);
        for (size_t o = 0; o < out.size(); ++o) {
            for (size_t i = 0; i < 2560; ++i)
                ASSERT_NEAR(out[o][i], 0.5 * std::sin(2 * std::numbers::pi * 1000 * i / 48000.0), 0.5 * 0.002)
                    << o << " " << i;
        }
        // The ring went on with the track's input and the mix underneath.
        EXPECT_EQ(engine_->getRecordingRingWritePosition(), start + 2560);
        EXPECT_EQ(ringColumn(*engine_, 1, start, start + 2560), ramp);
        EXPECT_EQ(ringColumn(*engine_, 0, start, start + 2560), ramp);
    }
    EXPECT_TRUE(logHas("Test Tone ENABLED - outputChannels_=8"));
    render(200, kBlock);
    EXPECT_TRUE(engine_->hasValidTimecode());
    engine_->setTestToneEnabled(false);
    EXPECT_TRUE(logHas("Test Tone DISABLED - outputChannels_=8"));
    EXPECT_FALSE(engine_->isTestToneEnabled());
    const auto out = render(2, kBlock);
    EXPECT_EQ(rms(out[5], 0, 512), 0.0);
}

// Constant inputs make every bus a sum of known values: track 0 = 0.1,
// track 1 = 0.2, slate 0.05, COM 1 0.3, COM 2 0.4. Outputs: mix 0, monitor 1,
// coms 2, aux 0 on 3, aux 1 on 4.
struct BusCase {
    const char* name;
    std::function<void(TestableEngine&)> setUp;
    std::array<float, 5> expected;
    float ringMix;
};

TEST_F(OutputStagesTest, MonitorComsAndAuxRouting)
{
    constexpr float kPfl = 1.4125f;
    const std::vector<BusCase> cases = {
        {"mix and its monitor copy", [](TestableEngine&) {}, {0.3f, 0.3f, 0, 0, 0}, 0.3f},
        {"PFL of track 1", [](TestableEngine& e) { e.setPFLTrack(1); }, {0.3f, 0.2f * kPfl, 0, 0, 0}, 0.3f},
        {"PFL of an unarmed track", [](TestableEngine& e) { e.armTrackForTest(0, false); e.setPFLTrack(0); },
         {0.2f, 0.1f * kPfl, 0, 0, 0}, 0.2f},
        {"PFL beyond the routed tracks", [](TestableEngine& e) { e.setPFLTrack(9); }, {0.3f, 0, 0, 0, 0}, 0.3f},
        {"bitbucket", [](TestableEngine& e) { e.setBitbucketMode(true); }, {0, 0, 0, 0, 0}, 0.3f},
        {"bitbucket with PFL", [](TestableEngine& e) { e.setBitbucketMode(true); e.setPFLTrack(0); },
         {0, 0.1f * kPfl, 0, 0, 0}, 0.3f},
        {"COM 1", [](TestableEngine& e) { e.setComInput1Enabled(true); }, {0.3f, 0.3f, 0.3f, 0, 0}, 0.3f},
        {"COM 1 and 2", [](TestableEngine& e) { e.setComInput1Enabled(true); e.setComInput2Enabled(true); },
         {0.3f, 0.3f, 0.7f, 0, 0}, 0.3f},
        {"slate into coms", [](TestableEngine& e) { e.enableSlateMicToCom(true); }, {0.3f, 0.3f, 0.05f, 0, 0}, 0.3f},
        {"slate into buses", [](TestableEngine& e) { e.enableSlateMic(true); }, {0.35f, 0.35f, 0, 0, 0}, 0.35f},
        {"slate into buses, input enabled",
         [](TestableEngine& e) { e.enableSlateMic(true); e.setSlateMicInputEnabled(true); },
         {0.35f, 0.35f, 0.05f, 0, 0}, 0.35f},
        {"slate monitor only", [](TestableEngine& e) { e.enableSlateMic(true); e.setSlateMicMonitorOnly(true); },
         {0.35f, 0.3f, 0.05f, 0, 0}, 0.3f},
        {"slate in bitbucket, monitor only",
         [](TestableEngine& e) { e.setBitbucketMode(true); e.enableSlateMic(true); e.setSlateMicMonitorOnly(true); },
         {0.05f, 0, 0.05f, 0, 0}, 0.3f},
        {"post-fader send", [](TestableEngine& e) { e.setTrackGain(0, 0.5f); e.setTrackAuxSend(0, 0, 0.5f); },
         {0.25f, 0.25f, 0, 0.025f, 0}, 0.25f},
        {"pre-fader send",
         [](TestableEngine& e) {
             e.setTrackGain(0, 0.5f);
             e.setTrackAuxSend(0, 0, 0.5f);
             e.setTrackAuxSendPreFader(0, 0, true);
         },
         {0.25f, 0.25f, 0, 0.05f, 0}, 0.25f},
        {"aux level", [](TestableEngine& e) { e.setTrackAuxSend(1, 1, 1.0f); e.setAuxLevel(1, 2.0f); },
         {0.3f, 0.3f, 0, 0, 0.4f}, 0.3f},
        {"aux level 0 mutes", [](TestableEngine& e) { e.setTrackAuxSend(1, 1, 1.0f); e.setAuxLevel(1, 0.0f); },
         {0.3f, 0.3f, 0, 0, 0}, 0.3f},
        {"mix send", [](TestableEngine& e) { e.setMixSendLevel(1, 0.5f); e.setMixSendPreFader(1, true); },
         {0.3f, 0.3f, 0, 0, 0.15f}, 0.3f},
        {"unarmed track sends nothing",
         [](TestableEngine& e) { e.armTrackForTest(0, false); e.setTrackAuxSend(0, 0, 1.0f); },
         {0.2f, 0.2f, 0, 0, 0}, 0.2f},
    };
    for (const BusCase& c : cases) {
        SCOPED_TRACE(c.name);
        RenderTest::SetUp();  // a fresh engine per case
        whileStopped([&] {
            engine_->setInputRouting({inputNames_[0], inputNames_[1]});
            engine_->setSlateMicPort(inputNames_[2]);
            engine_->setComInput1Port(inputNames_[3]);
            engine_->setComInput2Port(inputNames_[4]);
            engine_->applyOutputRouting({}, {}, outputNames_, {}, {outputNames_[0]}, {outputNames_[2]}, {});
            engine_->setMonitorOutputRouting({outputNames_[1]}, outputNames_);
            engine_->setAuxOutputIndices(0, {3});
            engine_->setAuxOutputIndices(1, {4, 99});  // an index beyond the device is skipped
        });
        engine_->armTrackForTest(0, true);
        engine_->armTrackForTest(1, true);
        // Fader positions persist in the configuration from the case before.
        engine_->setTrackGain(0, 1.0f);
        engine_->setTrackGain(1, 1.0f);
        c.setUp(*engine_);
        constexpr size_t kFrames = 188 * kBlock;  // 1 s: the fader has settled
        for (const auto& [channel, value] : std::map<uint32_t, float>{{0, 0.1f}, {1, 0.2f}, {2, 0.05f}, {3, 0.3f},
                                                                      {4, 0.4f}})
            feed(channel, std::vector<float>(kFrames, value));
        const auto out = render(static_cast<int>(kFrames / kBlock), kBlock);
        for (size_t o = 0; o < 5; ++o)
            EXPECT_NEAR(out[o][kFrames - 1], c.expected[o], 1e-5) << "output " << o;
        // Column 0 of the ring carries the mix whatever reaches the outputs.
        const int64_t end = engine_->getRecordingRingWritePosition();
        EXPECT_NEAR(ringColumn(*engine_, 0, end - 1, end)[0], c.ringMix, 1e-5);
    }
}

TEST_F(OutputStagesTest, GeneratorsAndSendsRefuseWhatIsOutOfRange)
{
    EXPECT_EQ(engine_->getAuxLevel(0), 1.0f);
    EXPECT_EQ(engine_->getAuxLevel(4), 0.0f);
    engine_->setTrackAuxSend(24, 0, 1.0f);
    engine_->setTrackAuxSend(3, 4, 1.0f);
    engine_->setTrackAuxSend(23, 3, 0.7f);
    EXPECT_EQ(engine_->getTrackAuxSend(24, 0), 0.0f);
    EXPECT_EQ(engine_->getTrackAuxSend(3, 4), 0.0f);
    EXPECT_EQ(engine_->getTrackAuxSend(23, 3), 0.7f);
    engine_->setAuxOutputIndices(2, {0, 1});
    engine_->setAuxOutputIndices(4, {0});
    EXPECT_EQ(engine_->getAuxOutputIndices(2), (std::vector<int>{0, 1}));
    EXPECT_TRUE(engine_->getAuxOutputIndices(4).empty());
    engine_->setPFLTrack(32);
    engine_->setPFLTrack(-2);
    EXPECT_FALSE(logHas("PFL enabled"));
    engine_->setPFLTrack(-1);
    EXPECT_TRUE(logHas("PFL disabled"));
    engine_->setBitbucketMode(true);
    EXPECT_TRUE(engine_->isBitbucketMode());
    EXPECT_TRUE(logHas("Bitbucket Mode ENABLED"));
    engine_->setMonitorOutputRouting({"c", "nowhere"}, {"a", "b", "c"});
    EXPECT_TRUE(logHas("Monitor outputs configured: 1 outputs"));
    EXPECT_EQ(engine_->getRoutingSnapshot()->monitorOutputs, std::vector<int>{2});
    EXPECT_EQ(engine_->getMonitorOutputIndices(), std::vector<int>{2});
}

TEST_F(OutputStagesTest, MetersDecayAndClipsStayUntilTheUnitIsSetUpAgain)
{
    routeInputs({inputNames_[0], inputNames_[1]});
    std::vector<float> quiet(kBlock, 0.25f);
    quiet[100] = -0.5f;
    feed(0, quiet);
    feed(1, std::vector<float>(kBlock, 0.8f));
    render(1, kBlock);
    EXPECT_EQ(engine_->getTrackPeakLevel(0), 0.5f);
    EXPECT_EQ(engine_->getTrackPeakLevel(1), 0.8f);
    EXPECT_EQ(engine_->getTrackPeakLevel(-1), 0.0f);
    EXPECT_EQ(engine_->getTrackPeakLevel(32), 0.0f);
    EXPECT_FALSE(engine_->hasAnyTrackClipped());

    // Track 1 loses its input: its meter decays by 0.95 per block.
    routeInputs({inputNames_[0]});
    render(3, kBlock);
    EXPECT_FLOAT_EQ(engine_->getTrackPeakLevel(1), 0.8f * 0.95f * 0.95f * 0.95f);

    engine_->armTrackForTest(0, true);
    std::vector<float> loud(kBlock, 0.1f);
    loud[7] = 1.0f;
    feed(0, loud);
    render(1, kBlock);
    EXPECT_TRUE(engine_->hasAnyTrackClipped());
    EXPECT_FLOAT_EQ(engine_->getMainPeakLevel(), 1.0f);
    feed(0, std::vector<float>(kBlock * 4, 0.0f));
    render(4, kBlock);
    EXPECT_TRUE(engine_->hasAnyTrackClipped());
    EXPECT_EQ(engine_->getMainPeakLevel(), 0.0f);
    ASSERT_TRUE(engine_->setBufferSize(512));
    EXPECT_FALSE(engine_->hasAnyTrackClipped());
}

// The reader is swapped while the unit renders on its own thread and feeds
// it: no block may touch a freed decoder (asan/tsan builds check it).
TEST_F(EngineTest, LtcInputChangesWhileRenderingInRealTime)
{
    makeEngine(VirtualAudioDescription::builtInDefault(), VirtualAudioSystem::Mode::RealTime);
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    const std::vector<std::string> inputs = engine_->getAvailableInputChannels();
    LtcEncoder generator(48000, LtcEncoder::Fps25);
    engine_->setLtcGenerator(&generator);
    engine_->enableLtcGenerator(true);
    engine_->setLtcInputEnabled(true);
    for (int i = 0; i < 20; ++i) {
        engine_->setLtcInputPort(i % 2 ? inputs[7] : "LTCGEN");
        ASSERT_TRUE(system_->waitForRenderCycles(2, std::chrono::seconds(5)));
        engine_->setLtcGenerator(i % 3 ? &generator : nullptr);
    }
    engine_->setLtcGenerator(nullptr);
    EXPECT_TRUE(engine_->stop());
}

}  // namespace
