#include "platform/usb/LibusbUsbSystem.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <vector>

namespace {

// A long transfer is cut into slices so abortPipes ends it within one slice.
constexpr int kSliceMs = 50;

UsbResult fromLibusb(int code, const std::string& what)
{
    if (code >= 0)
        return UsbResult::success();
    UsbStatus status = UsbStatus::Failed;
    switch (code) {
    case LIBUSB_ERROR_NOT_FOUND: status = UsbStatus::NotFound; break;
    case LIBUSB_ERROR_BUSY: status = UsbStatus::Busy; break;
    case LIBUSB_ERROR_ACCESS: status = UsbStatus::AccessDenied; break;
    case LIBUSB_ERROR_TIMEOUT: status = UsbStatus::TimedOut; break;
    case LIBUSB_ERROR_NO_DEVICE: status = UsbStatus::NoDevice; break;
    default: break;
    }
    return UsbResult{status, what + ": " + libusb_strerror(static_cast<libusb_error>(code))};
}

struct Endpoint {
    uint8_t address = 0;
    bool interrupt = false;
};

// Threads: see UsbDevice. The endpoint table is written while the owner
// claims, before the pipe thread starts.
class LibusbDevice : public UsbDevice {
public:
    explicit LibusbDevice(libusb_device_handle* handle) : handle_(handle) {}
    ~LibusbDevice() override
    {
        releaseInterface();
        libusb_close(handle_);
    }

    UsbResult setConfiguration(int configuration) override
    {
        int current = 0;
        // Setting the active configuration again resets the device on Linux.
        if (libusb_get_configuration(handle_, &current) == 0 && current == configuration)
            return UsbResult::success();
        return fromLibusb(libusb_set_configuration(handle_, configuration), "set configuration");
    }

    int interfaceCount() override
    {
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(libusb_get_device(handle_), &config) != 0)
            return 0;
        const int count = config->bNumInterfaces;
        libusb_free_config_descriptor(config);
        return count;
    }

    UsbResult claimInterface(int interfaceIndex) override
    {
        if (libusb_kernel_driver_active(handle_, interfaceIndex) == 1)
            return UsbResult{UsbStatus::Busy, "interface " + std::to_string(interfaceIndex)
                                                  + " is held by a kernel driver"};
        return claim(interfaceIndex);
    }

    UsbResult seizeInterface(int interfaceIndex) override
    {
        if (libusb_kernel_driver_active(handle_, interfaceIndex) == 1) {
            const int result = libusb_detach_kernel_driver(handle_, interfaceIndex);
            if (result != 0)
                return fromLibusb(result, "detach kernel driver");
            detached_ = true;
        }
        return claim(interfaceIndex);
    }

    void releaseInterface() override
    {
        if (claimed_ < 0)
            return;
        libusb_release_interface(handle_, claimed_);
        if (detached_)
            libusb_attach_kernel_driver(handle_, claimed_);  // give the surface back to the system
        claimed_ = -1;
        detached_ = false;
        endpoints_.clear();
    }

    UsbResult controlTransfer(const UsbControlRequest& request, const uint8_t* data, size_t length,
                              int timeoutMs) override
    {
        std::vector<uint8_t> copy(data, data + length);
        const int result = libusb_control_transfer(handle_, request.requestType, request.request, request.value,
                                                   request.index, copy.data(), static_cast<uint16_t>(copy.size()),
                                                   static_cast<unsigned>(timeoutMs));
        return fromLibusb(result, "control transfer");
    }

    UsbResult writePipe(int pipe, const uint8_t* data, size_t length, int timeoutMs) override
    {
        std::vector<uint8_t> copy(data, data + length);
        size_t received = 0;
        return transfer(pipe, copy.data(), copy.size(), received, timeoutMs);
    }

    UsbResult readPipe(int pipe, uint8_t* buffer, size_t capacity, size_t& received, int timeoutMs) override
    {
        return transfer(pipe, buffer, capacity, received, timeoutMs);
    }

    void abortPipes() override { aborted_.store(true, std::memory_order_release); }

private:
    UsbResult claim(int interfaceIndex)
    {
        const int result = libusb_claim_interface(handle_, interfaceIndex);
        if (result != 0)
            return fromLibusb(result, "claim interface " + std::to_string(interfaceIndex));
        claimed_ = interfaceIndex;
        loadEndpoints(interfaceIndex);
        return UsbResult::success();
    }

    void loadEndpoints(int interfaceIndex)
    {
        endpoints_.clear();
        libusb_config_descriptor* config = nullptr;
        if (libusb_get_active_config_descriptor(libusb_get_device(handle_), &config) != 0)
            return;
        if (interfaceIndex < config->bNumInterfaces && config->interface[interfaceIndex].num_altsetting > 0) {
            const libusb_interface_descriptor& setting = config->interface[interfaceIndex].altsetting[0];
            for (int i = 0; i < setting.bNumEndpoints; ++i) {
                const libusb_endpoint_descriptor& endpoint = setting.endpoint[i];
                endpoints_.push_back(Endpoint{endpoint.bEndpointAddress,
                                              (endpoint.bmAttributes & 0x03) == LIBUSB_TRANSFER_TYPE_INTERRUPT});
            }
        }
        libusb_free_config_descriptor(config);
    }

    UsbResult transfer(int pipe, uint8_t* data, size_t length, size_t& transferred, int timeoutMs)
    {
        transferred = 0;
        if (pipe < 1 || pipe > static_cast<int>(endpoints_.size()))
            return UsbResult{UsbStatus::Failed, "no pipe " + std::to_string(pipe) + " on the claimed interface"};
        const Endpoint endpoint = endpoints_[static_cast<size_t>(pipe - 1)];
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (aborted_.load(std::memory_order_acquire))
                return UsbResult{UsbStatus::Aborted, "transfer aborted"};
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            const int slice = static_cast<int>(std::clamp<long long>(left.count(), 1, kSliceMs));
            int done = 0;
            const int result = endpoint.interrupt
                ? libusb_interrupt_transfer(handle_, endpoint.address, data, static_cast<int>(length), &done,
                                            static_cast<unsigned>(slice))
                : libusb_bulk_transfer(handle_, endpoint.address, data, static_cast<int>(length), &done,
                                       static_cast<unsigned>(slice));
            transferred = static_cast<size_t>(std::max(done, 0));
            if (result != LIBUSB_ERROR_TIMEOUT || done > 0)
                return fromLibusb(result, "pipe " + std::to_string(pipe));
            if (left.count() <= kSliceMs)
                return UsbResult{UsbStatus::TimedOut, "pipe " + std::to_string(pipe) + " timed out"};
        }
    }

    libusb_device_handle* handle_;
    int claimed_ = -1;
    bool detached_ = false;
    std::vector<Endpoint> endpoints_;
    std::atomic<bool> aborted_{false};
};

}  // namespace

LibusbUsbSystem::LibusbUsbSystem()
{
    const int result = libusb_init(&context_);
    if (result != 0) {
        context_ = nullptr;
        startError_ = std::string("libusb could not start: ") + libusb_strerror(static_cast<libusb_error>(result));
    }
}

LibusbUsbSystem::LibusbUsbSystem(NotStarted) : startError_("libusb could not start: refused for the test") {}

LibusbUsbSystem::~LibusbUsbSystem()
{
    if (context_ != nullptr)
        libusb_exit(context_);
}

UsbResult LibusbUsbSystem::find(uint16_t vendorId, uint16_t productId)
{
    if (context_ == nullptr)
        return UsbResult{UsbStatus::NotStarted, startError_};
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0)
        return fromLibusb(static_cast<int>(count), "list devices");
    bool found = false;
    for (ssize_t i = 0; i < count && !found; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) == 0)
            found = descriptor.idVendor == vendorId && descriptor.idProduct == productId;
    }
    libusb_free_device_list(list, 1);
    if (!found)
        return UsbResult{UsbStatus::NotFound, "no USB device with this vendor and product id"};
    return UsbResult::success();
}

UsbResult LibusbUsbSystem::open(uint16_t vendorId, uint16_t productId, std::unique_ptr<UsbDevice>& device)
{
    device.reset();
    if (context_ == nullptr)
        return UsbResult{UsbStatus::NotStarted, startError_};
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context_, &list);
    if (count < 0)
        return fromLibusb(static_cast<int>(count), "list devices");
    UsbResult result{UsbStatus::NotFound, "no USB device with this vendor and product id"};
    for (ssize_t i = 0; i < count; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0 || descriptor.idVendor != vendorId
            || descriptor.idProduct != productId)
            continue;
        libusb_device_handle* handle = nullptr;
        result = fromLibusb(libusb_open(list[i], &handle), "open device");
        if (result.ok())
            device = std::make_unique<LibusbDevice>(handle);
        break;
    }
    libusb_free_device_list(list, 1);
    return result;
}
