#pragma once

#include "platform/netmidi/NetworkMidiSession.h"
#include "platform/netmidi/ServiceBrowser.h"

#include <memory>
#include <mutex>
#include <set>
#include <string>

// Finds CL-12 network MIDI bridges ("_apple-midi._udp." services in
// "local." whose name holds "CL-12", "CL12" or "Bridge", case-sensitive),
// resolves each (5 s) and connects the network MIDI session to it. The
// session admits only hosts this search found, never anyone on the network.
// It only logs; nothing reports its outcome.
//
// Threads: start and stop on the GUI thread; the listener members run on
// the browser's thread. The browser is owned here and stopped by stop (or
// the destructor), after which no listener call runs.
class CL12ServiceBrowserDelegate : public ServiceBrowserListener {
public:
    static constexpr double kResolveTimeoutSeconds = 5.0;

    CL12ServiceBrowserDelegate(std::shared_ptr<NetworkMidiSession> session,
                               std::shared_ptr<ServiceDiscovery> discovery);
    ~CL12ServiceBrowserDelegate() override;

    CL12ServiceBrowserDelegate(const CL12ServiceBrowserDelegate&) = delete;
    CL12ServiceBrowserDelegate& operator=(const CL12ServiceBrowserDelegate&) = delete;

    void start();
    void stop();
    std::shared_ptr<NetworkMidiSession> session() const { return session_; }

    // True for a service name that names a bridge.
    static bool isBridgeName(const std::string& name);

    void serviceFound(const std::string& name) override;
    void serviceResolved(const std::string& name, const std::string& hostName, uint16_t port) override;
    void serviceDidNotResolve(const std::string& name) override;
    void searchFailed(const std::string& reason) override;

private:
    std::shared_ptr<NetworkMidiSession> session_;
    std::shared_ptr<ServiceDiscovery> discovery_;
    std::unique_ptr<ServiceBrowser> browser_;
};
