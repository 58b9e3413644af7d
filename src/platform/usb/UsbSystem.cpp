#include "platform/usb/UsbSystem.h"

#include "platform/usb/LibusbUsbSystem.h"

#include <mutex>

UsbDevice::~UsbDevice() = default;
UsbSystem::~UsbSystem() = default;

const char* usbStatusName(UsbStatus status)
{
    switch (status) {
    case UsbStatus::Ok: return "ok";
    case UsbStatus::NotFound: return "not found";
    case UsbStatus::Busy: return "busy";
    case UsbStatus::AccessDenied: return "access denied";
    case UsbStatus::TimedOut: return "timed out";
    case UsbStatus::Aborted: return "aborted";
    case UsbStatus::NoDevice: return "no device";
    case UsbStatus::NotStarted: return "not started";
    case UsbStatus::Failed: return "failed";
    }
    return "unknown";
}

namespace {

std::mutex defaultMutex;
std::shared_ptr<UsbSystem> defaultSystem;

}  // namespace

std::shared_ptr<UsbSystem> defaultUsbSystem()
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    if (!defaultSystem)
        defaultSystem = std::make_shared<LibusbUsbSystem>();
    return defaultSystem;
}

void setDefaultUsbSystem(std::shared_ptr<UsbSystem> system)
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    defaultSystem = std::move(system);
}
