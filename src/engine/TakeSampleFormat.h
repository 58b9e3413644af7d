#pragma once

// The sample format of take files, carried as the file writer's SampleFormat
// value (0 16-bit, 1 24-bit, 2 32-bit integer, 3 32-bit float). Stands in
// until the broadcast-wave writer is part of the build; it then becomes an
// alias of that enumeration and kTakeSampleFormatInt24 its Int24 value.
using TakeSampleFormat = int;

inline constexpr TakeSampleFormat kTakeSampleFormatInt24 = 1;
