#include "platform/netmidi/AvahiServiceDiscovery.h"

#include <avahi-client/client.h>
#include <avahi-client/lookup.h>
#include <avahi-common/error.h>
#include <avahi-common/thread-watch.h>
#include <avahi-common/timeval.h>

#include <atomic>
#include <map>
#include <memory>
#include <thread>
#include <vector>

namespace {

// Avahi names types and domains without the trailing dot.
std::string withoutTrailingDot(std::string text)
{
    if (!text.empty() && text.back() == '.')
        text.pop_back();
    return text;
}

// Threads: search, resolve and stop on the owner's thread; every Avahi
// callback on the threaded poll's thread. The owner takes the poll's lock
// around each Avahi call; a resolve from inside a callback already runs
// under it. found_ and pending_ are touched only under that lock.
class AvahiBrowser : public ServiceBrowser {
public:
    explicit AvahiBrowser(ServiceBrowserListener& listener) : listener_(listener) {}
    ~AvahiBrowser() override { stop(); }

    void search(const std::string& type, const std::string& domain) override
    {
        if (poll_ != nullptr)
            return;
        type_ = withoutTrailingDot(type);
        domain_ = withoutTrailingDot(domain);
        poll_ = avahi_threaded_poll_new();
        if (poll_ == nullptr) {
            listener_.searchFailed("Avahi could not make its event loop");
            return;
        }
        int error = 0;
        client_ = avahi_client_new(avahi_threaded_poll_get(poll_), static_cast<AvahiClientFlags>(0), nullptr,
                                   nullptr, &error);
        if (client_ == nullptr) {
            avahi_threaded_poll_free(poll_);
            poll_ = nullptr;
            listener_.searchFailed(std::string("Avahi: ") + avahi_strerror(error));
            return;
        }
        browser_ = avahi_service_browser_new(client_, AVAHI_IF_UNSPEC, AVAHI_PROTO_UNSPEC, type_.c_str(),
                                             domain_.c_str(), static_cast<AvahiLookupFlags>(0), &browseCallback,
                                             this);
        if (browser_ == nullptr) {
            const std::string reason = avahi_strerror(avahi_client_errno(client_));
            avahi_client_free(client_);
            client_ = nullptr;
            avahi_threaded_poll_free(poll_);
            poll_ = nullptr;
            listener_.searchFailed("Avahi: " + reason);
            return;
        }
        avahi_threaded_poll_start(poll_);
    }

    void resolve(const std::string& name, double timeoutSeconds) override
    {
        if (poll_ == nullptr)
            return;
        const bool onPollThread = std::this_thread::get_id() == pollThread_;
        if (!onPollThread)
            avahi_threaded_poll_lock(poll_);
        startResolve(name, timeoutSeconds);
        if (!onPollThread)
            avahi_threaded_poll_unlock(poll_);
    }

    void stop() override
    {
        if (poll_ == nullptr)
            return;
        avahi_threaded_poll_stop(poll_);  // joins the poll thread: no callback after this
        const AvahiPoll* api = avahi_threaded_poll_get(poll_);
        for (auto& [id, pending] : pending_) {
            if (pending->resolver != nullptr)
                avahi_service_resolver_free(pending->resolver);
            if (pending->timeout != nullptr)
                api->timeout_free(pending->timeout);
        }
        pending_.clear();
        avahi_client_free(client_);  // frees the browser too
        client_ = nullptr;
        browser_ = nullptr;
        avahi_threaded_poll_free(poll_);
        poll_ = nullptr;
    }

private:
    struct Location {
        AvahiIfIndex interface;
        AvahiProtocol protocol;
        std::string type;
        std::string domain;
    };
    struct Pending {
        AvahiBrowser* owner = nullptr;
        int id = 0;
        std::string name;
        AvahiServiceResolver* resolver = nullptr;
        AvahiTimeout* timeout = nullptr;
    };

    void startResolve(const std::string& name, double timeoutSeconds)
    {
        auto found = found_.find(name);
        if (found == found_.end()) {
            listener_.serviceDidNotResolve(name);
            return;
        }
        auto pending = std::make_unique<Pending>();
        pending->owner = this;
        pending->id = nextId_++;
        pending->name = name;
        pending->resolver = avahi_service_resolver_new(
            client_, found->second.interface, found->second.protocol, name.c_str(), found->second.type.c_str(),
            found->second.domain.c_str(), AVAHI_PROTO_UNSPEC, static_cast<AvahiLookupFlags>(0), &resolveCallback,
            pending.get());
        if (pending->resolver == nullptr) {
            listener_.serviceDidNotResolve(name);
            return;
        }
        timeval deadline{};
        avahi_elapse_time(&deadline, static_cast<unsigned>(timeoutSeconds * 1000), 0);
        pending->timeout = avahi_threaded_poll_get(poll_)->timeout_new(avahi_threaded_poll_get(poll_), &deadline,
                                                                      &timeoutCallback, pending.get());
        pending_[pending->id] = std::move(pending);
    }

    // On the poll thread: ends one resolution, frees its Avahi objects.
    void finish(Pending* pending, bool resolved, const std::string& host, uint16_t port)
    {
        const std::string name = pending->name;
        if (pending->resolver != nullptr)
            avahi_service_resolver_free(pending->resolver);
        if (pending->timeout != nullptr)
            avahi_threaded_poll_get(poll_)->timeout_free(pending->timeout);
        pending_.erase(pending->id);
        if (resolved)
            listener_.serviceResolved(name, host, port);
        else
            listener_.serviceDidNotResolve(name);
    }

    static void browseCallback(AvahiServiceBrowser*, AvahiIfIndex interface, AvahiProtocol protocol,
                               AvahiBrowserEvent event, const char* name, const char* type, const char* domain,
                               AvahiLookupResultFlags, void* context)
    {
        auto* self = static_cast<AvahiBrowser*>(context);
        self->pollThread_ = std::this_thread::get_id();
        if (event == AVAHI_BROWSER_FAILURE) {
            self->listener_.searchFailed(std::string("Avahi: ")
                                         + avahi_strerror(avahi_client_errno(self->client_)));
            return;
        }
        if (event != AVAHI_BROWSER_NEW || name == nullptr)
            return;
        // One service is seen once per interface and protocol; the first
        // sighting is the one reported and resolved.
        if (!self->found_.emplace(name, Location{interface, protocol, type, domain}).second)
            return;
        self->listener_.serviceFound(name);
    }

    static void resolveCallback(AvahiServiceResolver*, AvahiIfIndex, AvahiProtocol, AvahiResolverEvent event,
                                const char*, const char*, const char*, const char* hostName, const AvahiAddress*,
                                uint16_t port, AvahiStringList*, AvahiLookupResultFlags, void* context)
    {
        auto* pending = static_cast<Pending*>(context);
        pending->owner->pollThread_ = std::this_thread::get_id();
        const bool resolved = event == AVAHI_RESOLVER_FOUND && hostName != nullptr;
        pending->owner->finish(pending, resolved, resolved ? hostName : "", port);
    }

    static void timeoutCallback(AvahiTimeout*, void* context)
    {
        auto* pending = static_cast<Pending*>(context);
        pending->owner->finish(pending, false, "", 0);
    }

    ServiceBrowserListener& listener_;
    AvahiThreadedPoll* poll_ = nullptr;
    AvahiClient* client_ = nullptr;
    AvahiServiceBrowser* browser_ = nullptr;
    std::string type_;
    std::string domain_;
    std::map<std::string, Location> found_;
    std::map<int, std::unique_ptr<Pending>> pending_;
    int nextId_ = 1;
    std::atomic<std::thread::id> pollThread_{};
};

}  // namespace

std::unique_ptr<ServiceBrowser> AvahiServiceDiscovery::createBrowser(ServiceBrowserListener& listener)
{
    return std::make_unique<AvahiBrowser>(listener);
}
