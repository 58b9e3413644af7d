#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Hand-built WAV files for header cases the tools never write.
struct WavBytes {
    std::vector<uint8_t> bytes;

    WavBytes& id(const char* fourCc)
    {
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<uint8_t>(fourCc[i]));
        return *this;
    }
    WavBytes& u16(uint32_t value) { return put(value, 2); }
    WavBytes& u32(uint32_t value) { return put(value, 4); }
    WavBytes& u64(uint64_t value) { return put(value, 8); }
    WavBytes& raw(const std::vector<uint8_t>& more)
    {
        bytes.insert(bytes.end(), more.begin(), more.end());
        return *this;
    }
    // A non-zero sizeOverride is written instead of the body's size (a damaged size).
    WavBytes& chunk(const char* fourCc, const std::string& body, uint32_t sizeOverride = 0)
    {
        id(fourCc).u32(sizeOverride ? sizeOverride : static_cast<uint32_t>(body.size()));
        bytes.insert(bytes.end(), body.begin(), body.end());
        if (body.size() & 1u)
            bytes.push_back(0);
        return *this;
    }
    WavBytes& fmt(int tag, int channels, int rate, int bits)
    {
        const int align = channels * bits / 8;
        return id("fmt ").u32(16).u16(tag).u16(channels).u32(rate).u32(rate * align).u16(align).u16(bits);
    }
    // RIFF or RF64 form header; RF64 gets a ds64 with the given data size.
    static WavBytes form(bool rf64, uint64_t ds64DataSize = 0)
    {
        WavBytes wav;
        wav.id(rf64 ? "RF64" : "RIFF").u32(0xFFFFFFFFu).id("WAVE");
        if (rf64)
            wav.id("ds64").u32(28).u64(0).u64(ds64DataSize).u64(0).u32(0);
        return wav;
    }

private:
    WavBytes& put(uint64_t value, int count)
    {
        for (int i = 0; i < count; ++i)
            bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
        return *this;
    }
};
