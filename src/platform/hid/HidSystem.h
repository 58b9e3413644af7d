#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// One HID device the system can see.
struct HidDeviceInfo {
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::string path;  // the system's name for it; what open takes
};

// An open HID device. Input reports arrive with their report ID as the first
// byte (0 for a device without numbered reports).
//
// Threads: readReport is called by one reading thread at a time; close may
// be called from another thread and makes a pending readReport return.
class HidDevice {
public:
    enum class ReadResult { Report, TimedOut, Removed };

    virtual ~HidDevice();

    // Waits at most timeoutMs for the next input report and copies at most
    // capacity bytes of it. Removed: the device is gone (unplugged or closed)
    // and no report will come any more.
    virtual ReadResult readReport(uint8_t* buffer, size_t capacity, size_t& length, int timeoutMs) = 0;
    virtual void close() = 0;
};

// The machine's HID service: the devices present, matched by vendor and
// product id, and opening one of them.
//
// Threads: any thread.
class HidSystem {
public:
    virtual ~HidSystem();

    // The devices with this vendor and product id present now. False with a
    // reason when the system cannot be asked at all.
    virtual bool findDevices(uint16_t vendorId, uint16_t productId, std::vector<HidDeviceInfo>& devices,
                             std::string& error) = 0;
    // Null with a reason when the device cannot be opened.
    virtual std::unique_ptr<HidDevice> open(const HidDeviceInfo& device, std::string& error) = 0;
};

// The HID system every driver uses unless given another: hidapi over hidraw,
// made on first use. Tests put a virtual one in; nullptr goes back.
std::shared_ptr<HidSystem> defaultHidSystem();
void setDefaultHidSystem(std::shared_ptr<HidSystem> system);
