#include "controllers/CL12ServiceBrowserDelegate.h"

#include "core/DebugLog.h"

CL12ServiceBrowserDelegate::CL12ServiceBrowserDelegate(std::shared_ptr<NetworkMidiSession> session,
                                                       std::shared_ptr<ServiceDiscovery> discovery)
    : session_(std::move(session)), discovery_(std::move(discovery))
{
}

CL12ServiceBrowserDelegate::~CL12ServiceBrowserDelegate()
{
    stop();
}

void CL12ServiceBrowserDelegate::start()
{
    if (browser_ || !discovery_)
        return;
    browser_ = discovery_->createBrowser(*this);
    browser_->search("_apple-midi._udp.", "local.");
}

void CL12ServiceBrowserDelegate::stop()
{
    if (!browser_)
        return;
    browser_->stop();
    browser_.reset();
}

bool CL12ServiceBrowserDelegate::isBridgeName(const std::string& name)
{
    for (const char* word : {"CL-12", "CL12", "Bridge"}) {
        if (name.find(word) != std::string::npos)
            return true;
    }
    return false;
}

void CL12ServiceBrowserDelegate::serviceFound(const std::string& name)
{
    if (!isBridgeName(name))
        return;
    debugLog("CoreMIDI: Found CL-12 Bridge: " + name);
    browser_->resolve(name, kResolveTimeoutSeconds);
}

void CL12ServiceBrowserDelegate::serviceResolved(const std::string& name, const std::string& hostName, uint16_t port)
{
    debugLog("CoreMIDI: CL-12 Bridge resolved: " + name + " at " + hostName + ":" + std::to_string(port));
    if (hostName.empty()) {
        debugLog("CoreMIDI: Failed to create network host for CL-12 Bridge");
        return;
    }
    const NetworkMidiHost host{name, hostName, port};
    // Only a bridge this search found may connect: the session's policy
    // admits its contacts and nobody else.
    session_->addContact(host);
    if (session_->addConnection(host))
        debugLog("CoreMIDI: Successfully connected to CL-12 Bridge!");
    else
        debugLog("CoreMIDI: Failed to add CL-12 Bridge connection");
}

void CL12ServiceBrowserDelegate::serviceDidNotResolve(const std::string& name)
{
    debugLog("CoreMIDI: Failed to resolve CL-12 Bridge: " + name);
}

void CL12ServiceBrowserDelegate::searchFailed(const std::string& reason)
{
    debugLog("CoreMIDI: Network service browser failed to search");
    debugLog("  -> " + reason);
}
