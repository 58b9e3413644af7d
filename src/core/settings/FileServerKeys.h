#pragma once

// Setting keys of the file server: the folder it shares, its password, its
// TCP port and whether it runs. The port is read with the dialog's own
// default; the others with "" or false.
namespace FileServerKeys {

inline constexpr char kFolder[] = "fileserver.folder";
inline constexpr char kPassword[] = "fileserver.password";
inline constexpr char kPort[] = "fileserver.port";
inline constexpr char kEnabled[] = "fileserver.enabled";

} // namespace FileServerKeys
