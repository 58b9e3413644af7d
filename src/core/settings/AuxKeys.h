#pragma once

#include <string>

// Setting keys of the aux buses (0-based aux index): level, output port,
// delay, the send from the mix, and each track's send (0-based track index).
// A key with no k...Default beside it is read with its type's empty value
// ("", false, 0) by every caller.
namespace AuxKeys {

inline constexpr char kLevelPrefix[] = "aux.level.";  // linear gain
inline constexpr float kLevelDefault = 1.0f;
inline constexpr char kOutputPrefix[] = "aux.output.";
inline constexpr char kDelayPrefix[] = "aux.delay.";  // milliseconds
inline constexpr char kMixSendPrefix[] = "aux.mixsend.";
inline constexpr char kMixSendPreFaderPrefix[] = "aux.mixsend.prefader.";
inline constexpr char kSendPrefix[] = "aux.send.";
inline constexpr char kSendPreFaderPrefix[] = "aux.send.prefader.";

inline std::string levelKey(int aux) { return kLevelPrefix + std::to_string(aux); }
inline std::string outputKey(int aux) { return kOutputPrefix + std::to_string(aux); }
inline std::string delayKey(int aux) { return kDelayPrefix + std::to_string(aux); }
inline std::string mixSendKey(int aux) { return kMixSendPrefix + std::to_string(aux); }
inline std::string mixSendPreFaderKey(int aux) { return kMixSendPreFaderPrefix + std::to_string(aux); }
// "<prefix><track>.<aux>"
inline std::string sendKey(int track, int aux)
{
    return kSendPrefix + std::to_string(track) + "." + std::to_string(aux);
}
inline std::string sendPreFaderKey(int track, int aux)
{
    return kSendPreFaderPrefix + std::to_string(track) + "." + std::to_string(aux);
}

} // namespace AuxKeys
