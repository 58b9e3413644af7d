#pragma once

#include <cstdint>
#include <memory>
#include <string>

// A peer of the network MIDI session: a bridge found on the network.
struct NetworkMidiHost {
    std::string name;     // the advertised service name
    std::string address;  // host name or address to reach it
    uint16_t port = 0;
};

// The machine's network MIDI (RTP-MIDI) session: its peers' MIDI arrives on
// the MIDI system's endpoints like any device's. Linux has no such system
// session, so defaultNetworkMidiSession() is null there unless a test puts a
// virtual one in.
//
// Threads: any thread, one call at a time.
class NetworkMidiSession {
public:
    enum class ConnectionPolicy { NoOne = 0, HostsInContactList = 1, Anyone = 2 };

    virtual ~NetworkMidiSession();

    virtual void setEnabled(bool enabled) = 0;
    virtual void setConnectionPolicy(ConnectionPolicy policy) = 0;
    // Lets this host connect under HostsInContactList.
    virtual void addContact(const NetworkMidiHost& host) = 0;
    // Connects the session to the host; false when the session refuses.
    virtual bool addConnection(const NetworkMidiHost& host) = 0;
};

std::shared_ptr<NetworkMidiSession> defaultNetworkMidiSession();
void setDefaultNetworkMidiSession(std::shared_ptr<NetworkMidiSession> session);
