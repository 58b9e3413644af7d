#include "platform/hid/VirtualHidSystem.h"

#include <algorithm>
#include <chrono>
#include <cstring>

struct VirtualHidSystem::Shared {
    struct Queue {
        std::deque<std::vector<uint8_t>> reports;
        bool removed = false;
        bool taking = false;  // a reader took a report and has not come back for the next
    };
    struct Entry {
        HidDeviceInfo info;
        std::vector<std::shared_ptr<Queue>> handles;
        std::vector<uint8_t> reportOnOpen;
    };

    mutable std::mutex mutex;
    mutable std::condition_variable changed;
    std::map<std::string, Entry> devices;
    int nextId = 1;
    int failingOpens = 0;
    std::string failReason;
    bool enumerationFails = false;
};

class VirtualHidSystem::Device : public HidDevice {
public:
    Device(std::shared_ptr<Shared> shared, std::shared_ptr<Shared::Queue> queue)
        : shared_(std::move(shared)), queue_(std::move(queue))
    {
    }
    ~Device() override { close(); }

    ReadResult readReport(uint8_t* buffer, size_t capacity, size_t& length, int timeoutMs) override
    {
        length = 0;
        std::unique_lock<std::mutex> lock(shared_->mutex);
        // Coming back for the next report means the last one was handled.
        queue_->taking = false;
        shared_->changed.notify_all();
        const bool ready = shared_->changed.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
            return queue_->removed || !queue_->reports.empty();
        });
        if (queue_->removed)
            return ReadResult::Removed;
        if (!ready)
            return ReadResult::TimedOut;
        std::vector<uint8_t> report = std::move(queue_->reports.front());
        queue_->reports.pop_front();
        length = std::min(capacity, report.size());
        std::memcpy(buffer, report.data(), length);
        queue_->taking = true;
        return ReadResult::Report;
    }

    void close() override
    {
        std::lock_guard<std::mutex> lock(shared_->mutex);
        if (queue_->removed)
            return;
        queue_->removed = true;
        queue_->taking = false;
        queue_->reports.clear();
        for (auto& [path, entry] : shared_->devices)
            std::erase(entry.handles, queue_);
        shared_->changed.notify_all();
    }

private:
    std::shared_ptr<Shared> shared_;
    std::shared_ptr<Shared::Queue> queue_;
};

VirtualHidSystem::VirtualHidSystem() : shared_(std::make_shared<Shared>()) {}
VirtualHidSystem::~VirtualHidSystem() = default;

bool VirtualHidSystem::findDevices(uint16_t vendorId, uint16_t productId, std::vector<HidDeviceInfo>& devices,
                                   std::string& error)
{
    devices.clear();
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->enumerationFails) {
        error = "virtual HID system refuses to enumerate";
        return false;
    }
    for (const auto& [path, entry] : shared_->devices) {
        if (entry.info.vendorId == vendorId && entry.info.productId == productId)
            devices.push_back(entry.info);
    }
    return true;
}

std::unique_ptr<HidDevice> VirtualHidSystem::open(const HidDeviceInfo& device, std::string& error)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (shared_->failingOpens > 0) {
        --shared_->failingOpens;
        error = shared_->failReason;
        return nullptr;
    }
    auto found = shared_->devices.find(device.path);
    if (found == shared_->devices.end()) {
        error = "no such device: " + device.path;
        return nullptr;
    }
    auto queue = std::make_shared<Shared::Queue>();
    if (!found->second.reportOnOpen.empty())
        queue->reports.push_back(found->second.reportOnOpen);
    found->second.handles.push_back(queue);
    return std::make_unique<Device>(shared_, queue);
}

std::string VirtualHidSystem::attach(uint16_t vendorId, uint16_t productId)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    const std::string path = "virtual-hid-" + std::to_string(shared_->nextId++);
    shared_->devices[path] = Shared::Entry{HidDeviceInfo{vendorId, productId, path}, {}, {}};
    return path;
}

bool VirtualHidSystem::detach(const std::string& path)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    auto found = shared_->devices.find(path);
    if (found == shared_->devices.end())
        return false;
    for (auto& queue : found->second.handles) {
        queue->removed = true;
        queue->taking = false;
        queue->reports.clear();
    }
    shared_->devices.erase(found);
    shared_->changed.notify_all();
    return true;
}

bool VirtualHidSystem::inject(const std::string& path, std::vector<uint8_t> report)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    auto found = shared_->devices.find(path);
    if (found == shared_->devices.end())
        return false;
    for (auto& queue : found->second.handles)
        queue->reports.push_back(report);
    shared_->changed.notify_all();
    return true;
}

void VirtualHidSystem::failOpens(int count, std::string reason)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->failingOpens = count;
    shared_->failReason = std::move(reason);
}

void VirtualHidSystem::failEnumeration(bool fail)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->enumerationFails = fail;
}

int VirtualHidSystem::openHandleCount(const std::string& path) const
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    auto found = shared_->devices.find(path);
    return found == shared_->devices.end() ? 0 : static_cast<int>(found->second.handles.size());
}

void VirtualHidSystem::waitUntilDrained(const std::string& path) const
{
    std::unique_lock<std::mutex> lock(shared_->mutex);
    shared_->changed.wait(lock, [&] {
        auto found = shared_->devices.find(path);
        if (found == shared_->devices.end())
            return true;
        return std::all_of(found->second.handles.begin(), found->second.handles.end(),
                           [](const auto& queue) { return queue->removed || (queue->reports.empty() && !queue->taking); });
    });
}

void VirtualHidSystem::setReportOnOpen(const std::string& path, std::vector<uint8_t> report)
{
    std::lock_guard<std::mutex> lock(shared_->mutex);
    auto found = shared_->devices.find(path);
    if (found != shared_->devices.end())
        found->second.reportOnOpen = std::move(report);
}
