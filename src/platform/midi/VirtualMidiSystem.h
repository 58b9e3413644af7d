#pragma once

#include "platform/midi/MidiSystem.h"

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// MIDI calls a test can make fail (see failCall).
enum class VirtualMidiCall {
    CreateClient, DisposeClient, CreateInputPort, CreateOutputPort, DisposePort,
    GetSources, GetDestinations, GetEndpointName, ConnectSource, DisconnectSource, Send,
};

// A MIDI system made of sources and destinations that a test adds, so the
// control-surface drivers run and are tested without MIDI hardware.
//
// Tests inject packets from a source; the system's own receive thread hands
// them to the read procedure of every input port connected to that source,
// exactly as a device's packets would arrive. Everything sent to a
// destination is kept until the test takes it.
//
// Threads: every call may come from any thread (not from inside a read
// procedure for disconnectSource, disposePort, disposeClient and
// removeEndpoint). mutex_ guards the tables and is never held while a read
// procedure runs; dispatchMutex_ is held while one runs, so disconnecting
// waits for a delivery under way.
class VirtualMidiSystem : public MidiSystem {
public:
    VirtualMidiSystem();
    ~VirtualMidiSystem() override;

    VirtualMidiSystem(const VirtualMidiSystem&) = delete;
    VirtualMidiSystem& operator=(const VirtualMidiSystem&) = delete;

    // MidiSystem
    MidiStatus createClient(const std::string& name, MidiClientRef& client) override;
    MidiStatus disposeClient(MidiClientRef client) override;
    MidiStatus createInputPort(MidiClientRef client, const std::string& name, ReadProc readProc,
                               void* readReference, MidiPortRef& port) override;
    MidiStatus createOutputPort(MidiClientRef client, const std::string& name, MidiPortRef& port) override;
    MidiStatus disposePort(MidiPortRef port) override;
    MidiStatus getSources(std::vector<MidiEndpointRef>& sources) override;
    MidiStatus getDestinations(std::vector<MidiEndpointRef>& destinations) override;
    MidiStatus getEndpointName(MidiEndpointRef endpoint, MidiNameProperty property, std::string& name) override;
    MidiStatus connectSource(MidiPortRef port, MidiEndpointRef source) override;
    MidiStatus disconnectSource(MidiPortRef port, MidiEndpointRef source) override;
    MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketListView& packets) override;

    // --- Test controls ---------------------------------------------------
    // A new endpoint, online. Names are taken as given: duplicates, empty and
    // over-long names are allowed. A new source takes over every connection
    // that waits for its name (a replugged device).
    MidiEndpointRef addSource(const std::string& name);
    MidiEndpointRef addDestination(const std::string& name);
    // The endpoint is gone for good; connections to it wait for its name.
    bool removeEndpoint(MidiEndpointRef endpoint);
    // Offline: not listed, packets from it and sends to it are dropped (a
    // send answers kMidiErrorOffline); back online it works as before.
    bool setEndpointOnline(MidiEndpointRef endpoint, bool online);
    // Both names of the endpoint answer kMidiErrorNoProperty.
    bool setEndpointNameUnreadable(MidiEndpointRef endpoint, bool unreadable);
    // The first endpoint of that name, listed or not (0 when none).
    MidiEndpointRef findSource(const std::string& name) const;
    MidiEndpointRef findDestination(const std::string& name) const;

    // Queues one packet list from the source for the receive thread; false
    // when the source does not exist.
    bool injectPackets(MidiEndpointRef source, const std::vector<std::vector<uint8_t>>& packets);
    bool inject(MidiEndpointRef source, const std::vector<uint8_t>& bytes) { return injectPackets(source, {bytes}); }
    // Waits until everything injected so far has been delivered.
    void waitForDeliveries();

    // Every packet sent to the destination since the last call, in order.
    std::vector<std::vector<uint8_t>> takeSent(MidiEndpointRef destination);

    // The call answers `status` `times` times (-1: until cleared).
    void failCall(VirtualMidiCall call, MidiStatus status, int times = -1);
    void clearFailures();

    size_t clientCount() const;
    size_t portCount() const;
    // Input ports whose connection currently reaches the source.
    size_t connectionCount(MidiEndpointRef source) const;

private:
    struct Endpoint {
        std::string name;
        bool isSource = false;
        bool online = true;
        bool removed = false;
        bool nameUnreadable = false;
        std::vector<std::vector<uint8_t>> sent;
    };
    struct Port {
        MidiClientRef client = 0;
        bool isInput = false;
        ReadProc readProc = nullptr;
        void* readReference = nullptr;
    };
    struct Connection {
        MidiPortRef port = 0;
        std::string sourceName;
        MidiEndpointRef source = 0;  // 0 while the named source is gone
    };
    struct Failure {
        VirtualMidiCall call;
        MidiStatus status;
        int remaining;
    };
    struct Delivery {
        MidiEndpointRef source = 0;
        std::vector<uint8_t> list;
    };

    MidiStatus failureLocked(VirtualMidiCall call);
    Endpoint* findEndpointLocked(MidiEndpointRef endpoint);
    MidiEndpointRef addEndpoint(const std::string& name, bool isSource);
    MidiEndpointRef findByName(const std::string& name, bool isSource) const;
    void listEndpoints(bool sources, std::vector<MidiEndpointRef>& out) const;
    void waitForReadProcs();
    void receiveThreadMain();

    mutable std::mutex mutex_;
    std::map<MidiClientRef, std::string> clients_;
    std::map<MidiPortRef, Port> ports_;
    std::map<MidiEndpointRef, Endpoint> endpoints_;
    std::vector<Connection> connections_;
    std::vector<Failure> failures_;
    uint32_t nextRef_ = 1;

    std::mutex dispatchMutex_;
    std::deque<Delivery> queue_;
    bool delivering_ = false;
    bool stopping_ = false;
    std::condition_variable queueCondition_;
    std::condition_variable idleCondition_;
    std::thread receiveThread_;
};
