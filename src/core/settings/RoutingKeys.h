#pragma once

#include <string>
#include <string_view>

// Setting keys of the signal routing: each track's input and output port
// (0-based track index), the bus outputs, the talkback inputs (slate mic and
// the two COM inputs) and the user's names for ports. Port lists are stored as
// text; every caller reads these keys with "", false or 0 when absent.
namespace RoutingKeys {

inline constexpr char kTrackInputPrefix[] = "track.input.";
inline constexpr char kTrackOutputPrefix[] = "track.output.";
inline constexpr char kMixOutput[] = "mix.output";
inline constexpr char kComsOutput[] = "coms.output";
inline constexpr char kMonitorOutput[] = "monitor.output";

inline constexpr char kSlateEnabled[] = "slate.enabled";
inline constexpr char kSlateInput[] = "slate.input";
inline constexpr char kSlateGain[] = "slate.gain";
inline constexpr char kCom1Enabled[] = "com1.enabled";
inline constexpr char kCom1Input[] = "com1.input";
inline constexpr char kCom2Enabled[] = "com2.enabled";
inline constexpr char kCom2Input[] = "com2.input";

inline constexpr char kInputLabelPrefix[] = "input.label.";
inline constexpr char kOutputLabelPrefix[] = "output.label.";

inline std::string trackInputKey(int track) { return kTrackInputPrefix + std::to_string(track); }
inline std::string trackOutputKey(int track) { return kTrackOutputPrefix + std::to_string(track); }

// A port's label key: the prefix and the port name with every space, '/' and
// '\' as '_', so that no port name can make a key the file reads back as
// another one.
inline std::string portLabelKey(const char* prefix, std::string_view port)
{
    std::string key = prefix;
    key.append(port);
    for (char& c : key)
        if (c == ' ' || c == '/' || c == '\\')
            c = '_';
    return key;
}
inline std::string inputLabelKey(std::string_view port) { return portLabelKey(kInputLabelPrefix, port); }
inline std::string outputLabelKey(std::string_view port) { return portLabelKey(kOutputLabelPrefix, port); }

} // namespace RoutingKeys
