#include "platform/volumes/BackupDriveAlarm.h"

std::string BackupDriveAlarm::refresh(const Poll& poll)
{
    std::string logLine;
    if (poll.hasEngine && !poll.path.empty() && !raised_ && poll.engineError) {
        raised_ = true;
        logLine = "External drive " + std::to_string(driveNumber_) + " error detected";
    }
    if (poll.path.empty()) {
        raised_ = false;
        return logLine;
    }
    if (!poll.accessible) {
        if (!raised_) {
            raised_ = true;
            logLine = "External drive " + std::to_string(driveNumber_) + " not accessible: " + poll.path;
        }
    } else if (raised_ && !poll.takeActive && (!poll.hasEngine || !poll.engineError)) {
        raised_ = false;
    }
    return logLine;
}

bool BackupDriveAlarm::acknowledge()
{
    const bool was = raised_;
    raised_ = false;
    return was;
}
