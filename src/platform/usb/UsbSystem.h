#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

// What a USB operation came to, with a readable reason beside anything but Ok.
enum class UsbStatus {
    Ok,
    NotFound,       // no such device, or it is not attached
    Busy,           // another driver (the kernel's) holds the interface
    AccessDenied,   // the user may not open or claim it
    TimedOut,
    Aborted,        // abortPipes ended the transfer
    NoDevice,       // unplugged while open
    NotStarted,     // the USB library could not start
    Failed,         // any other error
};

struct UsbResult {
    UsbStatus status = UsbStatus::Ok;
    std::string reason;

    bool ok() const { return status == UsbStatus::Ok; }
    static UsbResult success() { return {}; }
};

const char* usbStatusName(UsbStatus status);

// One control request on the default pipe.
struct UsbControlRequest {
    uint8_t requestType = 0;
    uint8_t request = 0;
    uint16_t value = 0;
    uint16_t index = 0;
};

// An open USB device. Pipes are numbered from 1 in the order of the claimed
// interface's endpoints.
//
// Threads: the owner opens, claims and closes; one other thread may write
// and read pipes meanwhile. abortPipes may be called from any thread: a
// pending read or write ends at once with Aborted, and every later one too.
class UsbDevice {
public:
    virtual ~UsbDevice();

    virtual UsbResult setConfiguration(int configuration) = 0;
    virtual int interfaceCount() = 0;
    // Busy when a kernel driver holds it; seizeInterface detaches that
    // driver first, then claims.
    virtual UsbResult claimInterface(int interfaceIndex) = 0;
    virtual UsbResult seizeInterface(int interfaceIndex) = 0;
    virtual void releaseInterface() = 0;
    virtual UsbResult controlTransfer(const UsbControlRequest& request, const uint8_t* data, size_t length,
                                      int timeoutMs) = 0;
    virtual UsbResult writePipe(int pipe, const uint8_t* data, size_t length, int timeoutMs) = 0;
    virtual UsbResult readPipe(int pipe, uint8_t* buffer, size_t capacity, size_t& received, int timeoutMs) = 0;
    virtual void abortPipes() = 0;
};

// The machine's USB service: lookup by vendor and product id and opening.
//
// Threads: any thread.
class UsbSystem {
public:
    virtual ~UsbSystem();

    // Ok when at least one such device is attached; NotFound when none;
    // NotStarted when the USB library cannot start.
    virtual UsbResult find(uint16_t vendorId, uint16_t productId) = 0;
    virtual UsbResult open(uint16_t vendorId, uint16_t productId, std::unique_ptr<UsbDevice>& device) = 0;
};

// The USB system every driver uses unless given another: libusb-1.0, made on
// first use. Tests put a virtual one in; nullptr goes back.
std::shared_ptr<UsbSystem> defaultUsbSystem();
void setDefaultUsbSystem(std::shared_ptr<UsbSystem> system);
