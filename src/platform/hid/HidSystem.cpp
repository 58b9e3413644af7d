#include "platform/hid/HidSystem.h"

#include "platform/hid/HidapiHidSystem.h"

#include <mutex>

HidDevice::~HidDevice() = default;
HidSystem::~HidSystem() = default;

namespace {

std::mutex defaultMutex;
std::shared_ptr<HidSystem> defaultSystem;

}  // namespace

std::shared_ptr<HidSystem> defaultHidSystem()
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    if (!defaultSystem)
        defaultSystem = std::make_shared<HidapiHidSystem>();
    return defaultSystem;
}

void setDefaultHidSystem(std::shared_ptr<HidSystem> system)
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    defaultSystem = std::move(system);
}
