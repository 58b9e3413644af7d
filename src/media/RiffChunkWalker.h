#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

// Walks the chunks of a RIFF or RF64 file by their sizes: id, 32-bit size,
// body, and a pad byte after an odd-sized body. Every position it returns
// lies inside the file; a chunk that claims more bytes than the file holds
// ends the walk instead of sending a reader past the end.
//
// Not thread-safe; it moves the position of the stream it is given (a
// descriptor is read with pread and keeps its position).
class RiffChunkWalker {
public:
    struct Chunk {
        char id[4] = {0, 0, 0, 0};
        uint32_t size = 0;
        int64_t headerOffset = 0;
        int64_t bodyOffset = 0;

        // Where the next chunk's header starts: after the body and the pad
        // byte of an odd-sized one.
        int64_t nextOffset() const { return bodyOffset + int64_t{size} + (size & 1u); }
    };

    enum class Result {
        Found,     // `chunk` is the wanted one; its body may still run past the end
        NotFound,  // the chunks ended before the wanted one
        Overrun,   // a chunk before the wanted one claims more bytes than the file holds
        MissingPad,  // `chunk` has an odd size and the next chunk starts right after it, without the pad byte
    };

    static constexpr int64_t kChunkHeaderBytes = 8;

    RiffChunkWalker(std::FILE* file, int64_t fileSizeBytes);
    // Reads through an open descriptor, which the caller keeps and closes.
    RiffChunkWalker(int fd, int64_t fileSizeBytes);

    // Walks from the chunk header at `offset` to the first chunk called `id`.
    // On Overrun, `chunk` is the chunk that could not be skipped; on
    // MissingPad, the odd-sized chunk whose pad byte is missing.
    Result find(int64_t offset, const char* id, Chunk& chunk);

    // Reads the chunk header at `offset`; false when it does not fit in the file.
    bool readHeader(int64_t offset, Chunk& chunk);

    // False when the chunk's body runs past the end of the file.
    bool bodyFits(const Chunk& chunk) const { return chunk.bodyOffset + int64_t{chunk.size} <= fileSizeBytes_; }

    // Reads exactly `count` bytes from `offset`.
    bool readAt(int64_t offset, void* bytes, size_t count);

    // From now on, reads of up to `blockBytes` come from blocks of that size
    // read once, so a walk over a file's header costs one read instead of a
    // seek and a read per chunk. Only for callers that never write through
    // the stream while the walker is in use.
    void cacheReads(size_t blockBytes);

    // The four id bytes as text, non-printable bytes as \xNN.
    static std::string printableId(const char* id);

private:
    bool readCached(int64_t offset, void* bytes, size_t count);
    // A header of printable id bytes whose body fits the file (or an RF64
    // size that ds64 holds) starts at `offset`.
    bool looksLikeChunkAt(int64_t offset);
    // Up to `count` bytes from `offset`; fewer at the end of the file, 0 on
    // an error.
    size_t readSome(int64_t offset, void* bytes, size_t count);

    std::FILE* file_ = nullptr;
    int fd_ = -1;
    int64_t fileSizeBytes_;
    // Not a vector: a block is filled by the read, so clearing it first
    // would cost as much as the read of a whole header.
    std::unique_ptr<uint8_t[]> cache_;
    size_t cacheBytes_ = 0;  // valid bytes in cache_
    int64_t cacheOffset_ = 0;
    size_t cacheBlockBytes_ = 0;
};
