#pragma once

#include "engine/AudioEngineBase.h"

#include <string>
#include <vector>

// The backup drives as stored: roots joined by '|' (empty pieces dropped,
// nothing trimmed) and their layouts joined by ',' in the same order. A
// layout reads as a decimal number the way std::stoi does; a piece without
// one counts 0 (polyphonic), and so does a drive with no layout piece.
std::vector<AudioEngineBase::BackupPathInfo> parseBackupDrives(const std::string& paths, const std::string& formats);
