// The render thread allocates nothing and takes no lock: the counters of
// RenderThreadCounters (replaced operator new and pthread_mutex_lock, linked
// into this binary) see every call made while the render callback runs.
#include "RenderTestSupport.h"
#include "RenderThreadCounters.h"

#include "engine/render/AutomixEngine.h"
#include "realtime/RenderThreadMark.h"
#include "timecode/LtcEncoder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <map>
#include <mutex>
#include <sndfile.h>
#include <thread>

namespace {

constexpr uint32_t kBlock = 256;

// Guards against a counter that silently counts nothing.
TEST(RealtimeRulesProbe, CountersSeeAllocationsAndLocksInsideTheMark)
{
    const int64_t allocations = renderAllocations.load();
    const int64_t locks = renderMutexLocks.load();
    static void* volatile sink = nullptr;
    static std::mutex mutex;
    {
        const RenderThreadMark::Scope mark;
        sink = new int(7);
        mutex.lock();
        mutex.unlock();
    }
    delete static_cast<int*>(sink);
    mutex.lock();
    mutex.unlock();
    EXPECT_EQ(renderAllocations.load(), allocations + 1);
    EXPECT_EQ(renderMutexLocks.load(), locks + 1);
}

using RealtimeRulesTest = RenderTest;

void enableEveryStage(TestableEngine& engine)
{
    AutomixEngine* automix = engine.getAutomixEngine();
    automix->setGlobalEnabled(true);
    for (int t = 0; t < 32; ++t) {
        engine.setTrackHPFEnabled(t, true);
        engine.setTrackEQEnabled(t, true);
        engine.setTrackEQBand(t, 1, 900.0f, 4.0f, 1.5f);
        engine.setTrackLimiterEnabled(t, true);
        engine.setTrackGain(t, 0.8f);
        automix->setTrackGroup(t, 1 + t % 4);
        engine.armTrackForTest(t, true);
    }
}

TEST_F(RealtimeRulesTest, RenderCallbackNeitherAllocatesNorLocks)
{
    std::vector<std::string> ports(32);
    std::vector<std::vector<std::string>> direct(32);
    for (size_t t = 0; t < 32; ++t) {
        ports[t] = t == 31 ? "LTCGEN" : inputNames_[t % 8];
        direct[t] = {outputNames_[t % 8]};
    }
    routeInputs(ports);
    whileStopped([&] {
        engine_->applyOutputRouting(direct, std::vector<std::map<std::string, bool>>(32), outputNames_, {},
                                    {outputNames_[0], outputNames_[1]}, {outputNames_[2]}, {outputNames_[3]});
        engine_->setSlateMicPort(inputNames_[6]);
        engine_->enableSlateMic(true);
    });
    enableEveryStage(*engine_);

    renderAllocations.store(0);
    renderMutexLocks.store(0);
    const uint64_t cycles = engine_->getRenderCycleCount();
    for (const uint32_t frames : {64u, 256u, 4096u, 10000u, 0u})
        system_->renderBlocks(20, frames);
    EXPECT_EQ(engine_->getRenderCycleCount(), cycles + 100);
    EXPECT_EQ(renderAllocations.load(), 0);
    EXPECT_EQ(renderMutexLocks.load(), 0);
}

// Every output stage at work: monitor with and without PFL, coms with both
// COM inputs and the slate, aux sends pre and post fader, mix sends, the
// LTC generator on an output and into the reader, the record beep, file
// playback to buses (aux buses too) and ports, and the test tone over all of it.
TEST_F(RealtimeRulesTest, OutputStagesNeitherAllocateNorLock)
{
    const std::string path = home_.pathStd() + "/take.wav";
    ASSERT_TRUE(writeWavWithSndfile(path, 5, SF_FORMAT_PCM_24, std::vector<float>(5 * 48000, 0.25f)));
    std::vector<std::string> ports(32);
    for (size_t t = 0; t < 32; ++t)
        ports[t] = t == 5 ? "LTCGEN" : inputNames_[t % 6];
    LtcEncoder generator(48000, LtcEncoder::Fps25);
    whileStopped([&] {
        engine_->setInputRouting(ports);
        engine_->setSlateMicPort(inputNames_[6]);
        engine_->setComInput1Port(inputNames_[4]);
        engine_->setComInput2Port(inputNames_[5]);
        engine_->applyOutputRouting({}, {}, outputNames_, {}, {outputNames_[0]}, {outputNames_[2]},
                                    {outputNames_[3]});
        engine_->setMonitorOutputRouting({outputNames_[1]}, outputNames_);
        for (int a = 0; a < 4; ++a)
            engine_->setAuxOutputIndices(a, {4 + a});
        engine_->setLtcInputPort("LTCGEN");
    });
    enableEveryStage(*engine_);
    engine_->setLtcGenerator(&generator);
    engine_->enableLtcGenerator(true);
    engine_->setLtcInputEnabled(true);
    engine_->setComInput1Enabled(true);
    engine_->setComInput2Enabled(true);
    engine_->enableSlateMic(true);
    engine_->setSlateMicMonitorOnly(true);
    for (int t = 0; t < 24; ++t) {
        engine_->setTrackAuxSend(t, t % 4, 0.5f);
        engine_->setTrackAuxSendPreFader(t, t % 4, t % 2 == 0);
    }
    engine_->setMixSendLevel(2, 0.3f);
    engine_->setBeepOnRecordEnabled(true);
    engine_->setPlaybackOutputPort(0, "MIX+MON");
    engine_->setPlaybackOutputPort(1, "COMS");
    engine_->setPlaybackOutputPort(2, outputNames_[7]);
    engine_->setPlaybackOutputPort(3, "MONITOR");
    engine_->setPlaybackOutputPort(4, "AUX3");
    ASSERT_TRUE(engine_->startPlayback(path));
    // The prefetch thread has delivered before the counted blocks begin.
    for (int attempt = 0; attempt < 100000 && engine_->getPlaybackPosition() == 0.0; ++attempt) {
        system_->renderBlocks(1, 64);
        std::this_thread::yield();
    }
    ASSERT_GT(engine_->getPlaybackPosition(), 0.0);
    const double playedBefore = engine_->getPlaybackPosition();

    renderAllocations.store(0);
    renderMutexLocks.store(0);
    for (const int pfl : {-1, 2, 5}) {
        engine_->setPFLTrack(pfl);
        engine_->triggerRecordBeep(pfl == 2);
        for (const uint32_t frames : {64u, 256u, 4096u, 10000u, 0u})
            system_->renderBlocks(10, frames);
    }
    engine_->setBitbucketMode(true);
    engine_->setTestToneEnabled(true);
    system_->renderBlocks(20, kBlock);
    engine_->pausePlayback();
    system_->renderBlocks(5, kBlock);
    EXPECT_EQ(renderAllocations.load(), 0);
    EXPECT_EQ(renderMutexLocks.load(), 0);
    EXPECT_TRUE(engine_->hasValidTimecode());
    EXPECT_GT(engine_->getPlaybackPosition(), playedBefore);

    engine_->stopPlayback();
    engine_->setLtcGenerator(nullptr);
}

TEST_F(RealtimeRulesTest, DirectCaptureRenderNeitherAllocatesNorLocks)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
    ASSERT_TRUE(engine_->isDirectCaptureActive());
    const std::vector<std::string> inputs = engine_->getAvailableInputChannels();
    whileStopped([&] { engine_->setInputRouting(inputs); });
    enableEveryStage(*engine_);
    renderAllocations.store(0);
    renderMutexLocks.store(0);
    system_->renderBlocks(100, kBlock);
    EXPECT_GT(engine_->getRecordingRingWritePosition(), 0);
    EXPECT_EQ(renderAllocations.load(), 0);
    EXPECT_EQ(renderMutexLocks.load(), 0);
}

}  // namespace
