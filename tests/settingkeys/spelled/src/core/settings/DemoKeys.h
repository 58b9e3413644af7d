#pragma once

// A catalogue for the check's own test: one key, one prefix, one default.
namespace DemoKeys {

inline constexpr char kVolume[] = "demo.volume";
inline constexpr char kLevelPrefix[] = "demo.level.";
inline constexpr char kVolumeDefault[] = "demo.loud";

} // namespace DemoKeys
