#pragma once

#include "media/RiffChunkWalker.h"

#include <cstdint>
#include <string>
#include <vector>

// The fields of a "fmt " chunk that sample reading needs, checked against
// what this program can decode: integer PCM of 16, 24 or 32 bits or 32-bit
// IEEE float, 1 to 64 channels, a positive sample rate. The extensible form
// is accepted when its sub-format is one of those two, because libsndfile
// and ffmpeg write every RF64 or multichannel file that way.
struct WavFormatChunk {
    static constexpr int kFormatPcm = 1;
    static constexpr int kFormatFloat = 3;
    static constexpr int kFormatExtensible = 0xFFFE;
    static constexpr int kMinChannels = 1;
    static constexpr int kMaxChannels = 64;
    static constexpr uint32_t kPlainBytes = 16;
    static constexpr uint32_t kExtensibleBytes = 40;

    int formatTag = 0;  // kFormatPcm or kFormatFloat, also for the extensible form
    int channels = 0;
    int sampleRate = 0;
    int bitsPerSample = 0;

    int bytesPerSample() const { return bitsPerSample / 8; }
    int bytesPerFrame() const { return bytesPerSample() * channels; }

    // `body` holds the first min(sizeBytes, kExtensibleBytes) bytes of the
    // chunk. False with a reason when the chunk is short or not decodable.
    static bool parse(const uint8_t* body, uint32_t sizeBytes, WavFormatChunk& format, std::string& reason);

    // Reads the body of the fmt chunk `chunk` that `walker` found and parses
    // it. False with a reason when the body is not all in the file, cannot be
    // read or does not parse.
    static bool read(RiffChunkWalker& walker, const RiffChunkWalker::Chunk& chunk, WavFormatChunk& format,
                     std::string& reason);

    // Appends these fields as a plain fmt chunk, header included.
    void append(std::vector<uint8_t>& bytes) const;
};
