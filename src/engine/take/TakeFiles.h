#pragma once

#include "engine/take/StartTimecodeCapture.h"
#include "engine/take/TakeSettings.h"
#include "media/BwfFileWriter.h"
#include "media/PortableFileName.h"

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
constexpr const char* kDefaultRecordingsSubfolder = "/Music/Tonvale Recordings";
constexpr const char* kFallbackRecordingsFolder = "/tmp/Tonvale Recordings";

// Byte budgets that keep every take file name within the 255 bytes a drive
// holds per name, including the longest name the backup side gives a file
// while it copies ("." + tick count + "." + counter + ".tonvale.partial"):
// a track name's part of a mono file name, the longest suffix after the base
// name ("_NN_" + track part + ".wav"), and what is left for the base name.
constexpr size_t kPartialSuffixRoomBytes = 58;
constexpr size_t kMaxTakeFileSuffixBytes = 4 + kMaxTrackNameBytesInFileName + 4;
constexpr size_t kMaxTakeBaseNameBytes = kMaxFileNameBytes - kPartialSuffixRoomBytes - kMaxTakeFileSuffixBytes;

// A project, sound roll, scene or take used in a name: characters that exFAT,
// FAT or NTFS refuse ('/' and '\' among them) and a trailing dot or space
// become '_', and an empty name "_", so no name can climb out of, or collapse
// into, its parent; cut at a whole character to 255 bytes. Ordinary names
// come back unchanged.
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

// A log line of the take start without its "CoreAudio: " beginning: the
// reason as the person at the recorder reads it.
std::string withoutLogPrefix(const std::string& logLine);

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
// path components so a file lands in the take folder and nowhere else. When
// the whole would pass kMaxTakeBaseNameBytes, the longest parts are shortened
// at whole characters; bext and iXML keep the full text.
std::string takeBaseName(const std::string& takeName, const TakeMetadata& metadata);

// The highest numeric take of `metadata`'s project, sound roll and scene among
// the take files in `takeFolder` (names as takeBaseName makes them, polyphonic
// or mono); 0 when there is none. The next take is numbered past it, so a
// take cut short by a crash, or fields brought back from older settings,
// never give a second file the same take.
int highestRecordedTake(const std::string& takeFolder, const TakeMetadata& metadata);

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
