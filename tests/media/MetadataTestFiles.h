#pragma once

#include "media/BwfFileWriter.h"

#include <cstdint>
#include <string>
#include <vector>

// Takes written by our writer and what outside tools read of their bext
// chunk, for the metadata reader and editor tests.

constexpr int kMetadataTakeFrames = 4801;  // an odd count, so 16-bit mono data has an odd size

// Writes a take of kMetadataTakeFrames frames of a ramp; false with nothing
// else when the writer refuses.
bool writeMetadataTake(const std::string& path, const BwfFileWriter::BextChunk& record, int sampleRate,
                       int channels, BwfFileWriter::SampleFormat format);

// The bext fields as libsndfile's SFC_GET_BROADCAST_INFO gives them.
struct SndfileBext {
    bool read = false;
    std::string description;
    std::string originator;
    std::string originatorReference;
    std::string originationDate;
    std::string originationTime;
    uint64_t timeReference = 0;
    int version = 0;
    std::string codingHistory;
};
SndfileBext readSndfileBext(const std::string& path);

// ffprobe's format tags as key -> value pairs; empty when ffprobe failed.
struct FfprobeTags {
    bool read = false;
    std::string comment;        // bext Description
    std::string encodedBy;      // Originator
    std::string originatorReference;
    std::string date;
    std::string creationTime;
    std::string timeReference;
    std::string codingHistory;
};
FfprobeTags readFfprobeTags(const std::string& path);

// Offset and size of the first chunk `id` of a file's bytes (a plain walk;
// the fixtures are small and well formed).
struct ChunkSpan {
    bool found = false;
    size_t headerOffset = 0;
    size_t bodyOffset = 0;
    uint32_t size = 0;
};
ChunkSpan findChunkSpan(const std::vector<uint8_t>& bytes, const char* id);

// Gives the body of chunk `id` exactly `spareBytes` NULs after its text (its
// size field follows, everything after it moves, an RF64 ds64 riffSize
// follows): room for later edits as recorders leave it, or none at all.
std::vector<uint8_t> withSpareBytes(std::vector<uint8_t> bytes, const char* id, uint32_t spareBytes);
