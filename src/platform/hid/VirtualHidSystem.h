#pragma once

#include "platform/hid/HidSystem.h"

#include <condition_variable>
#include <deque>
#include <map>
#include <memory>
#include <mutex>

// A HID system for tests: devices are attached and detached by hand, input
// reports of any length are injected from any thread, and the next opens can
// be made to fail.
//
// Threads: every member may be called from any thread. A device's reports
// queue up until its reader takes them; detaching wakes the reader, which
// then sees the device removed.
class VirtualHidSystem : public HidSystem {
public:
    VirtualHidSystem();
    ~VirtualHidSystem() override;

    bool findDevices(uint16_t vendorId, uint16_t productId, std::vector<HidDeviceInfo>& devices,
                     std::string& error) override;
    std::unique_ptr<HidDevice> open(const HidDeviceInfo& device, std::string& error) override;

    // Returns the new device's path.
    std::string attach(uint16_t vendorId, uint16_t productId);
    // Unplugs: the device disappears from the list and its open handles see
    // it removed. False for an unknown path.
    bool detach(const std::string& path);
    // Queues one input report (report ID first) for every open handle of the
    // device. False when the device is not attached.
    bool inject(const std::string& path, std::vector<uint8_t> report);
    // A report every new handle of the device finds queued at once, as a
    // surface that sends its state when opened; empty for none.
    void setReportOnOpen(const std::string& path, std::vector<uint8_t> report);
    // The next count opens fail with this reason.
    void failOpens(int count, std::string reason);
    // The handles of the device that are open now.
    int openHandleCount(const std::string& path) const;
    // Blocks until every queued report of the device was handled: its reader
    // took it and came back for the next one (or the handle went away).
    void waitUntilDrained(const std::string& path) const;

    // Makes findDevices fail, as a system that cannot be asked.
    void failEnumeration(bool fail);

private:
    struct Shared;
    class Device;
    std::shared_ptr<Shared> shared_;
};
