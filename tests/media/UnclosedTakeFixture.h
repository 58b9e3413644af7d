#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Byte-level pieces of a take file as a recorder leaves it when it dies in
// the middle of a take: "RF64", ds64 with zero sizes, bext, iXML, fmt, and a
// data chunk whose samples were appended but whose sizes were never patched.
// Sample values follow a fixed pattern so a test can check every frame.
struct TakeLayout {
    int channels = 2;
    int bitsPerSample = 24;
    bool isFloat = false;
    int sampleRate = 48000;
    int noteBytes = 0;     // extra description text in bext (holds "fmt " and "data")
    int ixmlBytes = 200;   // iXML text length; odd lengths get a pad byte
    uint32_t bextSizeOverride = 0;  // non-zero: write this (damaged) bext size instead

    int bytesPerFrame() const { return channels * bitsPerSample / 8; }
};

std::vector<uint8_t> buildUnclosedTakeHeader(const TakeLayout& layout);
std::vector<uint8_t> takeSampleBytes(const TakeLayout& layout, int64_t firstFrame, int64_t frames);

// The sample as stored: for integer formats the signed code, for float the
// IEEE bit pattern.
int32_t takeSampleCode(const TakeLayout& layout, int64_t frame, int channel);

// A header plus `frames` frames and `tailBytes` of the next one.
std::vector<uint8_t> unclosedTakeBytes(const TakeLayout& layout, int64_t frames, int tailBytes = 0);
bool writeUnclosedTake(const std::string& path, const TakeLayout& layout, int64_t frames, int tailBytes);
