#include "engine/take/TakeRename.h"

#include "engine/take/TakeFiles.h"

TakeMetadata effectiveStopMetadata(const TakeMetadata& start, const TakeMetadata& stop)
{
    TakeMetadata effective = start;
    effective.project = stop.project.empty() ? start.project : stop.project;
    effective.soundRoll = stop.soundRoll.empty() ? start.soundRoll : stop.soundRoll;
    effective.scene = stop.scene;
    effective.take = stop.take.empty() ? start.take : stop.take;
    return effective;
}

bool takeNameFieldsDiffer(const TakeMetadata& start, const TakeMetadata& effective)
{
    return start.project != effective.project || start.soundRoll != effective.soundRoll
           || start.scene != effective.scene || start.take != effective.take;
}

std::string renamedTakeFileName(const std::string& fileName, const TakeMetadata& start, const TakeMetadata& effective)
{
    // The take name is everything before the first '_' (three letters and
    // four digits, never containing one).
    const size_t separator = fileName.find('_');
    if (separator == std::string::npos || separator == 0)
        return {};
    const std::string takeName = fileName.substr(0, separator);
    const std::string oldBase = takeBaseName(takeName, start);
    if (fileName.compare(0, oldBase.size(), oldBase) != 0)
        return {};
    // The suffix begins right after the take token: "", ".wav" or "_..." in
    // every name the take start makes; anything else (a longer take number
    // sharing the prefix) is not this structure.
    const std::string suffix = fileName.substr(oldBase.size());
    if (!suffix.empty() && suffix[0] != '.' && suffix[0] != '_')
        return {};
    const std::string renamed = takeBaseName(takeName, effective) + suffix;
    return renamed == fileName ? std::string() : renamed;
}
