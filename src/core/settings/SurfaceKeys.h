#pragma once

// Setting keys of the control surfaces: which controllers to bring back and
// how their faders are assigned. All are read with "" when absent.
namespace SurfaceKeys {

inline constexpr char kControllers[] = "midi.controllers";            // names, '|' between them
inline constexpr char kFaderAssignments[] = "midi.faderAssignments";  // entries, '|' between them
// The assignments of older builds: read once, moved to kFaderAssignments and
// cleared.
inline constexpr char kLegacyAssignments[] = "midi.assignments";

} // namespace SurfaceKeys
