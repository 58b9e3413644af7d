#pragma once

#include "platform/audio/AudioSystem.h"

#include <memory>

// The audio system the program runs on: the virtual system in real time,
// with the devices of the JSON file named by TONVALE_VIRTUAL_AUDIO, or the
// built-in devices when the variable is unset or the file is unusable (the
// reason is logged); followed by the device of the default JACK server
// (JACK_DEFAULT_SERVER names another) when one runs. No server is one log
// line, not an error: the virtual devices alone are offered then.
std::shared_ptr<AudioSystem> createDefaultAudioSystem();

// The environment variable that names the device description file.
inline constexpr const char* kVirtualAudioEnvironmentVariable = "TONVALE_VIRTUAL_AUDIO";
