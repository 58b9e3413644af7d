#pragma once

#include "engine/take/TakeSettings.h"

#include <string>

// The name a take file takes at close when project, sound roll, scene or take
// number changed during the take. A take file's name is
//   <take name>_<project>_<sound roll>_[<scene>_]T<take><suffix>
// and only that structure is rewritten: the part between the take name and
// the suffix must be exactly what the take's start values produced, so a
// "T"+take token inside a project, scene or take name is never touched.
//
// Pure; the take close calls it on the ring writer thread.

// The changed-metadata values a take is renamed with: an empty stop value
// falls back to the start value, except the scene (an empty scene is a value).
TakeMetadata effectiveStopMetadata(const TakeMetadata& start, const TakeMetadata& stop);

// True when project, sound roll, scene or take differ (byte comparison).
bool takeNameFieldsDiffer(const TakeMetadata& start, const TakeMetadata& effective);

// The new file name (no folder) for `fileName`, or an empty string when the
// name does not have the structure the start values give it (then it is left
// alone) or would not change.
std::string renamedTakeFileName(const std::string& fileName, const TakeMetadata& start, const TakeMetadata& effective);
