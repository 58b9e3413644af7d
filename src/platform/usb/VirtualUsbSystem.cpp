#include "platform/usb/VirtualUsbSystem.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>
#include <utility>

struct VirtualUsbSystem::Shared {
    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    bool attached = false;
    bool unplugged = false;
    int generation = 0;  // one more at each plug-in after an unplug
    bool refuseOpen = false;
    std::chrono::milliseconds openDelay{0};
    uint16_t vendorId = 0;
    uint16_t productId = 0;
    std::vector<InterfaceState> interfaces;
    std::deque<std::optional<std::vector<uint8_t>>> script;
    int waitingReaders = 0;
    int openHandles = 0;
    Log log;
};

std::string VirtualUsbSystem::hex(const uint8_t* bytes, size_t length)
{
    std::string text;
    char digits[4];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes[i]);
        if (i > 0)
            text += ' ';
        text += digits;
    }
    return text;
}

class VirtualUsbSystem::Device : public UsbDevice {
public:
    Device(std::shared_ptr<Shared> shared, int generation) : shared_(std::move(shared)), generation_(generation) {}
    ~Device() override
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        --shared_->openHandles;
        shared_->changed.notify_all();
    }

    UsbResult setConfiguration(int configuration) override
    {
        return record("configuration " + std::to_string(configuration));
    }

    int interfaceCount() override
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        return static_cast<int>(shared_->interfaces.size());
    }

    UsbResult claimInterface(int index) override
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->log.push_back("claim " + std::to_string(index));
        if (lost())
            return gone();
        switch (stateOf(index)) {
        case InterfaceState::Free: return UsbResult::success();
        case InterfaceState::Refused: return UsbResult{UsbStatus::AccessDenied, "permission denied"};
        default: return UsbResult{UsbStatus::Busy, "held by a kernel driver"};
        }
    }

    UsbResult seizeInterface(int index) override
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->log.push_back("seize " + std::to_string(index));
        if (lost())
            return gone();
        switch (stateOf(index)) {
        case InterfaceState::Free:
        case InterfaceState::HeldByKernel: return UsbResult::success();
        default: return UsbResult{UsbStatus::AccessDenied, "permission denied"};
        }
    }

    void releaseInterface() override { record("release"); }

    UsbResult controlTransfer(const UsbControlRequest& request, const uint8_t* data, size_t length,
                              int) override
    {
        char head[48];
        std::snprintf(head, sizeof head, "control %02X %02X %04X %04X: ", request.requestType, request.request,
                      request.value, request.index);
        return record(head + hex(data, length));
    }

    UsbResult writePipe(int pipe, const uint8_t* data, size_t length, int) override
    {
        return record("write " + std::to_string(pipe) + ": " + hex(data, length));
    }

    UsbResult readPipe(int pipe, uint8_t* buffer, size_t capacity, size_t& received, int timeoutMs) override
    {
        received = 0;
        std::unique_lock<std::mutex> lock(shared_->mutex);
        shared_->log.push_back("read " + std::to_string(pipe));
        if (lost())
            return gone();
        if (aborted_)
            return UsbResult{UsbStatus::Aborted, "transfer aborted"};
        ++shared_->waitingReaders;
        shared_->changed.notify_all();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        const bool answered = shared_->changed.wait_until(lock, deadline, [&] {
            return lost() || aborted_ || !shared_->script.empty();
        });
        --shared_->waitingReaders;
        if (lost())
            return gone();
        if (aborted_)
            return UsbResult{UsbStatus::Aborted, "transfer aborted"};
        if (!answered)
            return UsbResult{UsbStatus::TimedOut, "no answer"};
        const bool silent = !shared_->script.front().has_value();
        std::vector<uint8_t> reply;
        if (!silent)
            reply = std::move(*shared_->script.front());
        shared_->script.pop_front();
        if (silent) {
            // A scripted silence: this read gets no answer at all.
            shared_->changed.wait_until(lock, deadline, [&] { return lost() || aborted_; });
            if (lost())
                return gone();
            if (aborted_)
                return UsbResult{UsbStatus::Aborted, "transfer aborted"};
            return UsbResult{UsbStatus::TimedOut, "no answer"};
        }
        received = std::min(capacity, reply.size());
        std::memcpy(buffer, reply.data(), received);
        return UsbResult::success();
    }

    void abortPipes() override
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        aborted_ = true;
        shared_->log.push_back("abort");
        shared_->changed.notify_all();
    }

private:
    InterfaceState stateOf(int index) const
    {
        if (index < 0 || index >= static_cast<int>(shared_->interfaces.size()))
            return InterfaceState::Refused;
        return shared_->interfaces[static_cast<size_t>(index)];
    }

    UsbResult record(std::string entry)
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        shared_->log.push_back(std::move(entry));
        if (lost())
            return gone();
        return UsbResult::success();
    }

    static UsbResult gone() { return UsbResult{UsbStatus::NoDevice, "device unplugged"}; }
    // Under shared_->mutex.
    bool lost() const { return shared_->unplugged || generation_ != shared_->generation; }

    std::shared_ptr<Shared> shared_;
    const int generation_;
    bool aborted_ = false;  // under shared_->mutex
};

VirtualUsbSystem::VirtualUsbSystem() : shared_(std::make_shared<Shared>()) {}
VirtualUsbSystem::~VirtualUsbSystem() = default;

UsbResult VirtualUsbSystem::find(uint16_t vendorId, uint16_t productId)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (!shared_->attached || shared_->vendorId != vendorId || shared_->productId != productId)
        return UsbResult{UsbStatus::NotFound, "no such device"};
    return UsbResult::success();
}

UsbResult VirtualUsbSystem::open(uint16_t vendorId, uint16_t productId, std::unique_ptr<UsbDevice>& device)
{
    device.reset();
    std::chrono::milliseconds delay{0};
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        delay = shared_->openDelay;
    }
    std::this_thread::sleep_for(delay);
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (!shared_->attached || shared_->vendorId != vendorId || shared_->productId != productId)
        return UsbResult{UsbStatus::NotFound, "no such device"};
    if (shared_->refuseOpen)
        return UsbResult{UsbStatus::AccessDenied, "permission denied"};
    shared_->log.push_back("open");
    ++shared_->openHandles;
    device = std::make_unique<Device>(shared_, shared_->generation);
    return UsbResult::success();
}

void VirtualUsbSystem::attach(uint16_t vendorId, uint16_t productId, std::vector<InterfaceState> interfaces)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    // Plugged in again: a new device, and handles of the old one stay dead.
    if (shared_->unplugged)
        ++shared_->generation;
    shared_->attached = true;
    shared_->unplugged = false;
    shared_->vendorId = vendorId;
    shared_->productId = productId;
    shared_->interfaces = std::move(interfaces);
    shared_->changed.notify_all();
}

void VirtualUsbSystem::unplug()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->attached = false;
    shared_->unplugged = true;
    shared_->log.push_back("unplug");
    shared_->changed.notify_all();
}

void VirtualUsbSystem::refuseOpen(bool refuse)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->refuseOpen = refuse;
}

void VirtualUsbSystem::setOpenDelay(std::chrono::milliseconds delay)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->openDelay = delay;
}

void VirtualUsbSystem::queueReply(std::optional<std::vector<uint8_t>> reply)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->script.push_back(std::move(reply));
    shared_->changed.notify_all();
}

void VirtualUsbSystem::waitUntilReaderWaits() const
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait(lock, [&] {
        return shared_->unplugged || shared_->openHandles == 0
            || (shared_->script.empty() && shared_->waitingReaders > 0);
    });
}

VirtualUsbSystem::Log VirtualUsbSystem::takeLog()
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return std::exchange(shared_->log, {});
}

VirtualUsbSystem::Log VirtualUsbSystem::log() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->log;
}

int VirtualUsbSystem::openHandleCount() const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    return shared_->openHandles;
}
