#include "platform/midi/VirtualMidiSystem.h"

#include <algorithm>
#include <utility>

VirtualMidiSystem::VirtualMidiSystem()
    : receiveThread_([this] { receiveThreadMain(); })
{
}

VirtualMidiSystem::~VirtualMidiSystem()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    queueCondition_.notify_all();
    receiveThread_.join();
}

MidiStatus VirtualMidiSystem::failureLocked(VirtualMidiCall call)
{
    for (auto it = failures_.begin(); it != failures_.end(); ++it) {
        if (it->call != call)
            continue;
        const MidiStatus status = it->status;
        if (it->remaining > 0 && --it->remaining == 0)
            failures_.erase(it);
        return status;
    }
    return kMidiOk;
}

VirtualMidiSystem::Endpoint* VirtualMidiSystem::findEndpointLocked(MidiEndpointRef endpoint)
{
    auto it = endpoints_.find(endpoint);
    if (it == endpoints_.end() || it->second.removed)
        return nullptr;
    return &it->second;
}

MidiStatus VirtualMidiSystem::createClient(const std::string& name, MidiClientRef& client)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::CreateClient); status != kMidiOk)
        return status;
    client = nextRef_++;
    clients_[client] = name;
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::disposeClient(MidiClientRef client)
{
    std::vector<MidiPortRef> ports;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (MidiStatus status = failureLocked(VirtualMidiCall::DisposeClient); status != kMidiOk)
            return status;
        if (clients_.erase(client) == 0)
            return kMidiErrorUnknownObject;
        for (const auto& [ref, port] : ports_) {
            if (port.client == client)
                ports.push_back(ref);
        }
        for (MidiPortRef ref : ports) {
            ports_.erase(ref);
            std::erase_if(connections_, [ref](const Connection& c) { return c.port == ref; });
        }
    }
    waitForReadProcs();
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::createInputPort(MidiClientRef client, const std::string&, ReadProc readProc,
                                              void* readReference, MidiPortRef& port)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::CreateInputPort); status != kMidiOk)
        return status;
    if (clients_.count(client) == 0)
        return kMidiErrorUnknownObject;
    if (readProc == nullptr)
        return kMidiErrorBadArgument;
    port = nextRef_++;
    ports_[port] = Port{client, true, readProc, readReference};
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::createOutputPort(MidiClientRef client, const std::string&, MidiPortRef& port)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::CreateOutputPort); status != kMidiOk)
        return status;
    if (clients_.count(client) == 0)
        return kMidiErrorUnknownObject;
    port = nextRef_++;
    ports_[port] = Port{client, false, nullptr, nullptr};
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::disposePort(MidiPortRef port)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (MidiStatus status = failureLocked(VirtualMidiCall::DisposePort); status != kMidiOk)
            return status;
        if (ports_.erase(port) == 0)
            return kMidiErrorUnknownObject;
        std::erase_if(connections_, [port](const Connection& c) { return c.port == port; });
    }
    waitForReadProcs();
    return kMidiOk;
}

void VirtualMidiSystem::listEndpoints(bool sources, std::vector<MidiEndpointRef>& out) const
{
    out.clear();
    for (const auto& [ref, endpoint] : endpoints_) {
        if (endpoint.isSource == sources && endpoint.online && !endpoint.removed)
            out.push_back(ref);
    }
}

MidiStatus VirtualMidiSystem::getSources(std::vector<MidiEndpointRef>& sources)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::GetSources); status != kMidiOk)
        return status;
    listEndpoints(true, sources);
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::getDestinations(std::vector<MidiEndpointRef>& destinations)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::GetDestinations); status != kMidiOk)
        return status;
    listEndpoints(false, destinations);
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::getEndpointName(MidiEndpointRef endpoint, MidiNameProperty, std::string& name)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::GetEndpointName); status != kMidiOk)
        return status;
    const Endpoint* found = findEndpointLocked(endpoint);
    if (found == nullptr)
        return kMidiErrorUnknownObject;
    if (found->nameUnreadable)
        return kMidiErrorNoProperty;
    name = found->name;
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::connectSource(MidiPortRef port, MidiEndpointRef source)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::ConnectSource); status != kMidiOk)
        return status;
    auto portIt = ports_.find(port);
    const Endpoint* endpoint = findEndpointLocked(source);
    if (portIt == ports_.end() || !portIt->second.isInput || endpoint == nullptr || !endpoint->isSource)
        return kMidiErrorUnknownObject;
    if (!endpoint->online)
        return kMidiErrorOffline;
    for (const Connection& connection : connections_) {
        if (connection.port == port && connection.source == source)
            return kMidiOk;
    }
    connections_.push_back(Connection{port, endpoint->name, source});
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::disconnectSource(MidiPortRef port, MidiEndpointRef source)
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (MidiStatus status = failureLocked(VirtualMidiCall::DisconnectSource); status != kMidiOk)
            return status;
        const auto removed = std::erase_if(connections_, [&](const Connection& c) {
            if (c.port != port)
                return false;
            if (c.source == source)
                return true;
            // A connection waiting for a replugged source is dropped by the
            // source it was made with.
            auto it = endpoints_.find(source);
            return c.source == 0 && it != endpoints_.end() && it->second.name == c.sourceName;
        });
        if (removed == 0)
            return kMidiErrorUnknownObject;
    }
    waitForReadProcs();
    return kMidiOk;
}

MidiStatus VirtualMidiSystem::send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketListView& packets)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MidiStatus status = failureLocked(VirtualMidiCall::Send); status != kMidiOk)
        return status;
    auto portIt = ports_.find(port);
    Endpoint* endpoint = findEndpointLocked(destination);
    if (portIt == ports_.end() || portIt->second.isInput || endpoint == nullptr || endpoint->isSource)
        return kMidiErrorUnknownObject;
    if (!endpoint->online)
        return kMidiErrorOffline;
    for (auto packet = packets.first(); packet.valid; packet = packets.next(packet))
        endpoint->sent.emplace_back(packet.data, packet.data + packet.length);
    return kMidiOk;
}

MidiEndpointRef VirtualMidiSystem::addEndpoint(const std::string& name, bool isSource)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const MidiEndpointRef ref = nextRef_++;
    Endpoint endpoint;
    endpoint.name = name;
    endpoint.isSource = isSource;
    endpoints_[ref] = std::move(endpoint);
    if (isSource) {
        for (Connection& connection : connections_) {
            if (connection.source == 0 && connection.sourceName == name)
                connection.source = ref;
        }
    }
    return ref;
}

MidiEndpointRef VirtualMidiSystem::addSource(const std::string& name)
{
    return addEndpoint(name, true);
}

MidiEndpointRef VirtualMidiSystem::addDestination(const std::string& name)
{
    return addEndpoint(name, false);
}

bool VirtualMidiSystem::removeEndpoint(MidiEndpointRef endpoint)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Endpoint* found = findEndpointLocked(endpoint);
    if (found == nullptr)
        return false;
    found->removed = true;
    for (Connection& connection : connections_) {
        if (connection.source == endpoint)
            connection.source = 0;
    }
    return true;
}

bool VirtualMidiSystem::setEndpointOnline(MidiEndpointRef endpoint, bool online)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Endpoint* found = findEndpointLocked(endpoint);
    if (found == nullptr)
        return false;
    found->online = online;
    return true;
}

bool VirtualMidiSystem::setEndpointNameUnreadable(MidiEndpointRef endpoint, bool unreadable)
{
    std::lock_guard<std::mutex> lock(mutex_);
    Endpoint* found = findEndpointLocked(endpoint);
    if (found == nullptr)
        return false;
    found->nameUnreadable = unreadable;
    return true;
}

MidiEndpointRef VirtualMidiSystem::findByName(const std::string& name, bool isSource) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& [ref, endpoint] : endpoints_) {
        if (endpoint.isSource == isSource && !endpoint.removed && endpoint.name == name)
            return ref;
    }
    return 0;
}

MidiEndpointRef VirtualMidiSystem::findSource(const std::string& name) const
{
    return findByName(name, true);
}

MidiEndpointRef VirtualMidiSystem::findDestination(const std::string& name) const
{
    return findByName(name, false);
}

bool VirtualMidiSystem::injectPackets(MidiEndpointRef source, const std::vector<std::vector<uint8_t>>& packets)
{
    size_t bytes = MidiPacketListBuilder::kHeaderBytes;
    for (const auto& packet : packets)
        bytes += MidiPacketListBuilder::kPacketHeaderBytes + packet.size() + 3;
    Delivery delivery;
    delivery.source = source;
    delivery.list.resize(bytes);
    MidiPacketListBuilder builder(delivery.list.data(), delivery.list.size());
    for (const auto& packet : packets) {
        if (!builder.add(midiTimeStampNow(), packet.data(), packet.size()))
            return false;
    }
    delivery.list.resize(builder.view().size());
    {
        std::lock_guard<std::mutex> lock(mutex_);
        auto it = endpoints_.find(source);
        if (it == endpoints_.end() || !it->second.isSource)
            return false;
        queue_.push_back(std::move(delivery));
    }
    queueCondition_.notify_all();
    return true;
}

void VirtualMidiSystem::waitForDeliveries()
{
    std::unique_lock<std::mutex> lock(mutex_);
    idleCondition_.wait(lock, [this] { return queue_.empty() && !delivering_; });
}

std::vector<std::vector<uint8_t>> VirtualMidiSystem::takeSent(MidiEndpointRef destination)
{
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = endpoints_.find(destination);
    if (it == endpoints_.end())
        return {};
    return std::exchange(it->second.sent, {});
}

void VirtualMidiSystem::failCall(VirtualMidiCall call, MidiStatus status, int times)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.push_back(Failure{call, status, times});
}

void VirtualMidiSystem::clearFailures()
{
    std::lock_guard<std::mutex> lock(mutex_);
    failures_.clear();
}

size_t VirtualMidiSystem::clientCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return clients_.size();
}

size_t VirtualMidiSystem::portCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ports_.size();
}

size_t VirtualMidiSystem::connectionCount(MidiEndpointRef source) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<size_t>(std::count_if(connections_.begin(), connections_.end(),
                                             [source](const Connection& c) { return c.source == source; }));
}

void VirtualMidiSystem::waitForReadProcs()
{
    // The receive thread holds dispatchMutex_ for the whole of a delivery.
    std::lock_guard<std::mutex> wait(dispatchMutex_);
}

void VirtualMidiSystem::receiveThreadMain()
{
    struct Target {
        ReadProc proc;
        void* reference;
    };
    std::vector<Target> targets;
    for (;;) {
        Delivery delivery;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            queueCondition_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            delivery = std::move(queue_.front());
            queue_.pop_front();
            delivering_ = true;
        }
        {
            // Taken before the targets are read, so a disconnect that
            // returned has either removed its port from this delivery or
            // waited for it.
            std::lock_guard<std::mutex> dispatch(dispatchMutex_);
            targets.clear();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                const Endpoint* source = findEndpointLocked(delivery.source);
                if (source != nullptr && source->online) {
                    for (const Connection& connection : connections_) {
                        auto port = ports_.find(connection.port);
                        if (connection.source == delivery.source && port != ports_.end())
                            targets.push_back(Target{port->second.readProc, port->second.readReference});
                    }
                }
            }
            const MidiPacketListView view(delivery.list.data(), delivery.list.size());
            for (const Target& target : targets)
                target.proc(view, target.reference, delivery.source);
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            delivering_ = false;
        }
        idleCondition_.notify_all();
    }
}
