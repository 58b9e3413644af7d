#pragma once

#include "media/BwfFileWriter.h"
#include "media/BwfMetadataReader.h"

#include <optional>
#include <string>
#include <vector>

// Names and metadata of the two take layouts on a backup drive: one
// polyphonic file per take, or one mono file per channel; and where a take
// folder of the recording drive lies on a backup drive.

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

// The stems a take file's copies are named after on a drive of either
// layout: its own stem and, for a mono file, its base name (the stem up to
// the track field), after which a joined polyphonic copy is named. Each file
// of a take draws its own leading name, so these single out one take even
// where two takes share project, roll, scene and take number.
std::vector<std::string> takeStemsOfFile(const std::string& fileName);

// Whether `fileName` (a ".wav" in any letter case) is a copy of a take file
// with one of `takeStems`, in either layout: "<stem>.wav", or a split
// "<stem>_MIX.wav", "<stem>_T<n>.wav" or "<stem>_<nn>_<track>.wav".
bool isFileOfTake(const std::string& fileName, const std::vector<std::string>& takeStems);

// The folder on the backup drive `driveRoot` that mirrors `recordingFolder`
// of the recording root: <driveRoot>/Tonvale/<the folder's path below the
// root>. Empty when the folder does not lie below (or at) the root.
std::string backupFolderFor(const std::string& recordingRoot, const std::string& recordingFolder,
                            const std::string& driveRoot);
