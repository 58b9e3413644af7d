#include "platform/hid/HidapiHidSystem.h"

#include <hidapi/hidapi.h>

#include <atomic>
#include <cwchar>
#include <mutex>

namespace {

// hidapi's enumeration and open share library state: one caller at a time.
std::mutex hidapiMutex;

std::string narrow(const wchar_t* text)
{
    if (text == nullptr)
        return "unknown hidapi error";
    std::string result;
    for (; *text != 0; ++text)
        result += *text < 0x80 ? static_cast<char>(*text) : '?';
    return result;
}

// Threads: readReport on the reading thread; close from the owner, which
// sets closed_ so the next bounded read ends. The handle is freed only in the
// destructor, after the reader has been joined.
class HidapiDevice : public HidDevice {
public:
    explicit HidapiDevice(hid_device* handle) : handle_(handle) {}
    ~HidapiDevice() override
    {
        std::lock_guard<std::mutex> lock(hidapiMutex);
        hid_close(handle_);
    }

    ReadResult readReport(uint8_t* buffer, size_t capacity, size_t& length, int timeoutMs) override
    {
        length = 0;
        if (closed_.load(std::memory_order_acquire))
            return ReadResult::Removed;
        const int result = hid_read_timeout(handle_, buffer, capacity, timeoutMs);
        if (result < 0)
            return ReadResult::Removed;  // hidraw answers an unplugged node with an error
        if (result == 0)
            return closed_.load(std::memory_order_acquire) ? ReadResult::Removed : ReadResult::TimedOut;
        length = static_cast<size_t>(result);
        return ReadResult::Report;
    }

    void close() override { closed_.store(true, std::memory_order_release); }

private:
    hid_device* handle_;
    std::atomic<bool> closed_{false};
};

}  // namespace

HidapiHidSystem::HidapiHidSystem()
{
    std::lock_guard<std::mutex> lock(hidapiMutex);
    started_ = hid_init() == 0;
}

HidapiHidSystem::~HidapiHidSystem() = default;  // hid_exit would pull the rug from other instances

bool HidapiHidSystem::findDevices(uint16_t vendorId, uint16_t productId, std::vector<HidDeviceInfo>& devices,
                                  std::string& error)
{
    devices.clear();
    if (!started_) {
        error = "hidapi could not start";
        return false;
    }
    std::lock_guard<std::mutex> lock(hidapiMutex);
    hid_device_info* list = hid_enumerate(vendorId, productId);
    for (hid_device_info* info = list; info != nullptr; info = info->next) {
        if (info->vendor_id != vendorId || info->product_id != productId || info->path == nullptr)
            continue;
        devices.push_back(HidDeviceInfo{info->vendor_id, info->product_id, info->path});
    }
    hid_free_enumeration(list);
    return true;
}

std::unique_ptr<HidDevice> HidapiHidSystem::open(const HidDeviceInfo& device, std::string& error)
{
    if (!started_) {
        error = "hidapi could not start";
        return nullptr;
    }
    std::lock_guard<std::mutex> lock(hidapiMutex);
    hid_device* handle = hid_open_path(device.path.c_str());
    if (handle == nullptr) {
        error = "cannot open " + device.path + ": " + narrow(hid_error(nullptr));
        return nullptr;
    }
    return std::make_unique<HidapiDevice>(handle);
}
