#pragma once

#include "platform/midi/MidiPacketList.h"
#include "platform/midi/MidiTypes.h"

#include <string>
#include <vector>

// The machine's MIDI service: clients, their input and output ports, the
// sources and destinations other programs and devices offer (endpoints, with
// names), connections from sources to input ports, and sends.
//
// Endpoints are looked up by their display name, which never holds ":" or
// "|" (callers keep names in "|"- and ":"-separated settings).
//
// A connection follows its source by name: when a connected source vanishes
// and an endpoint of the same name appears later (a replugged device), the
// system connects it to the same input port again by itself.
//
// Threads: every call may come from any thread except from inside a read
// procedure. A read procedure is called on the system's own receive thread,
// one packet list at a time, and only with packets from a source connected to
// its port. disconnectSource and disposePort return only after a call of the
// port's read procedure that is under way has returned, so after they return
// the procedure's reference may be freed.
class MidiSystem {
public:
    using ReadProc = void (*)(const MidiPacketListView& packets, void* readReference, MidiEndpointRef source);

    virtual ~MidiSystem();

    virtual MidiStatus createClient(const std::string& name, MidiClientRef& client) = 0;
    // Disposes the client's ports too.
    virtual MidiStatus disposeClient(MidiClientRef client) = 0;
    virtual MidiStatus createInputPort(MidiClientRef client, const std::string& name, ReadProc readProc,
                                       void* readReference, MidiPortRef& port) = 0;
    virtual MidiStatus createOutputPort(MidiClientRef client, const std::string& name, MidiPortRef& port) = 0;
    virtual MidiStatus disposePort(MidiPortRef port) = 0;

    // The endpoints that are reachable now, in the system's order.
    virtual MidiStatus getSources(std::vector<MidiEndpointRef>& sources) = 0;
    virtual MidiStatus getDestinations(std::vector<MidiEndpointRef>& destinations) = 0;
    virtual MidiStatus getEndpointName(MidiEndpointRef endpoint, MidiNameProperty property, std::string& name) = 0;

    virtual MidiStatus connectSource(MidiPortRef port, MidiEndpointRef source) = 0;
    virtual MidiStatus disconnectSource(MidiPortRef port, MidiEndpointRef source) = 0;

    // Sends every packet of the list, in order, from an output port to a
    // destination; each packet holds one whole message.
    virtual MidiStatus send(MidiPortRef port, MidiEndpointRef destination, const MidiPacketListView& packets) = 0;
};
