#pragma once

#include "platform/usb/UsbSystem.h"

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

// A USB system for tests with at most one attached device. It records every
// control request and pipe write byte for byte, answers pipe reads from a
// script, and can refuse, hold or lose the device at each step.
//
// Threads: every member may be called from any thread. A read with an empty
// script waits for the next scripted reply, its time-out, an abort or an
// unplug.
class VirtualUsbSystem : public UsbSystem {
public:
    // How an interface answers a claim.
    enum class InterfaceState {
        Free,
        HeldByKernel,         // Busy on claim; a seize detaches the driver and succeeds
        HeldSeizeRefused,     // Busy on claim; the seize is refused (AccessDenied)
        Refused,              // AccessDenied on claim and seize
    };

    // One operation as the device saw it, e.g. "control 21 09 0350 0000: 50 00",
    // "write 2: 08 5A 01", "read 1", "seize 0".
    using Log = std::vector<std::string>;

    VirtualUsbSystem();
    ~VirtualUsbSystem() override;

    UsbResult find(uint16_t vendorId, uint16_t productId) override;
    UsbResult open(uint16_t vendorId, uint16_t productId, std::unique_ptr<UsbDevice>& device) override;

    void attach(uint16_t vendorId, uint16_t productId, std::vector<InterfaceState> interfaces);
    // Unplugs the device: a pending read ends with NoDevice, so does every
    // later operation on an open handle.
    void unplug();
    void refuseOpen(bool refuse);
    // A device that answers slowly: each open takes this long (not under
    // the system's lock, so other calls go on meanwhile).
    void setOpenDelay(std::chrono::milliseconds delay);

    // Read replies in order; std::nullopt is a read that gets no answer
    // (it waits its whole time-out).
    void queueReply(std::optional<std::vector<uint8_t>> reply);
    // Blocks until the script is empty and a read waits for more (the reader
    // has handled everything it got), or the device is gone.
    void waitUntilReaderWaits() const;

    Log takeLog();
    Log log() const;
    int openHandleCount() const;

    static std::string hex(const uint8_t* bytes, size_t length);

private:
    struct Shared;
    class Device;
    std::shared_ptr<Shared> shared_;
};
