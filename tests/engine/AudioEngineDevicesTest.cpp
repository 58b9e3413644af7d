#include "EngineTestSupport.h"

#include "core/ConfigManager.h"

#include <gtest/gtest.h>

namespace {

using Names = std::vector<std::string>;

struct DeviceTableCase {
    const char* title;
    std::vector<VirtualDeviceDescription> devices;
    Names listed;           // getAvailableDevices
    std::string select;     // device to select
    bool selected;
    Names inputNames;
    Names outputNames;
};

VirtualDeviceDescription named(VirtualDeviceDescription device, Names inputs, Names outputs = {})
{
    device.inputChannelNames = std::move(inputs);
    device.outputChannelNames = std::move(outputs);
    return device;
}

VirtualDeviceDescription aggregate(const std::string& name, uint32_t inputs, uint32_t outputs, Names subDevices)
{
    VirtualDeviceDescription device = makeDevice(name, {inputs}, {outputs});
    device.subDeviceUids = std::move(subDevices);
    return device;
}

std::vector<DeviceTableCase> deviceTable()
{
    return {
        {"input-only devices are listed, devices without inputs never",
         {makeDevice("Rec", {2}, {}), makeDevice("Speakers", {}, {2})},
         {"Rec"}, "Speakers", false, {}, {}},
        {"unnamed and \"Unknown\" channels get fallback names",
         {named(makeDevice("Box", {3}, {2}), {"Mic", "", "Unknown"}, {"Unknown"})},
         {"Box"}, "Box", true, {"Mic", "Box Input 2", "Box Input 3"}, {"Box Output 1", "Box Output 2"}},
        {"channels reporting the same name keep both",
         {named(makeDevice("Twin", {2}, {1}), {"Same", "Same"})},
         {"Twin"}, "Twin", true, {"Same", "Same"}, {"Twin Output 1"}},
        {"of two devices with one name the first is selected",
         {named(makeDevice("Dup", {1}, {1}), {"First"}), named(makeDevice("Dup", {1}, {1}), {"Second"})},
         {"Dup", "Dup"}, "Dup", true, {"First"}, {"Dup Output 1"}},
        {"aggregate of a 2-input and a 4-input device names six channels by sub-device",
         {makeDevice("A", {2}, {}), makeDevice("B", {4}, {}), aggregate("Agg", 6, 2, {"A", "B"})},
         {"A", "B", "Agg"}, "Agg", true,
         {"A Ch 1", "A Ch 2", "B Ch 1", "B Ch 2", "B Ch 3", "B Ch 4"}, {"Agg Output 1", "Agg Output 2"}},
        {"aggregate channels beyond its sub-devices get the aggregate's fallback names",
         {named(makeDevice("A", {1}, {1}), {"Left"}), aggregate("Agg", 3, 1, {"A", "missing"})},
         {"A", "Agg"}, "Agg", true, {"Left", "Agg Input 2", "Agg Input 3"}, {"A Ch 1"}},
        {"a name that matches no device selects nothing",
         {makeDevice("Box", {2}, {2})}, {"Box"}, "Bo", false, {}, {}},
    };
}

class DeviceTableTest : public EngineTest {};

TEST_F(DeviceTableTest, ListsNamesAndSelectsAsTheTableSays)
{
    for (const DeviceTableCase& testCase : deviceTable()) {
        SCOPED_TRACE(testCase.title);
        VirtualAudioDescription description;
        description.devices = testCase.devices;
        makeEngine(description);
        EXPECT_EQ(engine_->getAvailableDevices(), testCase.listed);
        EXPECT_EQ(engine_->selectDevice(testCase.select), testCase.selected);
        EXPECT_EQ(engine_->getAvailableInputChannels(), testCase.inputNames);
        EXPECT_EQ(engine_->getAvailableOutputChannels(), testCase.outputNames);
        EXPECT_EQ(engine_->isRunning(), testCase.selected);
        EXPECT_EQ(engine_->getCurrentDeviceName(), testCase.selected ? testCase.select : "");
    }
}

TEST_F(DeviceTableTest, DeviceWithUnreadableNameIsListedAsUnknownButCannotBeSelectedByIt)
{
    const AudioDeviceId box = system_->addDevice(makeDevice("Box", {2}, {2}));
    system_->failCall(VirtualAudioCall::DeviceName, -1, box);
    const Names listed = engine_->getAvailableDevices();
    EXPECT_EQ(listed.back(), "Unknown");
    EXPECT_FALSE(engine_->selectDevice("Unknown"));
    EXPECT_TRUE(logHas("CoreAudio: Device 'Unknown' (ID=" + std::to_string(box) + ") has 2 input channels"));
}

TEST_F(DeviceTableTest, FailedDeviceListGivesNoDevicesAndIsLogged)
{
    system_->failCall(VirtualAudioCall::DeviceList, 1852797029);
    EXPECT_TRUE(engine_->getAvailableDevices().empty());
    EXPECT_TRUE(logHas("CoreAudio: Failed to get device list size: 1852797029"));
}

TEST_F(EngineTest, BuiltInDevicesAreListedWithTheirChannels)
{
    EXPECT_EQ(engine_->getAvailableDevices(), (Names{"Virtual Interface", "Virtual Recorder"}));
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    EXPECT_EQ(engine_->getAvailableInputChannels().size(), 8u);
    EXPECT_EQ(engine_->getAvailableInputChannels()[7], "LTC 25 fps");
    EXPECT_EQ(engine_->getAvailableOutputChannels()[0], "Virtual Interface Output 1");
    EXPECT_TRUE(logHas("CoreAudio: device switched successfully, 8 inputs, 8 outputs"));
}

TEST_F(EngineTest, SelectionIsRefusedUnlessTheWriterIsIdle)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    for (WriterState state : {WriterState::Recording, WriterState::Draining, WriterState::Finalizing}) {
        engine_->setWriterStateForTest(state);
        EXPECT_FALSE(engine_->selectDevice("Virtual Recorder"));
        EXPECT_EQ(engine_->getCurrentDeviceName(), "Virtual Interface");
        EXPECT_TRUE(engine_->isRunning());
    }
    EXPECT_TRUE(logHas("CoreAudio: Refusing device switch while take is recording, draining, or finalizing"));
    engine_->setWriterStateForTest(WriterState::Idle);
    EXPECT_TRUE(engine_->selectDevice("Virtual Recorder"));
}

TEST_F(EngineTest, SetBufferSizeReportsTheSettledSizeAndStoresTheAskedOne)
{
    EXPECT_FALSE(engine_->setBufferSize(128));
    EXPECT_TRUE(logHas("CoreAudio: Cannot set buffer size - no device selected"));
    EXPECT_EQ(ConfigManager::getInstance()->getInt("audio.bufferSize", -1), -1);

    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    ASSERT_TRUE(engine_->setBufferSize(100));
    EXPECT_EQ(engine_->getBufferSize(), 128);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("audio.bufferSize", -1), 100);
    EXPECT_TRUE(engine_->isRunning());
    EXPECT_TRUE(logHas("CoreAudio: Buffer size set to 128"));
    system_->renderBlocks(2, 128);
    EXPECT_EQ(engine_->getRenderCycleCount(), 2u) << "the rebuilt unit renders";
}

TEST_F(EngineTest, BufferSizeChangeIsRefusedUnlessTheWriterIsIdle)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    for (WriterState state : {WriterState::Recording, WriterState::Draining, WriterState::Finalizing}) {
        engine_->setWriterStateForTest(state);
        EXPECT_FALSE(engine_->setBufferSize(512));
        EXPECT_EQ(engine_->getBufferSize(), 256);
        EXPECT_TRUE(engine_->isRunning());
        EXPECT_EQ(ConfigManager::getInstance()->getInt("audio.bufferSize", -1), -1);
    }
    EXPECT_TRUE(logHas("CoreAudio: Refusing buffer size change while take is recording, draining, or finalizing"));
    system_->renderBlocks(2, 256);
    EXPECT_EQ(engine_->getRenderCycleCount(), 2u) << "audio was never stopped";
    engine_->setWriterStateForTest(WriterState::Idle);
    EXPECT_TRUE(engine_->setBufferSize(512));
    EXPECT_EQ(engine_->getBufferSize(), 512);
}

// After a switch the new size must reach the device the unit runs on: for
// an input-only device that is the default output device, not the input.
TEST_F(EngineTest, BufferSizeAfterADeviceSwitchTakesOnTheDeviceTheUnitRunsOn)
{
    struct Case {
        const char* device;
        bool outputFails;
        bool applied;
    };
    const Case cases[] = {
        {"Virtual Recorder", true, false},
        {"Virtual Recorder", false, true},
        {"Virtual Interface", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.device) + (c.outputFails ? ", output device refuses" : ""));
        ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
        ASSERT_TRUE(engine_->setBufferSize(256));
        ASSERT_TRUE(engine_->selectDevice(c.device));
        ASSERT_EQ(engine_->getBufferSize(), 256);
        if (c.outputFails)
            system_->failCall(VirtualAudioCall::SetBufferFrameSize, -50, system_->findDevice("Virtual Output"));
        EXPECT_EQ(engine_->setBufferSize(1024), c.applied);
        system_->clearFailures();
        EXPECT_EQ(engine_->getBufferSize(), c.applied ? 1024 : 256);
        EXPECT_EQ(ConfigManager::getInstance()->getInt("audio.bufferSize", -1), c.applied ? 1024 : 256);
        EXPECT_TRUE(engine_->isRunning());
        const uint64_t before = engine_->getRenderCycleCount();
        system_->renderBlocks(2, static_cast<uint32_t>(engine_->getBufferSize()));
        EXPECT_EQ(engine_->getRenderCycleCount(), before + 2) << "the unit renders at the size reported";
    }
}

TEST_F(EngineTest, RefusedBufferSizeKeepsAudioRunningAndTheConfigurationUntouched)
{
    ASSERT_TRUE(engine_->selectDevice("Virtual Interface"));
    system_->failCall(VirtualAudioCall::SetBufferFrameSize, -50);
    EXPECT_FALSE(engine_->setBufferSize(512));
    EXPECT_TRUE(logHas("CoreAudio: Failed to set buffer size: -50"));
    EXPECT_TRUE(engine_->isRunning());
    EXPECT_EQ(engine_->getBufferSize(), 256);
    EXPECT_EQ(ConfigManager::getInstance()->getInt("audio.bufferSize", -1), -1);
    system_->clearFailures();
    EXPECT_FALSE(engine_->setBufferSize(-5)) << "a negative size is refused, not wrapped";
}

}  // namespace
