#include "platform/netmidi/ServiceBrowser.h"

#include "platform/netmidi/AvahiServiceDiscovery.h"
#include "platform/netmidi/NetworkMidiSession.h"

#include <mutex>

ServiceBrowserListener::~ServiceBrowserListener() = default;
ServiceBrowser::~ServiceBrowser() = default;
ServiceDiscovery::~ServiceDiscovery() = default;
NetworkMidiSession::~NetworkMidiSession() = default;

namespace {

std::mutex defaultMutex;
std::shared_ptr<ServiceDiscovery> defaultDiscovery;
std::shared_ptr<NetworkMidiSession> defaultSession;

}  // namespace

std::shared_ptr<ServiceDiscovery> defaultServiceDiscovery()
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    if (!defaultDiscovery)
        defaultDiscovery = std::make_shared<AvahiServiceDiscovery>();
    return defaultDiscovery;
}

void setDefaultServiceDiscovery(std::shared_ptr<ServiceDiscovery> discovery)
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    defaultDiscovery = std::move(discovery);
}

std::shared_ptr<NetworkMidiSession> defaultNetworkMidiSession()
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    return defaultSession;
}

void setDefaultNetworkMidiSession(std::shared_ptr<NetworkMidiSession> session)
{
    std::lock_guard<std::mutex> lock(defaultMutex);
    defaultSession = std::move(session);
}
