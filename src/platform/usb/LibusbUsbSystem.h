#pragma once

#include "platform/usb/UsbSystem.h"

struct libusb_context;

// The USB system on libusb-1.0 (usbfs). Opening needs write access to the
// device's /dev/bus/usb node; seizing detaches the kernel's driver from the
// interface (usbhid for a HID-class surface).
class LibusbUsbSystem : public UsbSystem {
public:
    LibusbUsbSystem();
    // Tests: a libusb that could not start.
    struct NotStarted {};
    explicit LibusbUsbSystem(NotStarted);
    ~LibusbUsbSystem() override;

    UsbResult find(uint16_t vendorId, uint16_t productId) override;
    UsbResult open(uint16_t vendorId, uint16_t productId, std::unique_ptr<UsbDevice>& device) override;

private:
    libusb_context* context_ = nullptr;
    std::string startError_;
};
