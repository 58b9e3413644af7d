#include "platform/audio/JackServerLink.h"

#include "core/DebugLog.h"

#include <jack/jack.h>

#include <cstdlib>
#include <mutex>

namespace {

// The library reports every failed connection attempt on its error channel;
// a server that is not running is an answer, not an error worth a log line.
thread_local bool quietOpen = false;

void logLibraryError(const char* message)
{
    if (!quietOpen)
        debugLog("JACK: library: " + std::string(message));
}

void dropLibraryInfo(const char* /*message*/) {}

void installMessageHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        jack_set_error_function(&logLibraryError);
        jack_set_info_function(&dropLibraryInfo);
    });
}

std::string statusText(jack_status_t status, const std::string& serverName)
{
    if (status & JackServerFailed)
        return "no server named '" + serverName + "' is running";
    if (status & JackVersionError)
        return "the server speaks another protocol version";
    if (status & JackInvalidOption)
        return "the server refused the client's options";
    if (status & JackNameNotUnique)
        return "the client name is taken";
    if (status & JackShmFailure)
        return "the server's shared memory cannot be reached";
    if (status & JackInitFailure)
        return "the client could not be initialised";
    return "the server refused the client (status " + std::to_string(static_cast<int>(status)) + ")";
}

}  // namespace

namespace JackServerLink {

jack_client_t* openClient(const std::string& serverName, const std::string& clientName, std::string& error)
{
    installMessageHandlers();
    jack_status_t status{};
    quietOpen = true;
    jack_client_t* client =
        serverName.empty()
            ? jack_client_open(clientName.c_str(), JackNoStartServer, &status)
            : jack_client_open(clientName.c_str(),
                               static_cast<jack_options_t>(JackNoStartServer | JackServerName), &status,
                               serverName.c_str());
    quietOpen = false;
    if (client == nullptr)
        error = statusText(status, serverName.empty() ? defaultServerName() : serverName);
    return client;
}

std::string defaultServerName()
{
    const char* name = std::getenv("JACK_DEFAULT_SERVER");
    return name != nullptr && *name != '\0' ? std::string(name) : std::string("default");
}

}  // namespace JackServerLink
