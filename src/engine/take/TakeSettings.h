#pragma once

#include "media/BwfFileWriter.h"

#include <string>
#include <vector>

// The recording settings and take metadata that shape one take, as plain
// values. The engine holds the settings and copies them into a take at its
// start, so a change during a take only affects the next one.

// Layout of a take's files on the recording drive.
enum class TakeLayout {
    Polyphonic, // one file holding the mix and every armed track
    Mono,       // one file for the mix and one per armed track
};

constexpr int kFileFormatPolyphonic = 0;
constexpr int kFileFormatMono = 1;
constexpr int kMaxRollSeconds = 30;

// Any stored value other than 0 records mono files; normalising it when it is
// set keeps every later reader (take close, backup) agreeing with what was
// recorded.
int normalizeFileFormat(int fileFormat);
TakeLayout takeLayoutForFileFormat(int fileFormat);

// Pre- and post-roll are limited to what the 60-second ring can give.
int clampRollSeconds(int seconds);

// The take metadata as the engine holds it: the same six fields as the
// engine interface's recording metadata.
struct TakeMetadata {
    std::string project;
    std::string soundRoll;
    std::string scene;
    std::string take;
    std::string notes;
    std::vector<std::string> trackNames; // index = track number, 0-based
};

constexpr const char* kDefaultProject = "Project";
constexpr const char* kDefaultSoundRoll = "001";
constexpr const char* kDefaultTake = "01";

// The take start's snapshot: an empty project, sound roll or take becomes
// "Project", "001" or "01"; scene, notes and track names stay as they are.
TakeMetadata withTakeDefaults(TakeMetadata metadata);

// The settings a take keeps from its start to its close, latched once at the
// start: a settings change during a take cannot relabel or reshape its files.
struct TakeSettingsLatch {
    TakeLayout takeLayout = TakeLayout::Mono;
    BwfFileWriter::SampleFormat takeSampleFormat = BwfFileWriter::Int24;
    int takePrerollSeconds = 0;
    int takePostrollSeconds = 0;
    bool takeNoMix = false; // Bitbucket Mode: the take files carry no mix
};
