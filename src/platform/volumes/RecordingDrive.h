#pragma once

#include "platform/volumes/VolumeSystem.h"

#include <string>

// Whether a take may be written under a folder: a card that was pulled,
// unmounted or is being formatted leaves its mount point behind as a plain
// folder on the system disk, and a take written there is on no card at all.
//
// Threads: the formatting marks are kept under a mutex, so the take close
// (ring writer thread) may ask as well as the GUI thread that sets them;
// recordingDriveProblem reads the volume system and the volumes roots, so
// it runs on the GUI thread.

// A volume being formatted, by its root path, from before its unmount until
// the format has ended. Marks count: a root marked twice needs two clears.
void markVolumeFormatting(const std::string& rootPath);
void clearVolumeFormatting(const std::string& rootPath);
// The root of the volume being formatted that holds `path`; empty when none.
std::string formattingVolumeHolding(const std::string& path);

// Marks a root for the lifetime of the guard.
class VolumeFormattingMark {
public:
    explicit VolumeFormattingMark(std::string rootPath) : rootPath_(std::move(rootPath))
    {
        markVolumeFormatting(rootPath_);
    }
    ~VolumeFormattingMark() { clearVolumeFormatting(rootPath_); }
    VolumeFormattingMark(const VolumeFormattingMark&) = delete;
    VolumeFormattingMark& operator=(const VolumeFormattingMark&) = delete;

private:
    std::string rootPath_;
};

// Why no take may be recorded under `folder`, as the recordist reads it;
// empty when it may. Refused: a folder on a volume being formatted, and a
// folder under a volumes root that no volume of its own holds (only the
// system disk, or a volume mounted above the volumes root). A folder
// outside the volumes roots is never refused here.
std::string recordingDriveProblem(const std::string& folder, const VolumeSystem& volumes);
// The same against volumes already read.
std::string recordingDriveProblem(const std::string& folder, const std::vector<MountedVolume>& volumes);
