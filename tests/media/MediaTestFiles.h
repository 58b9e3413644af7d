#pragma once

#include <cstdint>
#include <string>
#include <vector>

// File helpers shared by the media tests.
bool writeFileBytes(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> readFileBytes(const std::string& path);

// Every sample of a file as libsndfile decodes it, as the float our reader
// must produce: integer files through sf_readf_int (left-justified 32-bit),
// float files through sf_readf_float. Empty when libsndfile cannot open it.
struct SndfileContent {
    int channels = 0;
    int sampleRate = 0;
    int64_t frames = 0;
    int format = 0;  // SF_FORMAT_* of the container and subtype
    std::vector<float> samples;
};
SndfileContent readWithSndfile(const std::string& path);
