#pragma once

#include "media/LittleEndianBytes.h"

#include <cstddef>
#include <cstdint>

// The ds64 chunk of an RF64 file: the 64-bit RIFF size, data size and sample
// count that do not fit the 32-bit fields, right after "RF64", size, "WAVE".
// A take we write has no table entries after them, so its next chunk starts
// at a fixed offset.
namespace Ds64Chunk {

constexpr int64_t kIdOffset = 12;
constexpr int64_t kSizesOffset = 20;    // riffSize, then dataSize at 28 and sampleCount at 36
constexpr size_t kSizesBytes = 24;      // the three 64-bit sizes
constexpr uint32_t kTakeChunkBytes = 28; // the sizes and a 32-bit table length of zero
constexpr int64_t kTakeEndOffset = 48;  // the first chunk after a take's ds64

static_assert(kIdOffset + 8 == kSizesOffset);
static_assert(kSizesBytes + 4 == kTakeChunkBytes);
static_assert(kSizesOffset + kTakeChunkBytes == kTakeEndOffset);

struct Sizes {
    uint64_t riffSize = 0;
    uint64_t dataSize = 0;
    uint64_t sampleCount = 0;
};

// `in` and `out` hold the kSizesBytes bytes at kSizesOffset.
inline Sizes load(const uint8_t* in)
{
    return {LittleEndianBytes::load64(in), LittleEndianBytes::load64(in + 8), LittleEndianBytes::load64(in + 16)};
}

inline void store(uint8_t* out, const Sizes& sizes)
{
    LittleEndianBytes::store64(out, sizes.riffSize);
    LittleEndianBytes::store64(out + 8, sizes.dataSize);
    LittleEndianBytes::store64(out + 16, sizes.sampleCount);
}

} // namespace Ds64Chunk
