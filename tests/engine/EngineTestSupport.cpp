#include "EngineTestSupport.h"

VirtualDeviceDescription makeDevice(const std::string& name, std::vector<uint32_t> inputStreams,
                                    std::vector<uint32_t> outputStreams)
{
    VirtualDeviceDescription device;
    device.name = name;
    device.uid = name;
    device.inputStreams = std::move(inputStreams);
    device.outputStreams = std::move(outputStreams);
    return device;
}

void EngineTest::SetUp()
{
    makeEngine(VirtualAudioDescription::builtInDefault());
}

void EngineTest::TearDown()
{
    engine_.reset();
    system_.reset();
}

void EngineTest::makeEngine(const VirtualAudioDescription& description, VirtualAudioSystem::Mode mode,
                            int ringSeconds)
{
    engine_.reset();
    system_ = std::make_shared<VirtualAudioSystem>(mode, description);
    engine_ = std::make_unique<TestableEngine>(system_, ringSeconds);
    engine_->initialize();
}
