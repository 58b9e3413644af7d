#pragma once

#include <string>

// Setting keys of the configurable hotkeys: one per action number, holding the
// key sequence in Qt's portable text ("" when the action keeps its default).
namespace HotkeyKeys {

inline constexpr char kPrefix[] = "hotkey.";

inline std::string actionKey(int action) { return kPrefix + std::to_string(action); }

} // namespace HotkeyKeys
