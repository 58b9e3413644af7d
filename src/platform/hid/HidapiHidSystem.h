#pragma once

#include "platform/hid/HidSystem.h"

// The HID system on hidapi's hidraw backend: the kernel's hidraw nodes, which
// deliver numbered input reports with the report ID first. A device needs
// read access to its /dev/hidraw node (a udev rule gives it to the user).
class HidapiHidSystem : public HidSystem {
public:
    HidapiHidSystem();
    ~HidapiHidSystem() override;

    bool findDevices(uint16_t vendorId, uint16_t productId, std::vector<HidDeviceInfo>& devices,
                     std::string& error) override;
    std::unique_ptr<HidDevice> open(const HidDeviceInfo& device, std::string& error) override;

private:
    bool started_ = false;
};
