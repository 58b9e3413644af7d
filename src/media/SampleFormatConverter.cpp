#include "media/SampleFormatConverter.h"

#include "media/LittleEndianBytes.h"

#include <cstring>
#include <limits>

namespace {

constexpr float kInt16Scale = 32767.0f;
constexpr float kInt24Scale = 8388607.0f;
constexpr float kInt32Scale = 2147483648.0f; // 2^31: +1.0 lands one past the largest code

// Clamps to [-1, 1] and turns NaN into 0 (a NaN fails both comparisons).
inline float clampUnit(float sample)
{
    float clamped = sample > 1.0f ? 1.0f : sample;
    clamped = clamped < -1.0f ? -1.0f : clamped;
    return clamped == clamped ? clamped : 0.0f;
}

using Float4 = float __attribute__((vector_size(16)));
using Int4 = int32_t __attribute__((vector_size(16)));

// toInt24 for four samples at once, with the same clamp, NaN rule and
// truncation.
inline Int4 toInt24x4(const float* samples)
{
    Float4 x;
    std::memcpy(&x, samples, sizeof x);
    const Float4 one = {1.0f, 1.0f, 1.0f, 1.0f};
    x = x > one ? one : x;
    x = x < -one ? -one : x;
    x = x == x ? x : Float4{};
    return __builtin_convertvector(x * kInt24Scale, Int4);
}

} // namespace

int32_t SampleFormatConverter::toInt16(float sample)
{
    // After the clamp the product stays within +-32767: no saturation needed.
    return static_cast<int32_t>(clampUnit(sample) * kInt16Scale);
}

int32_t SampleFormatConverter::toInt24(float sample)
{
    return static_cast<int32_t>(clampUnit(sample) * kInt24Scale);
}

int32_t SampleFormatConverter::toInt32(float sample)
{
    const float scaled = clampUnit(sample) * kInt32Scale;
    if (scaled >= kInt32Scale)
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(scaled);
}

void SampleFormatConverter::convert(const float* samples, size_t count, BwfFileWriter::SampleFormat format,
                                    uint8_t* out)
{
    switch (format) {
    case BwfFileWriter::Int16:
        for (size_t i = 0; i < count; ++i)
            LittleEndianBytes::store16(out + 2 * i, static_cast<uint16_t>(toInt16(samples[i])));
        break;
    case BwfFileWriter::Int24: {
        // Four samples at a time make three whole 32-bit words: this loop is
        // most of what writing a take costs.
        size_t i = 0;
        for (; i + 4 <= count; i += 4) {
            const Int4 codes = toInt24x4(samples + i) & 0xFFFFFF;
            const auto a = static_cast<uint32_t>(codes[0]);
            const auto b = static_cast<uint32_t>(codes[1]);
            const auto c = static_cast<uint32_t>(codes[2]);
            const auto d = static_cast<uint32_t>(codes[3]);
            LittleEndianBytes::store32(out + 3 * i, a | b << 24);
            LittleEndianBytes::store32(out + 3 * i + 4, b >> 8 | c << 16);
            LittleEndianBytes::store32(out + 3 * i + 8, c >> 16 | d << 8);
        }
        for (; i < count; ++i) {
            const auto value = static_cast<uint32_t>(toInt24(samples[i]));
            uint8_t* sampleOut = out + 3 * i;
            sampleOut[0] = static_cast<uint8_t>(value);
            sampleOut[1] = static_cast<uint8_t>(value >> 8);
            sampleOut[2] = static_cast<uint8_t>(value >> 16);
        }
        break;
    }
    case BwfFileWriter::Int32:
        for (size_t i = 0; i < count; ++i)
            LittleEndianBytes::store32(out + 4 * i, static_cast<uint32_t>(toInt32(samples[i])));
        break;
    case BwfFileWriter::Float32:
        for (size_t i = 0; i < count; ++i) {
            uint32_t bits;
            std::memcpy(&bits, samples + i, sizeof bits);
            LittleEndianBytes::store32(out + 4 * i, bits);
        }
        break;
    }
}
