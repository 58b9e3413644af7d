#pragma once

#include "platform/midi/MidiSystem.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

typedef struct _snd_seq snd_seq_t;
typedef struct snd_seq_event snd_seq_event_t;

// The MIDI system on the ALSA sequencer.
//
// - A client is one sequencer handle with its own receive thread; its input
//   ports are writable sequencer ports, its output ports send directly to a
//   destination without a subscription.
// - Sources are other programs' readable and subscribable ports,
//   destinations their writable and subscribable ones (the system client and
//   our own clients are left out). An endpoint's display name is its port
//   name with ":" and "|" replaced by "-"; its plain name is its client's name.
// - One sequencer event is one packet of one message; SysEx and events that
//   are no channel message are dropped, never buffered.
// - An input port only passes on events from the sources connected to it.
// - A connected source whose port goes away is connected again when a port
//   of the same display name appears (the client follows the sequencer's
//   announcements).
//
// Without a sequencer (/dev/snd/seq missing) every call answers the library's
// status, a negative errno.
//
// Threads: see MidiSystem. mutex_ guards the tables; each client's
// handleMutex guards its sequencer handle (the library does not lock one);
// its dispatchMutex is held while its read procedures run.
class AlsaMidiSystem : public MidiSystem {
public:
    AlsaMidiSystem();
    ~AlsaMidiSystem() override;

    AlsaMidiSystem(const AlsaMidiSystem&) = delete;
    AlsaMidiSystem& operator=(const AlsaMidiSystem&) = delete;

    // True when the machine has a sequencer device node.
    static bool sequencerPresent();

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

    // The sequencer address behind an endpoint and back.
    static MidiEndpointRef endpointFor(int alsaClient, int alsaPort);
    static bool addressOf(MidiEndpointRef endpoint, int& alsaClient, int& alsaPort);

private:
    struct Client;
    struct Port {
        MidiClientRef client = 0;
        int alsaPort = -1;
        bool isInput = false;
        ReadProc readProc = nullptr;
        void* readReference = nullptr;
    };
    struct Connection {
        MidiPortRef port = 0;
        std::string sourceName;
        MidiEndpointRef source = 0;  // 0 while the named source is gone
    };

    MidiStatus openQueryHandleLocked();
    MidiStatus listEndpoints(bool sources, std::vector<MidiEndpointRef>& out);
    MidiStatus portNameLocked(int alsaClient, int alsaPort, std::string& name);
    void receiveThreadMain(Client* client);
    void handleEvent(Client& client, const snd_seq_event_t& event);
    void handleAnnouncement(Client& client, const snd_seq_event_t& event);
    void waitForReadProcs(MidiClientRef client);

    std::mutex mutex_;
    snd_seq_t* queryHandle_ = nullptr;
    std::map<MidiClientRef, std::unique_ptr<Client>> clients_;
    std::map<MidiPortRef, Port> ports_;
    std::vector<Connection> connections_;
    std::set<int> ownAlsaClients_;
    uint32_t nextRef_ = 1;
};
