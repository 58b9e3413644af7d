#pragma once

#include <string>

// Setting keys of the playback routing: per playback channel (0-based) the
// output chosen for it, "" when not routed.
namespace PlaybackKeys {

inline constexpr char kOutputChannelPrefix[] = "playback/output_ch";

inline std::string outputChannelKey(int channel) { return kOutputChannelPrefix + std::to_string(channel); }

} // namespace PlaybackKeys
