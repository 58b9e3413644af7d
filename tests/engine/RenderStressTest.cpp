#include "EngineTestSupport.h"

#include "engine/render/AutomixEngine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <map>

namespace {

using namespace std::chrono_literals;
using RenderStressTest = EngineTest;

// The GUI side republishes routing and changes every strip setting while the
// device renders in real time; run under the tsan and asan presets too.
TEST_F(RenderStressTest, RoutingAndStripChangesWhileRenderingInRealTime)
{
    makeEngine(VirtualAudioDescription::builtInDefault(), VirtualAudioSystem::Mode::RealTime);
    system_->setOutputCaptureEnabled(true);
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    ASSERT_TRUE(engine_->setBufferSize(64));
    const std::vector<std::string> inputs = engine_->getAvailableInputChannels();
    const std::vector<std::string> outputs = engine_->getAvailableOutputChannels();
    AutomixEngine* automix = engine_->getAutomixEngine();
    automix->setGlobalEnabled(true);
    for (int t = 0; t < 32; ++t)
        engine_->armTrackForTest(t, true);

    const uint64_t startCycles = engine_->getRenderCycleCount();
    for (int round = 0; round < 60; ++round) {
        std::vector<std::string> ports(32);
        std::vector<std::vector<std::string>> direct(32);
        for (int t = 0; t < 32; ++t) {
            ports[static_cast<size_t>(t)] = (t + round) % 9 == 8 ? "LTCGEN" : inputs[static_cast<size_t>((t + round) % 8)];
            direct[static_cast<size_t>(t)] = {outputs[static_cast<size_t>((t * 3 + round) % 8)]};
        }
        engine_->setInputRouting(ports);
        engine_->applyOutputRouting(direct, std::vector<std::map<std::string, bool>>(32), outputs, {},
                                    {outputs[static_cast<size_t>(round % 8)]}, {outputs[7]}, {});
        const int t = round % 32;
        const float shade = static_cast<float>(round % 7) / 7.0f;
        engine_->setTrackGain(t, 0.2f + shade);
        engine_->setTrackDigitalGain(t, -6.0f + 12.0f * shade);
        engine_->setTrackHPFEnabled(t, round % 2 == 0);
        engine_->setTrackHPFFrequency(t, 40.0f + 400.0f * shade);
        engine_->setTrackEQEnabled(t, round % 3 != 0);
        engine_->setTrackEQBand(t, round % 3, 200.0f + 4000.0f * shade, -12.0f + 24.0f * shade, 0.5f + shade);
        engine_->setTrackLimiterEnabled(t, round % 4 != 0);
        engine_->setTrackLimiterThreshold(t, -20.0f * shade);
        automix->setTrackGroup(t, round % 5);
        engine_->armTrackForTest((t + 7) % 32, round % 3 != 0);
    }
    EXPECT_TRUE(system_->waitForRenderCycles(system_->renderCycleCount() + 4, 10s));
    EXPECT_GT(engine_->getRenderCycleCount(), startCycles + 60) << "every publish waited for blocks";

    const auto out = system_->takeOutput(system_->findDevice("Virtual Interface"));
    ASSERT_FALSE(out.empty());
    size_t samples = 0;
    for (const std::vector<float>& channel : out) {
        for (const float s : channel) {
            ASSERT_TRUE(std::isfinite(s));
            ++samples;
        }
    }
    EXPECT_GT(samples, 0u);
    engine_->shutdown();
}

}  // namespace
