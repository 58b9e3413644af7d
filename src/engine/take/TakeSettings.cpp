#include "engine/take/TakeSettings.h"

#include <algorithm>

int normalizeFileFormat(int fileFormat)
{
    return fileFormat == kFileFormatPolyphonic ? kFileFormatPolyphonic : kFileFormatMono;
}

TakeLayout takeLayoutForFileFormat(int fileFormat)
{
    return normalizeFileFormat(fileFormat) == kFileFormatPolyphonic ? TakeLayout::Polyphonic : TakeLayout::Mono;
}

int clampRollSeconds(int seconds)
{
    return std::clamp(seconds, 0, kMaxRollSeconds);
}

TakeMetadata withTakeDefaults(TakeMetadata metadata)
{
    if (metadata.project.empty())
        metadata.project = kDefaultProject;
    if (metadata.soundRoll.empty())
        metadata.soundRoll = kDefaultSoundRoll;
    if (metadata.take.empty())
        metadata.take = kDefaultTake;
    return metadata;
}
