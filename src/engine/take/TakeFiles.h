#pragma once

#include "engine/take/StartTimecodeCapture.h"
#include "engine/take/TakeSettings.h"
#include "media/BwfFileWriter.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Where a take goes and what its files are called, as pure functions the take
// start calls before it opens the files:
//   <base folder>/<project>/<sound roll>/<take name>_<project>_<sound roll>_[<scene>_]T<take><suffix>
// with the suffix ".wav" for the polyphonic file, "_00_MIX.wav" for the mono
// mix file and "_NN_<track name>.wav" for mono track files.

constexpr int kMaxTracks = 32;
constexpr const char* kMixChannelName = "MIX";
constexpr const char* kSaveLocationKey = "media.saveLocation";
constexpr const char* kDefaultRecordingsSubfolder = "/Music/Tonvale Recordings";
constexpr const char* kFallbackRecordingsFolder = "/tmp/Tonvale Recordings";

// Characters that file systems of backup drives refuse in a name become '_'
// (space too, for names that survive scripts); everything else, non-ASCII
// bytes included, stays.
std::string sanitizeTrackName(const std::string& name);

// A project or sound roll name used as one folder level: '/', '\' and control
// characters become '_', and a name that is empty, "." or ".." becomes
// underscores, so no name can climb out of, or collapse into, its parent.
// Ordinary names come back unchanged.
std::string sanitizePathComponent(const std::string& name);

// "media.saveLocation" when set, else $HOME/Music/Tonvale Recordings, else
// /tmp/Tonvale Recordings when there is no (or an empty) home.
std::string baseRecordingFolder(const std::string& saveLocation, const std::optional<std::string>& home);
// The same from the configuration store and the environment.
std::string baseRecordingFolder();

// <root>/<project>/<sound roll>, each level sanitised. Also for backup roots.
std::string takeFolderPath(const std::string& root, const std::string& project, const std::string& soundRoll);

// Creates the base folder and the take folder with their parents. On failure
// gives false and the log line the take start writes.
bool createTakeFolders(const std::string& baseFolder, const std::string& takeFolder, std::string& failureLogLine);

// "track.name.<i>" for every track, default "Track_<i+1>".
std::array<std::string, kMaxTracks> configuredTrackNames();
// Entry i: the metadata's name for track i when present and not empty, else
// the configured one.
std::array<std::string, kMaxTracks> trackNameList(const std::vector<std::string>& metadataTrackNames,
                                                  const std::array<std::string, kMaxTracks>& configuredNames);
// The take's channel names in file order: "MIX" unless `noMix`, then every
// armed track below `trackCount` in ascending order.
std::vector<std::string> bextTrackNames(const std::array<std::string, kMaxTracks>& names,
                                        const std::array<bool, kMaxTracks>& armedAtStart, int trackCount, bool noMix);

// <take name>_<project>_<sound roll>_[<scene>_]T<take>. The metadata is the
// take start's snapshot (defaults applied); its name parts are sanitised as
// path components so a file lands in the take folder and nowhere else.
std::string takeBaseName(const std::string& takeName, const TakeMetadata& metadata);

// What kind of file a take file is; decides its log lines and whether its
// failure fails the start.
enum class TakeFileRole {
    Polyphonic, // mix (unless no mix) and armed tracks; failure fails the start
    MonoMix,    // failure fails the start
    MonoTrack,  // failure leaves that track without a file
};

// One file of a take, before its take name is drawn: every file draws its own
// name (the first drawn is the take's name) right before it is opened.
struct TakeFilePlan {
    TakeFileRole role = TakeFileRole::Polyphonic;
    std::string suffix;                       // appended to the base name
    int channelCount = 0;
    int trackIndex = -1;                      // the ring writer's source: -1 mix, else the track
    std::vector<std::string> bextTrackNames;  // unsanitised names for bext and iXML
};

// The files of a take in the order they are opened.
std::vector<TakeFilePlan> planTakeFiles(TakeLayout layout, const std::array<std::string, kMaxTracks>& names,
                                        const std::array<bool, kMaxTracks>& armedAtStart, int trackCount, bool noMix);

// <take folder>/<base name><suffix>.
std::string takeFilePath(const std::string& takeFolder, const std::string& takeName, const TakeMetadata& metadata,
                         const TakeFilePlan& file);

// The bext and iXML record every file of a take carries; only trackNames
// differs per file (from TakeFilePlan::bextTrackNames). Description and coding
// history stay empty: the writer composes its own.
BwfFileWriter::BextChunk makeTakeBext(const TakeMetadata& metadata, const StartTimecodeResult& timecode,
                                      std::vector<std::string> trackNames);
