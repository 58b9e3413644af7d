#pragma once

#include "media/BwfFileWriter.h"
#include "media/BwfMetadataReader.h"

#include <optional>
#include <string>
#include <vector>

// Names and metadata of the two take layouts on a backup drive: one
// polyphonic file per take, or one mono file per channel.

// The position of the "_" that starts a mono file's two-digit track field:
// the first "_T" at or after `start` whose next "_" is followed by two
// decimal digits and another "_". None when there is no such field.
std::optional<size_t> findMonoTrackSeparator(const std::string& stem, size_t start);

// What a mono file's stem says about its take. A stem is valid when it has
// an "_" and a track field after it.
struct MonoTakeName {
    bool valid = false;
    std::string takeKey;   // from the first "_" up to the track field
    std::string baseName;  // the stem up to the track field
    int trackField = -1;   // the two digits: 00 the mix, 01 the first track
};
MonoTakeName parseMonoTakeName(const std::string& stem);

// The suffix of channel `channel` of a polyphonic take split into mono
// files: MIX for the mix at channel 0, else T01, T02, ... . Without a mix
// (hasMix false) channel 0 is T01.
std::string monoChannelSuffix(int channel, bool hasMix);

// The bext and iXML record of a converted file, from its source's metadata;
// trackNames stays empty for the conversion to fill.
BwfFileWriter::BextChunk bextFromMetadata(const BwfMetadata& metadata);

// The drive whose root holds `destinationDir`: among the first eight roots
// (empty ones never match), the longest that equals the folder or is one of
// its leading path components. -1 when none does.
int backupDriveForDestination(const std::vector<std::string>& driveRoots, const std::string& destinationDir);
