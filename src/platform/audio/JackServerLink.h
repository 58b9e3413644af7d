#pragma once

#include <jack/types.h>

#include <string>

// How every client of ours reaches a JACK server: never by starting one
// (a recorder must not start a server with guessed settings behind the
// recordist's back), by the server's name, with the library's own messages
// going to our log instead of the terminal.
namespace JackServerLink {

// Opens a client on the named server (empty: the default one, which the
// JACK_DEFAULT_SERVER variable may name). Null with a readable reason when
// no server of that name runs or it refuses the client.
jack_client_t* openClient(const std::string& serverName, const std::string& clientName, std::string& error);

// The name the default server goes by: JACK_DEFAULT_SERVER, else "default".
std::string defaultServerName();

}  // namespace JackServerLink
