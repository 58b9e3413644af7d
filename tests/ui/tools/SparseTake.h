#pragma once

#include "media/WavBytes.h"

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

// A long take made in an instant: a 2-channel 32-bit float WAV whose data
// is a hole in the file (silence) but for one sample of -0.5 on channel 0
// at `loudFrame`. The disk holds a few kilobytes whatever the size.
inline bool writeSparseTake(const std::string& path, uint32_t dataBytes, int64_t loudFrame)
{
    const WavBytes header = WavBytes::form(false).fmt(3, 2, 48000, 32).id("data").u32(dataBytes);
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const float loud = -0.5f;
    const long loudAt = static_cast<long>(header.bytes.size() + static_cast<uint64_t>(loudFrame) * 8);
    const bool ok = std::fwrite(header.bytes.data(), 1, header.bytes.size(), file) == header.bytes.size() &&
                    ::ftruncate(::fileno(file), static_cast<off_t>(header.bytes.size() + dataBytes)) == 0 &&
                    std::fseek(file, loudAt, SEEK_SET) == 0 && std::fwrite(&loud, sizeof loud, 1, file) == 1;
    return std::fclose(file) == 0 && ok;
}
