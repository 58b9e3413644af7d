#pragma once

// Setting keys of the take metadata the window edits (project, sound roll,
// scene, take, notes), of the last recorded take and the one before it, and
// of the metadata manager. A key with no k...Default beside it is read with
// its type's empty value ("", false) by every caller, unless its comment
// names the caller's own.
namespace MetadataKeys {

// Read with "" by the window and the sound report, "Project" by the last-take
// folder and the playback dialog (which also takes it for an empty value).
inline constexpr char kProject[] = "metadata.project";
// Read with the take default "001", which callers also put in for an empty one.
inline constexpr char kSoundRoll[] = "metadata.soundroll";
inline constexpr char kScene[] = "metadata.scene";
inline constexpr char kTake[] = "metadata.take";
inline constexpr char kTakeDefault[] = "01";
inline constexpr char kNotes[] = "metadata.notes";
inline constexpr char kPersistNotes[] = "metadata.persistnotes";

inline constexpr char kLastSoundRoll[] = "lastRecording.soundRoll";
inline constexpr char kLastScene[] = "lastRecording.scene";
inline constexpr char kLastTake[] = "lastRecording.take";
inline constexpr char kLastFolderPath[] = "lastRecording.folderPath";
inline constexpr char kPreviousSoundRoll[] = "previousRecording.soundRoll";
inline constexpr char kPreviousScene[] = "previousRecording.scene";
inline constexpr char kPreviousTake[] = "previousRecording.take";
inline constexpr char kPreviousFolderPath[] = "previousRecording.folderPath";
// The last and the previous take field for field, in the same order, for
// moving one to the other.
inline constexpr const char* kLastRecordingFields[] = {kLastSoundRoll, kLastScene, kLastTake, kLastFolderPath};
inline constexpr const char* kPreviousRecordingFields[] = {kPreviousSoundRoll, kPreviousScene, kPreviousTake,
                                                           kPreviousFolderPath};

inline constexpr char kManagerLastFolder[] = "metadataManager.lastDir";

} // namespace MetadataKeys
