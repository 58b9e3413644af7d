#pragma once

#include <cstdint>

// Little-endian field access for the byte layouts of WAV and RF64 headers.

inline uint16_t readLittleEndian16(const uint8_t* bytes)
{
    return static_cast<uint16_t>(bytes[0] | (bytes[1] << 8));
}

inline uint32_t readLittleEndian32(const uint8_t* bytes)
{
    return static_cast<uint32_t>(bytes[0]) | (static_cast<uint32_t>(bytes[1]) << 8) |
           (static_cast<uint32_t>(bytes[2]) << 16) | (static_cast<uint32_t>(bytes[3]) << 24);
}

inline uint64_t readLittleEndian64(const uint8_t* bytes)
{
    return static_cast<uint64_t>(readLittleEndian32(bytes)) |
           (static_cast<uint64_t>(readLittleEndian32(bytes + 4)) << 32);
}

inline void writeLittleEndian64(uint8_t* bytes, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        bytes[i] = static_cast<uint8_t>(value >> (8 * i));
}
