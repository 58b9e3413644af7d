#include "platform/netmidi/VirtualServiceDiscovery.h"

#include <algorithm>

class VirtualServiceDiscovery::Browser : public ServiceBrowser {
public:
    Browser(VirtualServiceDiscovery& owner, ServiceBrowserListener& listener) : owner_(owner), listener_(listener) {}
    ~Browser() override
    {
        stop();
        owner_.unregister(this);
    }

    void search(const std::string&, const std::string&) override
    {
        std::lock_guard<std::recursive_mutex> delivery(owner_.deliveryMutex_);
        std::vector<std::string> names;
        bool failed = false;
        {
            std::lock_guard<std::mutex> lock(owner_.mutex_);
            failed = owner_.failSearches_;
            if (!failed) {
                owner_.searching_.insert(this);
                for (const auto& [name, service] : owner_.services_)
                    names.push_back(name);
            }
        }
        if (failed) {
            listener_.searchFailed("virtual search refused");
            return;
        }
        for (const std::string& name : names)
            listener_.serviceFound(name);
    }

    void resolve(const std::string& name, double timeoutSeconds) override
    {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        ++owner_.resolveRequests_;
        owner_.pending_.push_back(PendingResolve{this, name, owner_.nowSeconds_ + timeoutSeconds});
    }

    void stop() override
    {
        std::lock_guard<std::recursive_mutex> delivery(owner_.deliveryMutex_);
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        owner_.searching_.erase(this);
        std::erase_if(owner_.pending_, [this](const PendingResolve& p) { return p.browser == this; });
    }

    ServiceBrowserListener& listener() { return listener_; }

private:
    VirtualServiceDiscovery& owner_;
    ServiceBrowserListener& listener_;
};

VirtualServiceDiscovery::VirtualServiceDiscovery() = default;
VirtualServiceDiscovery::~VirtualServiceDiscovery() = default;

std::unique_ptr<ServiceBrowser> VirtualServiceDiscovery::createBrowser(ServiceBrowserListener& listener)
{
    auto browser = std::make_unique<Browser>(*this, listener);
    std::lock_guard<std::mutex> lock(mutex_);
    live_.insert(browser.get());
    return browser;
}

void VirtualServiceDiscovery::unregister(Browser* browser)
{
    std::lock_guard<std::mutex> lock(mutex_);
    live_.erase(browser);
}

void VirtualServiceDiscovery::publish(const std::string& name, const std::string& hostName, uint16_t port,
                                      bool resolvable)
{
    std::lock_guard<std::recursive_mutex> delivery(deliveryMutex_);
    std::vector<Browser*> browsers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        services_[name] = Service{hostName, port, resolvable};
        browsers.assign(searching_.begin(), searching_.end());
    }
    for (Browser* browser : browsers)
        browser->listener().serviceFound(name);
}

void VirtualServiceDiscovery::failSearches(bool fail)
{
    std::lock_guard<std::mutex> lock(mutex_);
    failSearches_ = fail;
}

void VirtualServiceDiscovery::advanceSeconds(double seconds)
{
    std::lock_guard<std::recursive_mutex> delivery(deliveryMutex_);
    struct Outcome {
        Browser* browser;
        std::string name;
        bool resolved;
        Service service;
    };
    std::vector<Outcome> outcomes;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        nowSeconds_ += seconds;
        std::vector<PendingResolve> waiting;
        for (const PendingResolve& p : pending_) {
            auto service = services_.find(p.name);
            if (service != services_.end() && service->second.resolvable)
                outcomes.push_back({p.browser, p.name, true, service->second});
            else if (nowSeconds_ >= p.deadlineSeconds)
                outcomes.push_back({p.browser, p.name, false, {}});
            else
                waiting.push_back(p);
        }
        pending_.swap(waiting);
    }
    for (const Outcome& outcome : outcomes) {
        if (outcome.resolved)
            outcome.browser->listener().serviceResolved(outcome.name, outcome.service.hostName, outcome.service.port);
        else
            outcome.browser->listener().serviceDidNotResolve(outcome.name);
    }
}

int VirtualServiceDiscovery::liveBrowserCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(live_.size());
}

int VirtualServiceDiscovery::resolveRequestCount() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return resolveRequests_;
}

namespace {

std::string hostText(const NetworkMidiHost& host)
{
    return host.name + "@" + host.address + ":" + std::to_string(host.port);
}

}  // namespace

void VirtualNetworkMidiSession::setEnabled(bool enabled)
{
    std::lock_guard<std::mutex> lock(mutex_);
    enabled_ = enabled;
}

void VirtualNetworkMidiSession::setConnectionPolicy(ConnectionPolicy policy)
{
    std::lock_guard<std::mutex> lock(mutex_);
    policy_ = policy;
}

void VirtualNetworkMidiSession::addContact(const NetworkMidiHost& host)
{
    std::lock_guard<std::mutex> lock(mutex_);
    contacts_.push_back(hostText(host));
}

bool VirtualNetworkMidiSession::addConnection(const NetworkMidiHost& host)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (refuse_)
        return false;
    connections_.push_back(hostText(host));
    return true;
}

void VirtualNetworkMidiSession::refuseConnections(bool refuse)
{
    std::lock_guard<std::mutex> lock(mutex_);
    refuse_ = refuse;
}

bool VirtualNetworkMidiSession::enabled() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return enabled_;
}

NetworkMidiSession::ConnectionPolicy VirtualNetworkMidiSession::policy() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return policy_;
}

std::vector<std::string> VirtualNetworkMidiSession::contacts() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return contacts_;
}

std::vector<std::string> VirtualNetworkMidiSession::connections() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return connections_;
}
