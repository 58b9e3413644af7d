#include "platform/hid/HidapiHidSystem.h"
#include "platform/hid/VirtualHidSystem.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <linux/uhid.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <thread>

namespace {

// A vendor-page device with input reports 11 (6 bytes) and 12 (32 bytes),
// the layout of the Cantarem 2.
const uint8_t kReportDescriptor[] = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
    0x85, 0x0B, 0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x06, 0x81, 0x02,
    0x85, 0x0C, 0x09, 0x03, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x20, 0x81, 0x02,
    0xC0,
};

bool writeEvent(int fd, const uhid_event& event)
{
    return ::write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

}  // namespace

// A kernel HID device made through /dev/uhid: found by vendor and product
// id, opened through hidraw, reports arrive report ID first, and unplugging
// it ends the reads with Removed.
TEST(HidapiHidSystemTest, KernelDeviceThroughUhid)
{
    if (::access("/dev/uhid", F_OK) != 0)
        GTEST_SKIP() << "/dev/uhid does not exist on this machine (no uhid module): kernel HID device not tested";
    const int fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (fd < 0)
        GTEST_SKIP() << "/dev/uhid cannot be opened: " << std::strerror(errno);
    uhid_event create{};
    create.type = UHID_CREATE2;
    std::strncpy(reinterpret_cast<char*>(create.u.create2.name), "Tonvale test surface",
                 sizeof create.u.create2.name - 1);
    create.u.create2.rd_size = sizeof kReportDescriptor;
    std::memcpy(create.u.create2.rd_data, kReportDescriptor, sizeof kReportDescriptor);
    create.u.create2.bus = 0x03;  // USB
    create.u.create2.vendor = 0x2CFF;
    create.u.create2.product = 0x0002;
    ASSERT_TRUE(writeEvent(fd, create));

    HidapiHidSystem system;
    std::vector<HidDeviceInfo> devices;
    std::string error;
    // The hidraw node appears shortly after the kernel has bound the device.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (devices.empty() && std::chrono::steady_clock::now() < deadline) {
        ASSERT_TRUE(system.findDevices(0x2CFF, 0x0002, devices, error)) << error;
        if (devices.empty())
            std::this_thread::yield();
    }
    if (devices.empty()) {
        ::close(fd);
        GTEST_SKIP() << "the uhid device got no hidraw node hidapi can list (no udev here?)";
    }
    std::unique_ptr<HidDevice> device = system.open(devices.front(), error);
    ASSERT_TRUE(device) << error;

    uhid_event input{};
    input.type = UHID_INPUT2;
    const uint8_t report[] = {12, 1, 2, 3, 4, 5, 6, 7, 0x34, 0x12};
    input.u.input2.size = 33;
    std::memcpy(input.u.input2.data, report, sizeof report);
    ASSERT_TRUE(writeEvent(fd, input));
    uint8_t buffer[64];
    size_t length = 0;
    ASSERT_EQ(device->readReport(buffer, sizeof buffer, length, 2000), HidDevice::ReadResult::Report);
    EXPECT_EQ(length, 33u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + sizeof report), std::vector<uint8_t>(report, report + sizeof report));

    uhid_event destroy{};
    destroy.type = UHID_DESTROY;
    ASSERT_TRUE(writeEvent(fd, destroy));
    HidDevice::ReadResult result = HidDevice::ReadResult::TimedOut;
    for (int tries = 0; tries < 50 && result == HidDevice::ReadResult::TimedOut; ++tries)
        result = device->readReport(buffer, sizeof buffer, length, 100);
    EXPECT_EQ(result, HidDevice::ReadResult::Removed);
    ::close(fd);
}

TEST(VirtualHidSystemTest, AttachInjectDetachAndFailedOpens)
{
    VirtualHidSystem system;
    const std::string path = system.attach(0x2CFF, 0x0002);
    system.attach(0x1234, 0x0002);
    std::vector<HidDeviceInfo> devices;
    std::string error;
    ASSERT_TRUE(system.findDevices(0x2CFF, 0x0002, devices, error));
    ASSERT_EQ(devices.size(), 1u);
    system.failOpens(1, "busy");
    EXPECT_FALSE(system.open(devices[0], error));
    EXPECT_EQ(error, "busy");
    std::unique_ptr<HidDevice> device = system.open(devices[0], error);
    ASSERT_TRUE(device);
    std::thread injector([&] { system.inject(path, std::vector<uint8_t>(100, 0xAB)); });
    uint8_t buffer[64];
    size_t length = 0;
    EXPECT_EQ(device->readReport(buffer, sizeof buffer, length, 5000), HidDevice::ReadResult::Report);
    EXPECT_EQ(length, 64u);  // cut to the reader's buffer
    injector.join();
    EXPECT_EQ(device->readReport(buffer, sizeof buffer, length, 0), HidDevice::ReadResult::TimedOut);
    EXPECT_TRUE(system.detach(path));
    EXPECT_EQ(device->readReport(buffer, sizeof buffer, length, 5000), HidDevice::ReadResult::Removed);
    system.failEnumeration(true);
    EXPECT_FALSE(system.findDevices(0x2CFF, 0x0002, devices, error));
}
