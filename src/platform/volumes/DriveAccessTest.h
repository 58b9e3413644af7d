#pragma once

#include "platform/volumes/VolumeSystem.h"

#include <string>

// Tests that a backup drive can be written: on the mounted volume holding the
// drive path (never the system root, where a missing card's mount point would
// silently take its backups), writes "<path>/Tonvale/.tonvale_access_test"
// and removes it again. The drive folder itself must exist; only the
// "Tonvale" folder in it is created. GUI thread.
struct DriveAccessResult {
    enum class Status { Granted, Missing, NotWritable, Error };
    Status status = Status::Error;
    std::string reason;  // the system's reason for Error, empty otherwise

    bool granted() const { return status == Status::Granted; }
};

DriveAccessResult testDriveWriteAccess(const std::string& path, const VolumeSystem& volumes);

// The text of the "Drive Access Required" box, with the Linux advice; `error`
// empty for a plain refusal to write.
std::string driveAccessAdvice(const std::string& path, const std::string& error);
// The text for a drive that is not mounted.
std::string driveMissingText(const std::string& path);
