#include "platform/midi/AlsaMidiSystem.h"

#include <alsa/asoundlib.h>

#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <poll.h>

namespace {

constexpr MidiEndpointRef kEndpointTag = 0x01000000;
constexpr const char* kSequencerDevice = "/dev/snd/seq";

// The library prints its own reasons to standard error; ours go to the log
// with the status, once, where the caller knows what failed.
void silentErrorHandler(const char*, int, const char*, int, const char*, ...) {}

std::string safeName(const char* name)
{
    std::string text = name != nullptr ? name : "";
    std::replace(text.begin(), text.end(), ':', '-');
    std::replace(text.begin(), text.end(), '|', '-');
    return text;
}

// One channel message as MIDI bytes; 0 for events that carry none.
size_t eventBytes(const snd_seq_event_t& event, uint8_t bytes[3])
{
    const auto channel = [&](uint8_t status, unsigned char ch) { return static_cast<uint8_t>(status | (ch & 0x0F)); };
    switch (event.type) {
    case SND_SEQ_EVENT_NOTEON:
    case SND_SEQ_EVENT_NOTEOFF:
    case SND_SEQ_EVENT_KEYPRESS: {
        const uint8_t status = event.type == SND_SEQ_EVENT_NOTEON ? 0x90 : event.type == SND_SEQ_EVENT_NOTEOFF ? 0x80 : 0xA0;
        bytes[0] = channel(status, event.data.note.channel);
        bytes[1] = event.data.note.note & 0x7F;
        bytes[2] = event.data.note.velocity & 0x7F;
        return 3;
    }
    case SND_SEQ_EVENT_CONTROLLER:
        bytes[0] = channel(0xB0, event.data.control.channel);
        bytes[1] = static_cast<uint8_t>(event.data.control.param & 0x7F);
        bytes[2] = static_cast<uint8_t>(event.data.control.value & 0x7F);
        return 3;
    case SND_SEQ_EVENT_PGMCHANGE:
    case SND_SEQ_EVENT_CHANPRESS:
        bytes[0] = channel(event.type == SND_SEQ_EVENT_PGMCHANGE ? 0xC0 : 0xD0, event.data.control.channel);
        bytes[1] = static_cast<uint8_t>(event.data.control.value & 0x7F);
        return 2;
    case SND_SEQ_EVENT_PITCHBEND: {
        const int value = std::clamp(event.data.control.value + 8192, 0, 16383);
        bytes[0] = channel(0xE0, event.data.control.channel);
        bytes[1] = static_cast<uint8_t>(value & 0x7F);
        bytes[2] = static_cast<uint8_t>(value >> 7);
        return 3;
    }
    default:
        return 0;  // SysEx, clocks, system events: not ours to pass on
    }
}

// One packet as a sequencer event; false for anything but a whole channel
// message.
bool packetEvent(const uint8_t* data, size_t length, snd_seq_event_t& event)
{
    if (length == 0)
        return false;
    const uint8_t status = data[0];
    const uint8_t ch = status & 0x0F;
    const size_t needed = (status & 0xF0) == 0xC0 || (status & 0xF0) == 0xD0 ? 2 : 3;
    if (status < 0x80 || status >= 0xF0 || length < needed)
        return false;
    switch (status & 0xF0) {
    case 0x80: snd_seq_ev_set_noteoff(&event, ch, data[1], data[2]); return true;
    case 0x90: snd_seq_ev_set_noteon(&event, ch, data[1], data[2]); return true;
    case 0xA0: snd_seq_ev_set_keypress(&event, ch, data[1], data[2]); return true;
    case 0xB0: snd_seq_ev_set_controller(&event, ch, data[1], data[2]); return true;
    case 0xC0: snd_seq_ev_set_pgmchange(&event, ch, data[1]); return true;
    case 0xD0: snd_seq_ev_set_chanpress(&event, ch, data[1]); return true;
    case 0xE0: snd_seq_ev_set_pitchbend(&event, ch, (data[1] | (data[2] << 7)) - 8192); return true;
    default: return false;
    }
}

}  // namespace

struct AlsaMidiSystem::Client {
    snd_seq_t* seq = nullptr;
    int alsaClient = -1;
    int announcePort = -1;
    int wakeFd = -1;
    std::atomic<bool> running{true};
    std::mutex handleMutex;
    std::mutex dispatchMutex;
    std::thread thread;
};

AlsaMidiSystem::AlsaMidiSystem()
{
    snd_lib_error_set_handler(silentErrorHandler);
}

AlsaMidiSystem::~AlsaMidiSystem()
{
    std::vector<MidiClientRef> clients;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const auto& entry : clients_)
            clients.push_back(entry.first);
    }
    for (MidiClientRef client : clients)
        disposeClient(client);
    if (queryHandle_ != nullptr)
        snd_seq_close(queryHandle_);
}

bool AlsaMidiSystem::sequencerPresent()
{
    return access(kSequencerDevice, R_OK | W_OK) == 0;
}

MidiEndpointRef AlsaMidiSystem::endpointFor(int alsaClient, int alsaPort)
{
    return kEndpointTag | (static_cast<MidiEndpointRef>(alsaClient & 0xFF) << 8)
           | static_cast<MidiEndpointRef>(alsaPort & 0xFF);
}

bool AlsaMidiSystem::addressOf(MidiEndpointRef endpoint, int& alsaClient, int& alsaPort)
{
    if ((endpoint & 0xFF000000) != kEndpointTag)
        return false;
    alsaClient = static_cast<int>((endpoint >> 8) & 0xFF);
    alsaPort = static_cast<int>(endpoint & 0xFF);
    return true;
}

MidiStatus AlsaMidiSystem::openQueryHandleLocked()
{
    if (queryHandle_ != nullptr)
        return kMidiOk;
    const int status = snd_seq_open(&queryHandle_, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (status < 0) {
        queryHandle_ = nullptr;
        return status;
    }
    snd_seq_set_client_name(queryHandle_, "Tonvale MIDI");
    ownAlsaClients_.insert(snd_seq_client_id(queryHandle_));
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::createClient(const std::string& name, MidiClientRef& clientRef)
{
    auto client = std::make_unique<Client>();
    int status = snd_seq_open(&client->seq, "default", SND_SEQ_OPEN_DUPLEX, SND_SEQ_NONBLOCK);
    if (status < 0)
        return status;
    snd_seq_set_client_name(client->seq, name.c_str());
    client->alsaClient = snd_seq_client_id(client->seq);
    // A port only we can write to hears the sequencer's announcements of
    // ports coming and going, so replugged sources can be found again.
    client->announcePort = snd_seq_create_simple_port(client->seq, "announcements", SND_SEQ_PORT_CAP_WRITE,
                                                      SND_SEQ_PORT_TYPE_APPLICATION);
    if (client->announcePort < 0) {
        status = client->announcePort;
        snd_seq_close(client->seq);
        return status;
    }
    snd_seq_connect_from(client->seq, client->announcePort, SND_SEQ_CLIENT_SYSTEM, SND_SEQ_PORT_SYSTEM_ANNOUNCE);
    client->wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (client->wakeFd < 0) {
        status = -errno;
        snd_seq_close(client->seq);
        return status;
    }
    Client* raw = client.get();
    std::lock_guard<std::mutex> lock(mutex_);
    clientRef = nextRef_++;
    ownAlsaClients_.insert(raw->alsaClient);
    clients_[clientRef] = std::move(client);
    raw->thread = std::thread([this, raw] { receiveThreadMain(raw); });
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::disposeClient(MidiClientRef clientRef)
{
    std::unique_ptr<Client> client;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = clients_.find(clientRef);
        if (it == clients_.end())
            return kMidiErrorUnknownObject;
        client = std::move(it->second);
        clients_.erase(it);
        std::vector<MidiPortRef> gone;
        for (const auto& [ref, port] : ports_) {
            if (port.client == clientRef)
                gone.push_back(ref);
        }
        for (MidiPortRef ref : gone) {
            ports_.erase(ref);
            std::erase_if(connections_, [ref](const Connection& c) { return c.port == ref; });
        }
        ownAlsaClients_.erase(client->alsaClient);
    }
    client->running.store(false);
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t written = write(client->wakeFd, &one, sizeof one);
    client->thread.join();
    close(client->wakeFd);
    snd_seq_close(client->seq);
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::createInputPort(MidiClientRef clientRef, const std::string& name, ReadProc readProc,
                                           void* readReference, MidiPortRef& port)
{
    if (readProc == nullptr)
        return kMidiErrorBadArgument;
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(clientRef);
    if (it == clients_.end())
        return kMidiErrorUnknownObject;
    Client& client = *it->second;
    int alsaPort = 0;
    {
        std::lock_guard<std::mutex> handle(client.handleMutex);
        alsaPort = snd_seq_create_simple_port(client.seq, name.c_str(),
                                              SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                              SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    if (alsaPort < 0)
        return alsaPort;
    port = nextRef_++;
    ports_[port] = Port{clientRef, alsaPort, true, readProc, readReference};
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::createOutputPort(MidiClientRef clientRef, const std::string& name, MidiPortRef& port)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = clients_.find(clientRef);
    if (it == clients_.end())
        return kMidiErrorUnknownObject;
    Client& client = *it->second;
    int alsaPort = 0;
    {
        std::lock_guard<std::mutex> handle(client.handleMutex);
        // Readable but not subscribable: we send directly, and others do
        // not list it among their sources.
        alsaPort = snd_seq_create_simple_port(client.seq, name.c_str(), SND_SEQ_PORT_CAP_READ,
                                              SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    }
    if (alsaPort < 0)
        return alsaPort;
    port = nextRef_++;
    ports_[port] = Port{clientRef, alsaPort, false, nullptr, nullptr};
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::disposePort(MidiPortRef portRef)
{
    MidiClientRef clientRef = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = ports_.find(portRef);
        if (it == ports_.end())
            return kMidiErrorUnknownObject;
        clientRef = it->second.client;
        auto client = clients_.find(clientRef);
        if (client != clients_.end()) {
            std::lock_guard<std::mutex> handle(client->second->handleMutex);
            snd_seq_delete_simple_port(client->second->seq, it->second.alsaPort);
        }
        ports_.erase(it);
        std::erase_if(connections_, [portRef](const Connection& c) { return c.port == portRef; });
    }
    waitForReadProcs(clientRef);
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::listEndpoints(bool sources, std::vector<MidiEndpointRef>& out)
{
    out.clear();
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = openQueryHandleLocked(); status != kMidiOk)
        return status;
    const unsigned int wanted = sources ? (SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ)
                                        : (SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_client_info_alloca(&clientInfo);
    snd_seq_port_info_alloca(&portInfo);
    snd_seq_client_info_set_client(clientInfo, -1);
    while (snd_seq_query_next_client(queryHandle_, clientInfo) >= 0) {
        const int alsaClient = snd_seq_client_info_get_client(clientInfo);
        if (alsaClient == SND_SEQ_CLIENT_SYSTEM || ownAlsaClients_.count(alsaClient) != 0)
            continue;
        snd_seq_port_info_set_client(portInfo, alsaClient);
        snd_seq_port_info_set_port(portInfo, -1);
        while (snd_seq_query_next_port(queryHandle_, portInfo) >= 0) {
            const unsigned int caps = snd_seq_port_info_get_capability(portInfo);
            const int alsaPort = snd_seq_port_info_get_port(portInfo);
            if ((caps & wanted) == wanted && (caps & SND_SEQ_PORT_CAP_NO_EXPORT) == 0 && alsaPort <= 0xFF)
                out.push_back(endpointFor(alsaClient, alsaPort));
        }
    }
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::getSources(std::vector<MidiEndpointRef>& sources)
{
    return listEndpoints(true, sources);
}

MidiStatus AlsaMidiSystem::getDestinations(std::vector<MidiEndpointRef>& destinations)
{
    return listEndpoints(false, destinations);
}

MidiStatus AlsaMidiSystem::portNameLocked(int alsaClient, int alsaPort, std::string& name)
{
    if (MidiStatus status = openQueryHandleLocked(); status != kMidiOk)
        return status;
    snd_seq_port_info_t* portInfo = nullptr;
    snd_seq_port_info_alloca(&portInfo);
    const int status = snd_seq_get_any_port_info(queryHandle_, alsaClient, alsaPort, portInfo);
    if (status < 0)
        return status;
    name = safeName(snd_seq_port_info_get_name(portInfo));
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::getEndpointName(MidiEndpointRef endpoint, MidiNameProperty property, std::string& name)
{
    int alsaClient = 0;
    int alsaPort = 0;
    if (!addressOf(endpoint, alsaClient, alsaPort))
        return kMidiErrorUnknownObject;
    std::lock_guard<std::mutex> lock(mutex_);
    if (property == MidiNameProperty::DisplayName)
        return portNameLocked(alsaClient, alsaPort, name);
    if (MidiStatus status = openQueryHandleLocked(); status != kMidiOk)
        return status;
    snd_seq_client_info_t* clientInfo = nullptr;
    snd_seq_client_info_alloca(&clientInfo);
    const int status = snd_seq_get_any_client_info(queryHandle_, alsaClient, clientInfo);
    if (status < 0)
        return status;
    name = safeName(snd_seq_client_info_get_name(clientInfo));
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::connectSource(MidiPortRef portRef, MidiEndpointRef source)
{
    int alsaClient = 0;
    int alsaPort = 0;
    if (!addressOf(source, alsaClient, alsaPort))
        return kMidiErrorUnknownObject;
    std::lock_guard<std::mutex> lock(mutex_);
    auto port = ports_.find(portRef);
    if (port == ports_.end() || !port->second.isInput)
        return kMidiErrorUnknownObject;
    for (const Connection& connection : connections_) {
        if (connection.port == portRef && connection.source == source)
            return kMidiOk;
    }
    std::string name;
    if (MidiStatus status = portNameLocked(alsaClient, alsaPort, name); status != kMidiOk)
        return status;
    Client& client = *clients_.at(port->second.client);
    int status = 0;
    {
        std::lock_guard<std::mutex> handle(client.handleMutex);
        status = snd_seq_connect_from(client.seq, port->second.alsaPort, alsaClient, alsaPort);
    }
    if (status < 0)
        return status;
    connections_.push_back(Connection{portRef, name, source});
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::disconnectSource(MidiPortRef portRef, MidiEndpointRef source)
{
    int alsaClient = 0;
    int alsaPort = 0;
    if (!addressOf(source, alsaClient, alsaPort))
        return kMidiErrorUnknownObject;
    MidiClientRef clientRef = 0;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto port = ports_.find(portRef);
        if (port == ports_.end())
            return kMidiErrorUnknownObject;
        clientRef = port->second.client;
        std::string name;
        portNameLocked(alsaClient, alsaPort, name);
        bool found = false;
        for (auto it = connections_.begin(); it != connections_.end();) {
            const bool same = it->port == portRef
                              && (it->source == source || (it->source == 0 && it->sourceName == name));
            if (!same) {
                ++it;
                continue;
            }
            if (it->source != 0) {
                int connectedClient = 0;
                int connectedPort = 0;
                addressOf(it->source, connectedClient, connectedPort);
                Client& client = *clients_.at(clientRef);
                std::lock_guard<std::mutex> handle(client.handleMutex);
                snd_seq_disconnect_from(client.seq, port->second.alsaPort, connectedClient, connectedPort);
            }
            it = connections_.erase(it);
            found = true;
        }
        if (!found)
            return kMidiErrorUnknownObject;
    }
    waitForReadProcs(clientRef);
    return kMidiOk;
}

MidiStatus AlsaMidiSystem::send(MidiPortRef portRef, MidiEndpointRef destination, const MidiPacketListView& packets)
{
    int alsaClient = 0;
    int alsaPort = 0;
    if (!addressOf(destination, alsaClient, alsaPort))
        return kMidiErrorUnknownObject;
    std::lock_guard<std::mutex> lock(mutex_);
    auto port = ports_.find(portRef);
    if (port == ports_.end() || port->second.isInput)
        return kMidiErrorUnknownObject;
    Client& client = *clients_.at(port->second.client);
    for (auto packet = packets.first(); packet.valid; packet = packets.next(packet)) {
        snd_seq_event_t event;
        snd_seq_ev_clear(&event);
        if (!packetEvent(packet.data, packet.length, event))
            return kMidiErrorUnsupported;
        snd_seq_ev_set_source(&event, port->second.alsaPort);
        snd_seq_ev_set_dest(&event, alsaClient, alsaPort);
        snd_seq_ev_set_direct(&event);
        std::lock_guard<std::mutex> handle(client.handleMutex);
        const int status = snd_seq_event_output_direct(client.seq, &event);
        if (status < 0)
            return status;
    }
    return kMidiOk;
}

void AlsaMidiSystem::waitForReadProcs(MidiClientRef clientRef)
{
    std::unique_lock<std::mutex> lock(mutex_);
    auto it = clients_.find(clientRef);
    if (it == clients_.end())
        return;  // its thread was joined when it was disposed
    Client* client = it->second.get();
    lock.unlock();
    // Clients are only disposed from the owner's thread, which is this one.
    std::lock_guard<std::mutex> wait(client->dispatchMutex);
}

void AlsaMidiSystem::receiveThreadMain(Client* client)
{
    std::vector<pollfd> fds;
    {
        std::lock_guard<std::mutex> handle(client->handleMutex);
        const int count = snd_seq_poll_descriptors_count(client->seq, POLLIN);
        fds.resize(static_cast<size_t>(count) + 1);
        snd_seq_poll_descriptors(client->seq, fds.data() + 1, static_cast<unsigned int>(count), POLLIN);
    }
    fds[0] = pollfd{client->wakeFd, POLLIN, 0};
    while (client->running.load()) {
        if (poll(fds.data(), fds.size(), -1) < 0 && errno != EINTR)
            break;
        for (;;) {
            snd_seq_event_t* event = nullptr;
            snd_seq_event_t copy;
            {
                std::lock_guard<std::mutex> handle(client->handleMutex);
                const int status = snd_seq_event_input(client->seq, &event);
                if (status == -ENOSPC)
                    continue;  // the input pool overflowed; what is left is read on
                if (status < 0 || event == nullptr)
                    break;
                copy = *event;
            }
            handleEvent(*client, copy);
        }
    }
}

void AlsaMidiSystem::handleEvent(Client& client, const snd_seq_event_t& event)
{
    if (event.dest.port == client.announcePort) {
        handleAnnouncement(client, event);
        return;
    }
    uint8_t bytes[3] = {0, 0, 0};
    const size_t length = eventBytes(event, bytes);
    if (length == 0)
        return;
    const MidiEndpointRef source = endpointFor(event.source.client, event.source.port);
    std::lock_guard<std::mutex> dispatch(client.dispatchMutex);
    ReadProc proc = nullptr;
    void* reference = nullptr;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (const Connection& connection : connections_) {
            auto port = ports_.find(connection.port);
            if (connection.source == source && port != ports_.end() && port->second.alsaPort == event.dest.port
                && clients_.count(port->second.client) != 0 && clients_.at(port->second.client).get() == &client) {
                proc = port->second.readProc;
                reference = port->second.readReference;
                break;
            }
        }
    }
    if (proc == nullptr)
        return;  // not from a source we connected: others may write to our port
    uint8_t buffer[MidiPacketListBuilder::kHeaderBytes + MidiPacketListBuilder::kPacketHeaderBytes + 4];
    MidiPacketListBuilder builder(buffer, sizeof buffer);
    builder.add(midiTimeStampNow(), bytes, length);
    proc(builder.view(), reference, source);
}

void AlsaMidiSystem::handleAnnouncement(Client& client, const snd_seq_event_t& event)
{
    const MidiEndpointRef endpoint = endpointFor(event.data.addr.client, event.data.addr.port);
    std::lock_guard<std::mutex> lock(mutex_);
    if (event.type == SND_SEQ_EVENT_PORT_EXIT || event.type == SND_SEQ_EVENT_CLIENT_EXIT) {
        for (Connection& connection : connections_) {
            int connectedClient = 0;
            int connectedPort = 0;
            addressOf(connection.source, connectedClient, connectedPort);
            if (connection.source == endpoint
                || (event.type == SND_SEQ_EVENT_CLIENT_EXIT && connection.source != 0
                    && connectedClient == event.data.addr.client))
                connection.source = 0;
        }
        return;
    }
    if (event.type != SND_SEQ_EVENT_PORT_START)
        return;
    std::string name;
    if (portNameLocked(event.data.addr.client, event.data.addr.port, name) != kMidiOk)
        return;
    for (Connection& connection : connections_) {
        auto port = ports_.find(connection.port);
        if (connection.source != 0 || connection.sourceName != name || port == ports_.end()
            || clients_.at(port->second.client).get() != &client)
            continue;
        int status = 0;
        {
            std::lock_guard<std::mutex> handle(client.handleMutex);
            status = snd_seq_connect_from(client.seq, port->second.alsaPort, event.data.addr.client,
                                          event.data.addr.port);
        }
        if (status >= 0)
            connection.source = endpoint;
    }
}
