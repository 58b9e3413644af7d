#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

// Reading, appending and storing little-endian integers in byte arrays, whatever the
// host's byte order: every integer in a RIFF/RF64 file is little-endian.
namespace LittleEndianBytes {

inline uint16_t load16(const uint8_t* in)
{
    return static_cast<uint16_t>(in[0] | (in[1] << 8));
}

inline uint32_t load32(const uint8_t* in)
{
    return static_cast<uint32_t>(in[0]) | (static_cast<uint32_t>(in[1]) << 8) |
           (static_cast<uint32_t>(in[2]) << 16) | (static_cast<uint32_t>(in[3]) << 24);
}

inline uint64_t load64(const uint8_t* in)
{
    return static_cast<uint64_t>(load32(in)) | (static_cast<uint64_t>(load32(in + 4)) << 32);
}

inline void store16(uint8_t* out, uint16_t value)
{
    out[0] = static_cast<uint8_t>(value);
    out[1] = static_cast<uint8_t>(value >> 8);
}

// One store where the host is little-endian itself: sample conversion writes
// through this for every word of a take.
inline void store32(uint8_t* out, uint32_t value)
{
    if constexpr (std::endian::native == std::endian::little) {
        std::memcpy(out, &value, sizeof value);
    } else {
        for (int i = 0; i < 4; ++i)
            out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

inline void store64(uint8_t* out, uint64_t value)
{
    for (int i = 0; i < 8; ++i)
        out[i] = static_cast<uint8_t>(value >> (8 * i));
}

// Grows by resize and copies, rather than vector::insert, which GCC 12 at -O3
// misreads as an overflow.
inline void appendRaw(std::vector<uint8_t>& bytes, const void* source, size_t count)
{
    if (count == 0)
        return;
    const size_t oldSize = bytes.size();
    bytes.resize(oldSize + count);
    std::memcpy(bytes.data() + oldSize, source, count);
}

inline void append16(std::vector<uint8_t>& bytes, uint16_t value)
{
    uint8_t buffer[2];
    store16(buffer, value);
    appendRaw(bytes, buffer, sizeof buffer);
}

inline void append32(std::vector<uint8_t>& bytes, uint32_t value)
{
    uint8_t buffer[4];
    store32(buffer, value);
    appendRaw(bytes, buffer, sizeof buffer);
}

inline void append64(std::vector<uint8_t>& bytes, uint64_t value)
{
    uint8_t buffer[8];
    store64(buffer, value);
    appendRaw(bytes, buffer, sizeof buffer);
}

// Appends the text's bytes (a four-character chunk id, for instance).
inline void appendText(std::vector<uint8_t>& bytes, std::string_view text)
{
    appendRaw(bytes, text.data(), text.size());
}

// Appends exactly fieldBytes bytes: the text's first bytes, then NULs.
inline void appendFixedText(std::vector<uint8_t>& bytes, std::string_view text, size_t fieldBytes)
{
    const size_t used = text.size() < fieldBytes ? text.size() : fieldBytes;
    appendRaw(bytes, text.data(), used);
    bytes.resize(bytes.size() + fieldBytes - used, 0);
}

} // namespace LittleEndianBytes
