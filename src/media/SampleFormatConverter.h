#pragma once

#include "media/BwfFileWriter.h"

#include <cstddef>
#include <cstdint>

// Converts 32-bit float samples to the little-endian bytes of a file's sample
// format. Integer formats clamp to [-1, 1] first and write NaN as 0, so a
// wild sample never wraps around to the opposite full scale; 16 and 24-bit
// use the symmetric scales 32767 and 8388607, 32-bit uses 2^31 and saturates
// +1.0 to 0x7FFFFFFF. Float32 is copied bit for bit.
//
// No allocation, no lock: safe on any thread.
class SampleFormatConverter {
public:
    // out must hold count x bytes a sample of the format.
    static void convert(const float* samples, size_t count, BwfFileWriter::SampleFormat format, uint8_t* out);

    // One sample as the signed integer an integer format stores.
    static int32_t toInt16(float sample);
    static int32_t toInt24(float sample);
    static int32_t toInt32(float sample);
};
