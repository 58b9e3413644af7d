#pragma once

#include <string>

// Setting keys of the track list and the main window's strips: how many
// tracks, and per track (0-based index) its name, colour, arm state, fader
// and automix group. A key with no k...Default beside it is read with its
// type's empty value ("", false, 0) by every caller, unless its comment names
// the caller's own.
namespace TrackKeys {

// Callers read it with their own default (8 for the main window, 24 for the
// channel strip, 32 for the aux sends, the shown rows for the routing).
inline constexpr char kCount[] = "track.count";

// Read with "Track <n+1>" by the window and dialogs, "Track_<n+1>" by the
// take files.
inline constexpr char kNamePrefix[] = "track.name.";
// "#rrggbb"; read with the window theme's track colour as default.
inline constexpr char kColorPrefix[] = "track.color.";
inline constexpr char kArmPrefix[] = "arm.";
// Tenths of a dB; read with the fader's own bottom as default.
inline constexpr char kFaderPrefix[] = "fader.";
inline constexpr char kAutomixPrefix[] = "automix.";  // group 0 to 4
inline constexpr char kAutomixGlobal[] = "automix.global";
inline constexpr bool kAutomixGlobalDefault = true;

inline std::string nameKey(int track) { return kNamePrefix + std::to_string(track); }
inline std::string colorKey(int track) { return kColorPrefix + std::to_string(track); }
inline std::string armKey(int track) { return kArmPrefix + std::to_string(track); }
inline std::string faderKey(int track) { return kFaderPrefix + std::to_string(track); }
inline std::string automixKey(int track) { return kAutomixPrefix + std::to_string(track); }

} // namespace TrackKeys
