#pragma once

#include <cstddef>
#include <string>

// File and folder names that every drive a recordist carries accepts: exFAT,
// FAT and NTFS refuse \ / : * ? " < > | and control characters in a name,
// drop (or refuse) a trailing dot or space, and hold at most 255 bytes per
// name. The metadata inside a file keeps the text as typed; only names are
// made portable here.

// A name level's byte limit on the file systems above (and on Linux).
constexpr size_t kMaxFileNameBytes = 255;

// Every refused character, and a trailing dot or space, becomes '_'; an
// empty name becomes "_". Other characters, non-ASCII ones included, stay.
std::string portableName(const std::string& name);

// `text` cut to at most `maxBytes` bytes, never inside a UTF-8 character.
std::string shortenUtf8(const std::string& text, size_t maxBytes);

// A track name's share of a mono file name.
constexpr size_t kMaxTrackNameBytesInFileName = 48;

// A track name as part of a mono file name: what portableName changes, and
// spaces, become '_' (spaces too, for names that survive scripts); cut at a
// whole character to kMaxTrackNameBytesInFileName; non-ASCII characters stay.
std::string sanitizeTrackName(const std::string& name);
