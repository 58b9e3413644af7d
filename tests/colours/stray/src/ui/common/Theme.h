#pragma once

// The one place a colour may be spelled.
inline constexpr const char* kTextMuted = "#888";
