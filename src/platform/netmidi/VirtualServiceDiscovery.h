#pragma once

#include "platform/netmidi/NetworkMidiSession.h"
#include "platform/netmidi/ServiceBrowser.h"

#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

// Service discovery for tests, scripted by hand on a clock of its own:
// published services are found by every searching browser (at once and
// later), a resolution answers at the next step of the clock, or fails once
// its time-out has passed on that clock when the service never answers.
//
// Threads: listener calls run on the thread that calls publish, search or
// advanceSeconds; stop waits for a call under way.
class VirtualServiceDiscovery : public ServiceDiscovery {
public:
    VirtualServiceDiscovery();
    ~VirtualServiceDiscovery() override;

    std::unique_ptr<ServiceBrowser> createBrowser(ServiceBrowserListener& listener) override;

    // A service of the searched type; resolvable false: it never answers.
    void publish(const std::string& name, const std::string& hostName, uint16_t port, bool resolvable = true);
    void failSearches(bool fail);
    // Steps the clock: answers resolvable services, fails the timed-out.
    void advanceSeconds(double seconds);
    int liveBrowserCount() const;
    int resolveRequestCount() const;

private:
    class Browser;
    struct Service {
        std::string hostName;
        uint16_t port = 0;
        bool resolvable = true;
    };
    struct PendingResolve {
        Browser* browser = nullptr;
        std::string name;
        double deadlineSeconds = 0;
    };

    void unregister(Browser* browser);

    mutable std::mutex mutex_;
    std::recursive_mutex deliveryMutex_;  // held while a listener runs
    std::map<std::string, Service> services_;
    std::set<Browser*> searching_;
    std::set<Browser*> live_;
    std::vector<PendingResolve> pending_;
    double nowSeconds_ = 0;
    bool failSearches_ = false;
    int resolveRequests_ = 0;
};

// A network MIDI session for tests: it records what the discovery asks.
class VirtualNetworkMidiSession : public NetworkMidiSession {
public:
    void setEnabled(bool enabled) override;
    void setConnectionPolicy(ConnectionPolicy policy) override;
    void addContact(const NetworkMidiHost& host) override;
    bool addConnection(const NetworkMidiHost& host) override;

    void refuseConnections(bool refuse);
    bool enabled() const;
    ConnectionPolicy policy() const;
    // "name@host:port" of each contact and connection, in order.
    std::vector<std::string> contacts() const;
    std::vector<std::string> connections() const;

private:
    mutable std::mutex mutex_;
    bool enabled_ = false;
    bool refuse_ = false;
    ConnectionPolicy policy_ = ConnectionPolicy::NoOne;
    std::vector<std::string> contacts_;
    std::vector<std::string> connections_;
};
