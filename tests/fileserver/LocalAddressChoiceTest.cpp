#include "fileserver/LocalAddressChoice.h"

#include <gtest/gtest.h>

namespace {

NetworkInterfaceInfo interface(const QString& name, const QStringList& addresses, bool up = true, bool running = true,
                               bool loopback = false)
{
    NetworkInterfaceInfo info;
    info.humanReadableName = name;
    info.isUp = up;
    info.isRunning = running;
    info.isLoopback = loopback;
    for (const QString& address : addresses)
        info.addresses.append(QHostAddress(address));
    return info;
}

TEST(LocalAddressChoiceTest, PrefersTheFirstHomeNetworkAddressElseTheLastIPv4)
{
    const struct {
        const char* name;
        QList<NetworkInterfaceInfo> interfaces;
        const char* expected;
    } cases[] = {
        {"nothing", {}, "127.0.0.1"},
        {"loopback only", {interface("lo", {"127.0.0.1"}, true, true, true)}, "127.0.0.1"},
        {"192.168 wins over earlier and later others",
         {interface("eth0", {"10.0.0.5"}), interface("wlan0", {"fe80::1", "192.168.1.20", "192.168.1.21"}),
          interface("eth1", {"172.16.0.2"})},
         "192.168.1.20"},
        {"else the last IPv4 seen", {interface("eth0", {"10.0.0.5"}), interface("eth1", {"172.16.0.2", "fd00::2"})}, "172.16.0.2"},
        {"down or not running interfaces are skipped",
         {interface("eth0", {"192.168.0.9"}, false), interface("eth1", {"192.168.0.8"}, true, false), interface("eth2", {"10.1.1.1"})},
         "10.1.1.1"},
        {"virtual adapters in any case are skipped",
         {interface("VMware Network Adapter", {"192.168.50.1"}), interface("VirtualBox Host-Only", {"192.168.56.1"}),
          interface("vboxnet0", {"192.168.57.1"}), interface("Hyper-V Virtual Ethernet", {"192.168.58.1"}),
          interface("en0", {"10.2.2.2"})},
         "10.2.2.2"},
        {"a loopback address on a real interface is skipped", {interface("eth0", {"127.0.1.1", "10.3.3.3"})}, "10.3.3.3"},
        {"IPv6 only", {interface("eth0", {"2001:db8::1"})}, "127.0.0.1"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(chooseLocalAddress(c.interfaces).toStdString(), c.expected) << c.name;
}

} // namespace
