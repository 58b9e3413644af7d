#pragma once

#include "platform/netmidi/ServiceBrowser.h"

// Service discovery through Avahi's client library: each browser has its
// own Avahi client on its own threaded poll, whose thread runs the listener.
// Where no avahi-daemon runs, search reports searchFailed with Avahi's
// reason.
class AvahiServiceDiscovery : public ServiceDiscovery {
public:
    std::unique_ptr<ServiceBrowser> createBrowser(ServiceBrowserListener& listener) override;
};
