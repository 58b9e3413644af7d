// The render callback neither allocates nor locks when JACK's process
// thread runs it: the counters of RenderThreadCounters
// (linked into this binary) see every call made while the callback runs.
#include "JackEngineFixture.h"
#include "RenderThreadCounters.h"

#include "engine/render/AutomixEngine.h"
#include "realtime/RenderThreadMark.h"

#include <algorithm>


namespace {

using namespace JackEngine;

// Guards against a counter that silently counts nothing.
TEST(JackRealtimeRulesProbe, CountersSeeAllocationsAndLocksInsideTheMark)
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
    EXPECT_EQ(renderAllocations.load(), allocations + 1);
    EXPECT_EQ(renderMutexLocks.load(), locks + 1);
}

using JackRealtimeRulesTest = JackEngineTest;

// 32 tracks over the four inputs, every stage of each on, armed, through a
// take with pre- and post-roll and a routing change while rendering.
TEST_F(JackRealtimeRulesTest, RenderCallbackNeitherAllocatesNorLocksOnJacksThread)
{
    selectJackAndConnectTester();
    ASSERT_FALSE(HasFatalFailure());
    std::vector<std::string> ports(32);
    for (size_t t = 0; t < ports.size(); ++t)
        ports[t] = inputs_[t % inputs_.size()];
    engine_->setInputRouting(ports);
    AutomixEngine* automix = engine_->getAutomixEngine();
    automix->setGlobalEnabled(true);
    for (int t = 0; t < 32; ++t) {
        engine_->setTrackHPFEnabled(t, true);
        engine_->setTrackEQEnabled(t, true);
        engine_->setTrackEQBand(t, 1, 900.0f, 4.0f, 1.5f);
        engine_->setTrackLimiterEnabled(t, true);
        engine_->setTrackGain(t, 0.8f);
        automix->setTrackGroup(t, 1 + t % 4);
        engine_->setTrackArmed(t, true);
    }
    engine_->setPrerollDuration(1);
    engine_->setPostrollDuration(1);
    waitSeconds(1.2);

    renderAllocations.store(0);
    renderMutexLocks.store(0);
    const uint64_t cycles = engine_->getRenderCycleCount();
    ASSERT_TRUE(engine_->startRecording());
    waitSeconds(0.5);
    std::reverse(ports.begin(), ports.end());
    engine_->setInputRouting(ports);
    waitSeconds(0.5);
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(engine_->waitForWriterIdle(kWait));
    EXPECT_GT(engine_->getRenderCycleCount(), cycles + 100);
    EXPECT_EQ(renderAllocations.load(), 0);
    EXPECT_EQ(renderMutexLocks.load(), 0);
    EXPECT_EQ(engine_->getLastClosedTakeFiles().size(), 1u);
}

}  // namespace
