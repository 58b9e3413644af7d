#pragma once

#include <string>

// The alarm of one backup drive (EXT1 or EXT2) as the drive display polls it.
// Raised when the engine reports an error on the drive or the drive is not
// accessible; once raised it stays, even after the drive returns, until no
// take records or drains and the engine reports no error, or the recordist
// acknowledges it. Each raise is logged once. GUI thread only.
class BackupDriveAlarm {
public:
    struct Poll {
        std::string path;          // configured drive path; empty when unset
        bool accessible = false;   // a ready volume holds the path
        bool hasEngine = false;
        bool engineError = false;  // the engine's backup error for this drive
        bool takeActive = false;   // a take records or drains
    };

    explicit BackupDriveAlarm(int driveNumber) : driveNumber_(driveNumber) {}

    // Returns the log line of a raise, or empty.
    std::string refresh(const Poll& poll);
    // A click on the raised indicator; the caller clears the engine's error too.
    // False when there was nothing to acknowledge.
    bool acknowledge();

    bool raised() const { return raised_; }

private:
    int driveNumber_;
    bool raised_ = false;
};
