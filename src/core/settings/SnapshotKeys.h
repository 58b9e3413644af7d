#pragma once

// Setting keys of the configuration snapshots: the folder they were last
// saved to or loaded from ("" when none was chosen yet).
namespace SnapshotKeys {

inline constexpr char kFolder[] = "snapshots.directory";

} // namespace SnapshotKeys
