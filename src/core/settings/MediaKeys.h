#pragma once

// Setting keys of where and how takes are recorded: the save location, the file
// format, pre- and post-roll, the live backup drives and the file counter.
// A key with no k...Default beside it is read with its type's empty value
// ("", false, 0) by every caller, unless its comment names the caller's own.
namespace MediaKeys {

// Read with "" everywhere except by the media settings dialog, which offers
// $HOME/Recordings when none is stored.
inline constexpr char kSaveLocation[] = "media.saveLocation";
inline constexpr char kFileFormat[] = "media.fileFormat";
inline constexpr char kBitDepth[] = "media.bitDepth";
inline constexpr int kBitDepthDefault = 24;
inline constexpr char kPrerollSeconds[] = "media.prerollSeconds";
inline constexpr char kPostrollSeconds[] = "media.postrollSeconds";
inline constexpr char kExternalEnabled[] = "media.externalEnabled";
inline constexpr char kLiveBackupActiveTake[] = "media.liveBackupActiveTake";
inline constexpr char kExternalPaths[] = "media.externalPaths";      // '|' between drives
inline constexpr char kExternalFormats[] = "media.externalFormats";  // ',' between drives

inline constexpr char kRecordingDirectory[] = "recording.directory";
inline constexpr char kExternal1[] = "recording.external1";
inline constexpr char kExternal2[] = "recording.external2";
inline constexpr char kFileNumber[] = "recording.fileNumber";
inline constexpr int kFileNumberDefault = 1;

// Entries every configuration starts with. Nothing reads them back; the lower
// case "media.bitdepth" is a different key from kBitDepth.
inline constexpr char kBuiltInFormat[] = "media.format";
inline constexpr char kBuiltInBitDepth[] = "media.bitdepth";

} // namespace MediaKeys
