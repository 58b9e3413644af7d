#include "platform/netmidi/AvahiServiceDiscovery.h"
#include "platform/usb/LibusbUsbSystem.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <mutex>

namespace {

// Collects what a browser reports and lets the test wait for a line.
class RecordingListener : public ServiceBrowserListener {
public:
    void serviceFound(const std::string& name) override { add("found " + name); }
    void serviceResolved(const std::string& name, const std::string& host, uint16_t port) override
    {
        add("resolved " + name + " " + host + ":" + std::to_string(port));
    }
    void serviceDidNotResolve(const std::string& name) override { add("unresolved " + name); }
    void searchFailed(const std::string& reason) override { add("failed " + reason); }

    // The first line starting with prefix, waiting up to the time-out.
    std::string waitFor(const std::string& prefix, std::chrono::seconds timeout)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        std::string match;
        changed_.wait_for(lock, timeout, [&] {
            for (const std::string& line : lines_) {
                if (line.rfind(prefix, 0) == 0) {
                    match = line;
                    return true;
                }
            }
            return false;
        });
        return match;
    }

    std::string all()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        std::string text;
        for (const std::string& line : lines_)
            text += line + "; ";
        return text;
    }

private:
    void add(std::string line)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            lines_.push_back(std::move(line));
        }
        changed_.notify_all();
    }
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> lines_;
};

// Points this process's D-Bus system bus somewhere for one test.
class SystemBusAddress {
public:
    explicit SystemBusAddress(const std::string& address)
    {
        if (const char* old = std::getenv("DBUS_SYSTEM_BUS_ADDRESS"))
            old_ = old;
        ::setenv("DBUS_SYSTEM_BUS_ADDRESS", address.c_str(), 1);
    }
    ~SystemBusAddress()
    {
        if (old_.empty())
            ::unsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            ::setenv("DBUS_SYSTEM_BUS_ADDRESS", old_.c_str(), 1);
    }

private:
    std::string old_;
};

// The sandbox script in its own network and mount namespace, in its own
// process group; stopped with the whole group.
class AvahiSandbox {
public:
    AvahiSandbox(const std::string& folder, const std::string& name)
    {
        int pipeFds[2];
        if (::pipe(pipeFds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setpgid(0, 0);
            ::dup2(pipeFds[1], STDOUT_FILENO);
            // The daemons must not hold the test runner's output open.
            const int errors = ::open((folder + "/sandbox.err").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            if (errors >= 0)
                ::dup2(errors, STDERR_FILENO);
            ::close(pipeFds[0]);
            ::close(pipeFds[1]);
            ::execlp("unshare", "unshare", "-n", "-m", "bash", TONVALE_AVAHI_SANDBOX, folder.c_str(), name.c_str(),
                     "_apple-midi._udp", "5004", static_cast<char*>(nullptr));
            std::printf("unavailable: cannot run unshare\n");
            std::fflush(stdout);
            ::_exit(0);
        }
        ::close(pipeFds[1]);
        output_ = pipeFds[0];
    }
    ~AvahiSandbox()
    {
        if (pid_ > 0) {
            ::kill(-pid_, SIGTERM);
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0)
            ::close(output_);
    }

    // The next line of the script, or empty after the time-out or its end.
    std::string nextLine(std::chrono::seconds timeout)
    {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        while (output_ >= 0) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            pollfd entry{output_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0)
                return {};
            char c = 0;
            if (::read(output_, &c, 1) != 1)
                return line;
            if (c == '\n')
                return line;
            line += c;
        }
        return line;
    }

private:
    pid_t pid_ = -1;
    int output_ = -1;
};

}  // namespace

TEST(LibusbUsbSystemTest, AbsentDeviceAndALibraryThatCannotStart)
{
    LibusbUsbSystem system;
    const UsbResult found = system.find(0x10C4, 0x8A87);
    if (found.ok())
        GTEST_SKIP() << "a real CL-12 is attached: the not-found path cannot be tested";
    EXPECT_TRUE(found.status == UsbStatus::NotFound || found.status == UsbStatus::NotStarted) << found.reason;
    std::unique_ptr<UsbDevice> device;
    EXPECT_FALSE(system.open(0x10C4, 0x8A87, device).ok());
    EXPECT_FALSE(device);

    LibusbUsbSystem broken{LibusbUsbSystem::NotStarted{}};
    EXPECT_EQ(broken.find(0x10C4, 0x8A87).status, UsbStatus::NotStarted);
    const UsbResult opened = broken.open(0x10C4, 0x8A87, device);
    EXPECT_EQ(opened.status, UsbStatus::NotStarted);
    EXPECT_NE(opened.reason.find("libusb could not start"), std::string::npos);
}

// libdbus keeps the first system bus address a process used: each of these
// tests runs in a process of its own under ctest.
TEST(AvahiServiceDiscoveryTest, WithoutADaemonTheSearchFailsWithAReason)
{
    QTemporaryDir folder;
    SystemBusAddress bus("unix:path=" + folder.path().toStdString() + "/no-bus");
    AvahiServiceDiscovery discovery;
    RecordingListener listener;
    std::unique_ptr<ServiceBrowser> browser = discovery.createBrowser(listener);
    browser->search("_apple-midi._udp.", "local.");
    EXPECT_EQ(listener.waitFor("failed", std::chrono::seconds(5)), "failed Avahi: Daemon not running");
    browser->stop();
}

// A real avahi-daemon, alone in a network namespace, publishes a bridge:
// the browser finds it under its name and resolves it to host and port.
TEST(AvahiServiceDiscoveryTest, FindsAndResolvesAServicePublishedInASandbox)
{
    QTemporaryDir folder;
    AvahiSandbox sandbox(folder.path().toStdString(), "CL-12 Bridge");
    const std::string first = sandbox.nextLine(std::chrono::seconds(20));
    if (first.rfind("bus ", 0) != 0)
        GTEST_SKIP() << "no avahi sandbox here: " << (first.empty() ? "the namespace could not be made" : first);
    const std::string second = sandbox.nextLine(std::chrono::seconds(20));
    if (second != "published")
        GTEST_SKIP() << "no avahi sandbox here: " << (second.empty() ? "the service was not published" : second);
    SystemBusAddress bus(first.substr(4));

    AvahiServiceDiscovery discovery;
    RecordingListener listener;
    std::unique_ptr<ServiceBrowser> browser = discovery.createBrowser(listener);
    browser->search("_apple-midi._udp.", "local.");
    ASSERT_EQ(listener.waitFor("found", std::chrono::seconds(10)), "found CL-12 Bridge") << listener.all();
    browser->resolve("CL-12 Bridge", 5.0);
    EXPECT_EQ(listener.waitFor("resolved", std::chrono::seconds(10)), "resolved CL-12 Bridge tonvale-test.local:5004");
    browser->resolve("Not Published", 5.0);
    EXPECT_EQ(listener.waitFor("unresolved", std::chrono::seconds(10)), "unresolved Not Published");
    browser->stop();
}
