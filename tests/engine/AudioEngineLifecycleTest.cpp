#include "EngineTestSupport.h"

#include "engine/AudioEngineFactory.h"

#include <gtest/gtest.h>

namespace {

TEST(AudioEngineFactoryTest, NamesTypesAndAlwaysBuildsTheCoreAudioEngine)
{
    const struct {
        int type;
        const char* name;
    } cases[] = {{2, "CoreAudio"}, {0, "Unknown"}, {1, "Unknown"}, {3, "Unknown"}, {-1, "Unknown"}};
    for (const auto& testCase : cases) {
        EXPECT_EQ(AudioEngineFactory::getTypeName(static_cast<AudioEngineFactory::EngineType>(testCase.type)),
                  testCase.name);
    }
    EXPECT_EQ(AudioEngineFactory::getDefaultType(), 2);
    EXPECT_EQ(AudioEngineFactory::getAvailableTypes(), std::vector<AudioEngineFactory::EngineType>{AudioEngineFactory::CoreAudio});
}

TEST(AudioEngineFactoryTest, ProductionEngineHoldsSixtySecondsOfRingAndOpensNoDevice)
{
    TempHome home;
    const std::unique_ptr<AudioEngineBase> engine =
        AudioEngineFactory::create(static_cast<AudioEngineFactory::EngineType>(7));
    auto* coreAudio = dynamic_cast<AudioEngine_CoreAudio*>(engine.get());
    ASSERT_NE(coreAudio, nullptr);
    EXPECT_EQ(coreAudio->getRecordingRingCapacityFrames(), 2880000);
    EXPECT_FALSE(engine->isInitialized());
    EXPECT_TRUE(engine->initialize());
    EXPECT_TRUE(engine->getCurrentDeviceName().empty());
    EXPECT_FALSE(engine->isRunning());
    engine->shutdown();
}

TEST_F(EngineTest, InitializeTwiceAndShutdownTwiceAreHarmless)
{
    EXPECT_TRUE(engine_->isInitialized());
    EXPECT_TRUE(engine_->initialize());
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    engine_->shutdown();
    EXPECT_FALSE(engine_->isInitialized());
    EXPECT_FALSE(engine_->isRunning());
    EXPECT_FALSE(engine_->isUnitStarted());
    const std::string afterFirst = home_.logText();
    engine_->shutdown();
    EXPECT_EQ(home_.logText(), afterFirst) << "a second shutdown does nothing";
    EXPECT_NE(afterFirst.find("CoreAudio: Shutting down audio engine"), std::string::npos);
    system_->renderBlocks(2, 64);
    EXPECT_EQ(engine_->getRenderCycleCount(), 0u) << "nothing renders after shutdown";
}

TEST_F(EngineTest, StartAndStopFollowTheUnit)
{
    EXPECT_FALSE(engine_->start()) << "no unit";
    EXPECT_FALSE(engine_->stop()) << "no unit";
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    ASSERT_TRUE(engine_->stop());
    EXPECT_FALSE(engine_->isRunning());
    const std::string afterStop = home_.logText();
    EXPECT_TRUE(engine_->stop());
    EXPECT_EQ(home_.logText(), afterStop) << "stopping a stopped unit logs nothing";
    system_->failCall(VirtualAudioCall::UnitStart, -66, kNoAudioDevice, 1);
    EXPECT_FALSE(engine_->start());
    EXPECT_TRUE(logHas("CoreAudio: Failed to start audio: -66"));
    EXPECT_TRUE(engine_->start());
    EXPECT_TRUE(engine_->isRunning());
}

TEST_F(EngineTest, SelectionStartsRenderingAndUnplugStopsItWithOneWriteError)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    EXPECT_TRUE(engine_->isRunning());
    system_->renderBlocks(3, 256);
    EXPECT_EQ(engine_->getRenderCycleCount(), 3u);

    system_->notifyAliveUnchanged(system_->findDevice("Virtual Interface"));
    system_->waitForNotifications();
    EXPECT_TRUE(engine_->isRunning()) << "an alive notification changes nothing";
    EXPECT_EQ(engine_->getWriteErrors(), 0);

    const AudioDeviceId interface = system_->findDevice("Virtual Interface");
    ASSERT_TRUE(system_->unplugDevice(interface));
    system_->waitForNotifications();
    EXPECT_FALSE(engine_->isRunning());
    EXPECT_EQ(engine_->getWriteErrors(), 1);
    EXPECT_TRUE(logHas("CoreAudio: Device " + std::to_string(interface)
                       + " (Virtual Interface) is no longer alive - audio stopped"));
    EXPECT_TRUE(engine_->selectDevice("Virtual Recorder")) << "the user selects another device";
    EXPECT_TRUE(engine_->isRunning());
}

struct SetupFailureCase {
    VirtualAudioCall call;
    bool selected;
    bool running;
    const char* logLine;
};

TEST_F(EngineTest, SetUpFailuresAreLoggedAndOnlyFatalOnesFailTheSelection)
{
    const SetupFailureCase cases[] = {
        {VirtualAudioCall::CreateOutputUnit, false, false, "CoreAudio: Failed to create Audio Unit instance: -7"},
        {VirtualAudioCall::UnitInitialize, false, false, "CoreAudio: Failed to initialize Audio Unit: -7"},
        {VirtualAudioCall::UnitStart, true, false, "CoreAudio: Failed to start audio unit: -7"},
        {VirtualAudioCall::UnitSetFormat, true, true, "CoreAudio: Failed to set input format: -7"},
        {VirtualAudioCall::UnitSetRenderCallback, true, true, "CoreAudio: Failed to set render callback: -7"},
    };
    for (const SetupFailureCase& testCase : cases) {
        SCOPED_TRACE(testCase.logLine);
        makeEngine(VirtualAudioDescription::builtInDefault());
        system_->failCall(testCase.call, -7);
        EXPECT_EQ(engine_->selectDevice("Virtual Interface"), testCase.selected);
        EXPECT_EQ(engine_->isRunning(), testCase.running);
        EXPECT_TRUE(logHas(testCase.logLine));
        if (!testCase.selected) {
            EXPECT_TRUE(logHas("CoreAudio: setupAudioUnit failed!"));
        }
    }
}

}  // namespace
