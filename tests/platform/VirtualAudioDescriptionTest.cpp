#include "platform/audio/DefaultAudioSystem.h"
#include "platform/audio/VirtualAudioDescription.h"
#include "platform/audio/VirtualAudioSystem.h"
#include "support/TempHome.h"

#include <QFile>

#include <gtest/gtest.h>

#include <cstdlib>

namespace {

TEST(VirtualAudioDescriptionTest, BuiltInDefaultHasInterfaceRecorderAndDefaultOutput)
{
    const VirtualAudioDescription description = VirtualAudioDescription::builtInDefault();
    ASSERT_EQ(description.devices.size(), 3u);
    const VirtualDeviceDescription& interface = description.devices[0];
    EXPECT_EQ(interface.name, "Virtual Interface");
    EXPECT_EQ(interface.inputChannelCount(), 8u);
    EXPECT_EQ(interface.outputChannelCount(), 8u);
    ASSERT_EQ(interface.inputSignals.size(), 8u);
    EXPECT_EQ(interface.inputSignals[7].kind, VirtualSignal::Kind::Ltc);
    EXPECT_DOUBLE_EQ(interface.inputSignals[7].framesPerSecond, 25.0);
    EXPECT_GT(description.devices[1].inputChannelCount(), 0u);
    EXPECT_EQ(description.devices[1].outputChannelCount(), 0u);
    EXPECT_TRUE(description.devices[2].defaultOutput);
    EXPECT_EQ(description.devices[2].inputChannelCount(), 0u);
}

TEST(VirtualAudioDescriptionTest, ParsesStreamsNamesSignalsAndAggregates)
{
    const std::string json = R"({"devices": [
        {"name": "A", "uid": "a", "inputs": 2, "outputs": 2, "inputNames": ["L", ""]},
        {"name": "B", "inputStreams": [2, 6], "sampleRate": 44100, "bufferFrames": 512,
         "inputSignals": [{"type": "tone", "frequencyHz": 440, "levelDb": -6}, {"type": "ltc", "fps": 25}]},
        {"name": "Agg", "inputs": 4, "subDevices": ["a", "b"], "defaultOutput": true, "outputs": 2}]})";
    VirtualAudioDescription description;
    std::string error;
    ASSERT_TRUE(VirtualAudioDescription::fromJson(json, description, error)) << error;
    ASSERT_EQ(description.devices.size(), 3u);
    EXPECT_EQ(description.devices[0].inputChannelNames, (std::vector<std::string>{"L", ""}));
    EXPECT_EQ(description.devices[1].inputStreams, (std::vector<uint32_t>{2, 6}));
    EXPECT_EQ(description.devices[1].inputChannelCount(), 8u);
    EXPECT_DOUBLE_EQ(description.devices[1].sampleRate, 44100.0);
    EXPECT_EQ(description.devices[1].bufferFrameSize, 512u);
    EXPECT_EQ(description.devices[1].inputSignals[1].kind, VirtualSignal::Kind::Ltc);
    EXPECT_EQ(description.devices[2].subDeviceUids, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(description.devices[2].defaultOutput);
}

TEST(VirtualAudioDescriptionTest, RefusesUnusableDescriptionsWithAReason)
{
    const struct {
        const char* json;
        const char* reasonPart;
    } cases[] = {
        {"not json", "not valid JSON"},
        {R"({"device": []})", "\"devices\""},
        {R"({"devices": [{"name": "X", "inputs": -1}]})", "inputs"},
        {R"({"devices": [{"name": "X", "inputs": 999}]})", "inputs"},
        {R"({"devices": [{"name": "X", "inputStreams": [2, 0]}]})", "inputStreams"},
        {R"({"devices": [{"name": "X", "inputSignals": [{"type": "square"}]}]})", "square"},
        {R"({"devices": [{"name": "X", "inputSignals": [{"type": "tone", "levelDb": 6}]}]})", "level"},
        {R"({"devices": [{"name": "X", "sampleRate": 0}]})", "sampleRate"},
        {R"({"devices": [{"name": "X", "bufferFrames": 0}]})", "bufferFrames"},
        {R"({"devices": [3]})", "device 1"},
    };
    for (const auto& testCase : cases) {
        VirtualAudioDescription description;
        std::string error;
        EXPECT_FALSE(VirtualAudioDescription::fromJson(testCase.json, description, error)) << testCase.json;
        EXPECT_NE(error.find(testCase.reasonPart), std::string::npos) << testCase.json << " -> " << error;
    }
}

class DefaultAudioSystemTest : public TempHomeTest {
protected:
    void TearDown() override { unsetenv(kVirtualAudioEnvironmentVariable); }

    std::string writeFile(const std::string& text)
    {
        const std::string path = home_.pathStd() + "/devices.json";
        QFile file(QString::fromStdString(path));
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(text.c_str());
        return path;
    }

    static std::vector<std::string> deviceNames(AudioSystem& system)
    {
        std::vector<AudioDeviceId> ids;
        EXPECT_EQ(system.getDeviceIds(ids), kAudioOk);
        std::vector<std::string> names;
        for (AudioDeviceId id : ids) {
            std::string name;
            system.getDeviceName(id, name);
            names.push_back(name);
        }
        return names;
    }
};

TEST_F(DefaultAudioSystemTest, UsesTheFileNamedByTheEnvironment)
{
    setenv(kVirtualAudioEnvironmentVariable,
           writeFile(R"({"devices": [{"name": "Desk", "inputs": 2, "outputs": 2}]})").c_str(), 1);
    const std::shared_ptr<AudioSystem> system = createDefaultAudioSystem();
    EXPECT_EQ(deviceNames(*system), (std::vector<std::string>{"Desk"}));
}

TEST_F(DefaultAudioSystemTest, FallsBackToBuiltInDevicesAndLogsWhy)
{
    setenv(kVirtualAudioEnvironmentVariable, writeFile("{broken").c_str(), 1);
    const std::shared_ptr<AudioSystem> system = createDefaultAudioSystem();
    EXPECT_EQ(deviceNames(*system),
              (std::vector<std::string>{"Virtual Interface", "Virtual Recorder", "Virtual Output"}));
    EXPECT_NE(home_.logText().find("using the built-in devices"), std::string::npos);
}

}  // namespace
