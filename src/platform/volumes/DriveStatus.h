#pragma once

#include "platform/volumes/MountedVolume.h"

#include <string>
#include <vector>

// Recording time left on a drive: a take writes about 8,640,000 bytes per
// channel per minute whatever the format, so the figure only needs the
// channel count (armed tracks + the mix).
constexpr double kBytesPerChannelMinute = 8'640'000.0;

// Unrounded minutes left; 0 for no space.
double recordingMinutesLeft(double availableBytes, int channels);
// "--" for no space, "59m", "1h0m", "41h25m", from 6000 minutes on hours only ("100h").
std::string formatRecordingTimeRemaining(double availableBytes, int channels);
// Below an hour the indicator turns red.
bool isRecordingTimeLow(double availableBytes, int channels);

// The free space in GiB of the ready volume holding `path`, -1 when the path
// is empty, does not exist (a volume's root always does) or no ready volume
// holds it.
double driveFreeSpaceGB(const std::vector<MountedVolume>& volumes, const std::string& path);
// The same for a backup drive, also -1 when only the system root holds the
// path: an unplugged card's leftover mount point is no drive.
double externalDriveFreeSpaceGB(const std::vector<MountedVolume>& volumes, const std::string& path);

// A volume that may be formatted: valid, ready, not the system root, under a
// volumes root.
bool isFormatCandidate(const MountedVolume& volume);

// "Format External Drive (exFAT)..." is offered only with a candidate mounted
// and no take recording or draining.
bool formatEntryEnabled(const std::vector<MountedVolume>& volumes, bool takeActive);

struct FormatCandidateRow {
    std::string rootPath;
    std::string text;  // "name - root (12.3 GB)"; the name is the root's last part when unnamed
    MountedVolume volume;
};
std::vector<FormatCandidateRow> formatCandidateRows(const std::vector<MountedVolume>& volumes);
// The root path of the first row with `text`; empty when none.
std::string rootPathForRowText(const std::vector<FormatCandidateRow>& rows, const std::string& text);
