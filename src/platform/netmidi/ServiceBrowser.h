#pragma once

#include <cstdint>
#include <memory>
#include <string>

// What a service browser reports. Called on the browser's own thread (the
// discovery's event thread), one call at a time; a listener may call
// resolve from inside a call.
class ServiceBrowserListener {
public:
    virtual ~ServiceBrowserListener();

    virtual void serviceFound(const std::string& name) = 0;
    virtual void serviceResolved(const std::string& name, const std::string& hostName, uint16_t port) = 0;
    virtual void serviceDidNotResolve(const std::string& name) = 0;
    virtual void searchFailed(const std::string& reason) = 0;
};

// A search for services of one type in one domain (link-local "local."),
// and the resolving of found services to a host name and port.
//
// Threads: search, resolve and stop from the owner's thread (resolve also
// from inside a listener call). After stop returns no listener call runs and
// none will; the destructor stops.
class ServiceBrowser {
public:
    virtual ~ServiceBrowser();

    virtual void search(const std::string& type, const std::string& domain) = 0;
    // Ends in serviceResolved or, after timeoutSeconds, serviceDidNotResolve.
    virtual void resolve(const std::string& name, double timeoutSeconds) = 0;
    virtual void stop() = 0;
};

// Makes browsers. The default is Avahi's client library on Linux.
class ServiceDiscovery {
public:
    virtual ~ServiceDiscovery();

    virtual std::unique_ptr<ServiceBrowser> createBrowser(ServiceBrowserListener& listener) = 0;
};

std::shared_ptr<ServiceDiscovery> defaultServiceDiscovery();
void setDefaultServiceDiscovery(std::shared_ptr<ServiceDiscovery> discovery);
