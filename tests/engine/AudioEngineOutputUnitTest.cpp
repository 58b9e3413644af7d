#include "EngineTestSupport.h"

#include <gtest/gtest.h>

#include <chrono>

namespace {

using namespace std::chrono_literals;

std::vector<float> ramp(size_t frames, float start)
{
    std::vector<float> samples(frames);
    for (size_t i = 0; i < frames; ++i)
        samples[i] = start + static_cast<float>(i) * 1e-4f;
    return samples;
}

std::vector<float> inputBlock(const AudioEngine_CoreAudio& engine, int channel, size_t frames)
{
    const float* block = engine.getInputChannelBlock(channel);
    return block == nullptr ? std::vector<float>{} : std::vector<float>(block, block + frames);
}

TEST_F(EngineTest, PulledInputReachesTheRenderCallbackForEveryChannel)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    const AudioDeviceId interface = system_->findDevice("Virtual Interface");
    for (uint32_t channel = 0; channel < 8; ++channel)
        system_->feedInput(interface, channel, ramp(64, static_cast<float>(channel)));
    system_->renderBlocks(1, 64);
    EXPECT_FALSE(engine_->isDirectCaptureActive()) << "a device with outputs is not captured directly";
    for (int channel = 0; channel < 8; ++channel)
        EXPECT_EQ(inputBlock(*engine_, channel, 64), ramp(64, static_cast<float>(channel))) << channel;
    const auto outputs = system_->takeOutput(interface);
    ASSERT_EQ(outputs.size(), 8u);
    EXPECT_EQ(outputs[0], std::vector<float>(64, 0.0f)) << "outputs are cleared, never left undefined";
}

TEST_F(EngineTest, CallbacksOfNoFramesOrMoreThanTheLargestBlockStayInsideTheBuffers)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    const AudioDeviceId interface = system_->findDevice("Virtual Interface");
    const std::vector<float> fed = ramp(10000, 0.5f);
    system_->feedInput(interface, 0, fed);
    system_->renderBlocks(1, 0);
    system_->renderBlocks(1, 10000);
    EXPECT_EQ(engine_->getRenderCycleCount(), 2u);
    EXPECT_EQ(inputBlock(*engine_, 0, 8192), std::vector<float>(fed.begin(), fed.begin() + 8192))
        << "the block's first 8192 frames were pulled";
    const auto outputs = system_->takeOutput(interface);
    EXPECT_EQ(outputs[0], std::vector<float>(10000, 0.0f));
}

TEST_F(EngineTest, InputOnlyDeviceIsCapturedDirectlyAndDeInterleavedByChannel)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
    EXPECT_TRUE(logHas("CoreAudio: Device 'Virtual Recorder' is input-only"));
    EXPECT_TRUE(logHas("CoreAudio: Output device set: Virtual Output"));
    EXPECT_TRUE(logHas("CoreAudio: Direct input capture started successfully (4 channels via ring buffer)"));
    EXPECT_TRUE(engine_->isDirectCaptureActive());
    EXPECT_EQ(engine_->getDirectCaptureChannelCount(), 4);
    EXPECT_EQ(engine_->getAvailableOutputChannels(), (std::vector<std::string>{"Left", "Right"}));

    const AudioDeviceId recorder = system_->findDevice("Virtual Recorder");
    for (uint32_t channel = 0; channel < 4; ++channel)
        system_->feedInput(recorder, channel, ramp(256, static_cast<float>(channel + 1)));
    system_->renderBlocks(1, 256);
    for (int channel = 0; channel < 4; ++channel)
        EXPECT_EQ(inputBlock(*engine_, channel, 256), ramp(256, static_cast<float>(channel + 1))) << channel;
    EXPECT_EQ(system_->takeOutput(system_->findDevice("Virtual Output")).at(0).size(), 256u)
        << "the unit renders on the default output device";
    EXPECT_EQ(engine_->getDroppedSamples(), 0);
}

// A device selected before the first initialize keeps rendering through it,
// and shutting down still stops and destroys its capture: no capture cycle
// may reach the engine after it is gone.
TEST_F(EngineTest, DeviceSelectedBeforeInitializeIsReleasedAtShutdown)
{
    engine_ = std::make_unique<TestableEngine>(system_, 1);
    ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
    ASSERT_EQ(system_->ioProcCount(), 1u);
    engine_->initialize();
    EXPECT_TRUE(engine_->isDirectCaptureActive());
    EXPECT_EQ(engine_->getCurrentDeviceName(), "Virtual Recorder");
    const AudioDeviceId recorder = system_->findDevice("Virtual Recorder");
    system_->feedInput(recorder, 0, ramp(256, 1.0f));
    system_->renderBlocks(1, 256);
    EXPECT_EQ(inputBlock(*engine_, 0, 256), ramp(256, 1.0f));

    engine_->shutdown();
    EXPECT_EQ(system_->ioProcCount(), 0u);
    EXPECT_FALSE(logHas("Failed to stop direct input capture"));
    engine_.reset();
    system_->renderBlocks(2, 256);
}

TEST_F(EngineTest, CaptureDriftIsCountedAsOverflowOrUnderrun)
{
    const struct {
        double driftPpm;
        bool expectOverflow;
        bool expectUnderrun;
    } cases[] = {{0.0, false, false}, {+50000.0, true, false}, {-50000.0, false, true}};
    for (const auto& testCase : cases) {
        SCOPED_TRACE(testCase.driftPpm);
        makeEngine(VirtualAudioDescription::builtInDefault());
        ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
        system_->setCaptureDriftPpm(system_->findDevice("Virtual Recorder"), testCase.driftPpm);
        system_->renderBlocks(400, 256);
        EXPECT_EQ(engine_->getDirectCaptureOverflowFrames() > 0, testCase.expectOverflow);
        EXPECT_EQ(engine_->getDirectCaptureUnderrunFrames() > 0, testCase.expectUnderrun);
        const int64_t dropped = engine_->getDroppedSamples();
        EXPECT_EQ(dropped, engine_->getDirectCaptureOverflowFrames() + engine_->getDirectCaptureUnderrunFrames());
        // A new buffer size rebuilds the unit and its capture; the health
        // counter a take's alarm watches must not go down with it.
        ASSERT_TRUE(engine_->setBufferSize(512));
        EXPECT_EQ(engine_->getDirectCaptureOverflowFrames() + engine_->getDirectCaptureUnderrunFrames(), 0);
        EXPECT_EQ(engine_->getDroppedSamples(), dropped);
    }
}

TEST_F(EngineTest, ReaderFiveBlocksBehindSkipsOneBlockAndPlaysFromFourBlocksBehind)
{
    VirtualAudioDescription description;
    VirtualDeviceDescription recorder = makeDevice("Rec", {1}, {});
    recorder.bufferFrameSize = 64;
    VirtualDeviceDescription output = makeDevice("Out", {}, {2});
    output.defaultOutput = true;
    description.devices = {recorder, output};
    makeEngine(description);
    ASSERT_TRUE(engine_->selectDevice("Rec"));
    const AudioDeviceId rec = system_->findDevice("Rec");
    const std::vector<float> fed = ramp(1024, 0.0f);
    system_->feedInput(rec, 0, fed);
    // The capture clock runs five times as fast: five 64-frame cycles arrive
    // before the first 64-frame block is rendered.
    system_->setCaptureDriftPpm(rec, 4'000'000.0);
    system_->renderBlocks(1, 64);
    EXPECT_EQ(engine_->getDirectCaptureOverflowFrames(), 64);
    EXPECT_EQ(engine_->getDirectCaptureUnderrunFrames(), 0);
    EXPECT_EQ(inputBlock(*engine_, 0, 64), std::vector<float>(fed.begin() + 64, fed.begin() + 128));
}

// More than a ring arrives before the render callback reads: the capture
// never overwrites frames the callback has not read, it drops what does not
// fit; the callback then skips to four blocks behind the last frame kept.
// Every lost frame is counted once: all but the four blocks kept.
TEST_F(EngineTest, CaptureBeyondTheRingDropsTheNewestAndCountsEveryLostFrame)
{
    VirtualAudioDescription description;
    VirtualDeviceDescription recorder = makeDevice("Rec", {1}, {});
    recorder.bufferFrameSize = 64;
    VirtualDeviceDescription output = makeDevice("Out", {}, {2});
    output.defaultOutput = true;
    description.devices = {recorder, output};
    makeEngine(description);
    ASSERT_TRUE(engine_->selectDevice("Rec"));
    const AudioDeviceId rec = system_->findDevice("Rec");
    constexpr size_t kArrived = 300 * 64;  // 300 capture cycles before one 64-frame block
    const std::vector<float> fed = ramp(kArrived, 0.0f);
    system_->feedInput(rec, 0, fed);
    system_->setCaptureDriftPpm(rec, 299'000'000.0);
    system_->renderBlocks(1, 64);
    const size_t ringFrames = AudioEngine_CoreAudio::kDirectCaptureRingFrames;
    EXPECT_EQ(engine_->getDirectCaptureOverflowFrames(), static_cast<int64_t>(kArrived - 4 * 64));
    EXPECT_EQ(engine_->getDirectCaptureUnderrunFrames(), 0);
    EXPECT_EQ(inputBlock(*engine_, 0, 64),
              std::vector<float>(fed.begin() + (ringFrames - 256), fed.begin() + (ringFrames - 192)));
}

TEST_F(EngineTest, InputOnlyDeviceAtAnotherRateIsRefusedWithAClearLine)
{
    VirtualAudioDescription description = VirtualAudioDescription::builtInDefault();
    description.devices[1].sampleRate = 44100.0;
    makeEngine(description);
    ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
    EXPECT_TRUE(logHas("CoreAudio: Direct input capture refused: 'Virtual Recorder' runs at 44100 Hz, the engine "
                       "records at 48000 Hz"));
    EXPECT_TRUE(logHas("CoreAudio: Warning - Failed to set up direct input capture"));
    EXPECT_FALSE(engine_->isDirectCaptureActive());
    EXPECT_TRUE(engine_->isRunning()) << "outputs keep working; the inputs are silent";
    system_->renderBlocks(2, 256);
    EXPECT_EQ(inputBlock(*engine_, 0, 256), std::vector<float>(256, 0.0f));
}

TEST_F(EngineTest, FailedDirectCaptureLeavesTheUnitRunningWithSilentInputs)
{
    system_->failCall(VirtualAudioCall::CreateIOProc, -3);
    ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
    EXPECT_TRUE(logHas("CoreAudio: Failed to create IOProc: -3"));
    EXPECT_FALSE(engine_->isDirectCaptureActive());
    EXPECT_TRUE(engine_->isRunning());
    system_->renderBlocks(1, 256);
    EXPECT_EQ(inputBlock(*engine_, 3, 256), std::vector<float>(256, 0.0f));
}

// The input-only device is lost while the unit keeps rendering on the default
// output: running is false, the unit is still started, and an object the
// callback may hold is freed only after two more blocks, without the GUI
// thread waiting for them.
TEST_F(EngineTest, LostInputOnlyDeviceKeepsTheUnitStartedAndRetiresAfterTwoBlocks)
{
    makeEngine(VirtualAudioDescription::builtInDefault(), VirtualAudioSystem::Mode::RealTime);
    ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
    system_->unplugDevice(system_->findDevice("Virtual Recorder"));
    system_->waitForNotifications();
    EXPECT_FALSE(engine_->isRunning());
    EXPECT_TRUE(engine_->isUnitStarted());
    const uint64_t cycles = system_->renderCycleCount();
    EXPECT_TRUE(system_->waitForRenderCycles(cycles + 2, 10s)) << "the default output keeps rendering";

    auto object = std::make_shared<int>(1);
    std::weak_ptr<int> watch = object;
    engine_->retireAfterTwoRenderCycles(std::move(object));
    const uint64_t retiredAt = system_->renderCycleCount();
    ASSERT_TRUE(system_->waitForRenderCycles(retiredAt + 3, 10s));
    engine_->releaseDueRetiredObjects();  // what the dead-wood timer does
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(engine_->retiredObjectCount(), 0u);
}

// Stepped: the object outlives the blocks that may hold it and goes with the
// next publish after them, whichever object that publish retires.
TEST_F(EngineTest, RetiredSnapshotGoesWithALaterPublishOnceTwoBlocksRan)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    ASSERT_TRUE(engine_->isUnitStarted());
    auto object = std::make_shared<int>(1);
    std::weak_ptr<int> watch = object;
    engine_->retireAfterTwoRenderCycles(std::move(object));
    system_->renderBlocks(1, 256);
    engine_->releaseDueRetiredObjects();
    EXPECT_FALSE(watch.expired()) << "one block after the retire a block may still hold it";
    system_->renderBlocks(1, 256);
    engine_->setInputRouting({});  // publishes a snapshot and retires the old one
    EXPECT_TRUE(watch.expired());
    EXPECT_EQ(engine_->retiredObjectCount(), 1u) << "the snapshot just replaced waits for its own two blocks";
}

TEST_F(EngineTest, ObjectRetiredWhileTheUnitCannotRenderIsKeptUntilTheUnitStops)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    system_->unplugDevice(system_->findDevice("Virtual Interface"));
    system_->waitForNotifications();
    EXPECT_FALSE(engine_->isRunning());
    EXPECT_TRUE(engine_->isUnitStarted());

    auto object = std::make_shared<int>(1);
    std::weak_ptr<int> watch = object;
    engine_->retireAfterTwoRenderCycles(std::move(object));
    EXPECT_FALSE(watch.expired()) << "a block could still begin with it";
    ASSERT_TRUE(engine_->stop());
    EXPECT_FALSE(engine_->isUnitStarted());
    EXPECT_TRUE(watch.expired());

    auto another = std::make_shared<int>(2);
    std::weak_ptr<int> watchAnother = another;
    engine_->retireAfterTwoRenderCycles(std::move(another));
    EXPECT_TRUE(watchAnother.expired()) << "with the unit stopped it goes at once";
}

}  // namespace

namespace {

TEST_F(EngineTest, RealTimeDeviceSwitchesAndBufferChangesKeepRendering)
{
    makeEngine(VirtualAudioDescription::builtInDefault(), VirtualAudioSystem::Mode::RealTime);
    const auto renders = [this] {
        const uint64_t cycles = engine_->getRenderCycleCount();
        const uint64_t systemCycles = system_->renderCycleCount();
        return system_->waitForRenderCycles(systemCycles + 3, 10s) && engine_->getRenderCycleCount() > cycles;
    };
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    EXPECT_TRUE(renders());
    ASSERT_TRUE(engine_->setBufferSize(512));
    EXPECT_EQ(engine_->getBufferSize(), 512);
    EXPECT_TRUE(renders());
    ASSERT_TRUE(engine_->selectDevice("Virtual Recorder"));
    EXPECT_TRUE(renders());
    ASSERT_TRUE(engine_->setBufferSize(128));
    EXPECT_TRUE(renders());
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    EXPECT_TRUE(renders());
    engine_->shutdown();
    EXPECT_FALSE(engine_->isUnitStarted());
}

}  // namespace
