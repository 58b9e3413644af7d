#pragma once

#include "platform/volumes/MountedVolume.h"

#include <memory>
#include <optional>
#include <string>
#include <vector>

// The mounted volumes of the machine. The real one reads the system at each
// call; the virtual one answers what a test put in. Not thread-safe: the GUI
// thread asks.
class VolumeSystem {
public:
    virtual ~VolumeSystem() = default;

    // In the system's order.
    virtual std::vector<MountedVolume> mountedVolumes() const = 0;

    // The valid, ready volume holding `path` (the longest mounted root that is
    // the path or one of its parent folders); nothing when none does.
    std::optional<MountedVolume> volumeForPath(const std::string& path) const;
};

// The process-wide volume system: the real one unless a test installed another.
VolumeSystem& volumeSystem();
// Installs `system` (not owned) in place of the real one; nullptr restores it.
void installVolumeSystem(VolumeSystem* system);
