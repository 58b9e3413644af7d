#include "media/RiffChunkWalker.h"

#include "media/LittleEndianBytes.h"

#include <cerrno>
#include <cstring>

#include <unistd.h>

RiffChunkWalker::RiffChunkWalker(std::FILE* file, int64_t fileSizeBytes)
    : file_(file)
    , fileSizeBytes_(fileSizeBytes)
{
}

RiffChunkWalker::RiffChunkWalker(int fd, int64_t fileSizeBytes)
    : fd_(fd)
    , fileSizeBytes_(fileSizeBytes)
{
}

bool RiffChunkWalker::readHeader(int64_t offset, Chunk& chunk)
{
    if (offset < 0 || offset + kChunkHeaderBytes > fileSizeBytes_)
        return false;
    uint8_t header[kChunkHeaderBytes];
    if (!readAt(offset, header, sizeof header))
        return false;
    std::memcpy(chunk.id, header, 4);
    chunk.size = LittleEndianBytes::load32(header + 4);
    chunk.headerOffset = offset;
    chunk.bodyOffset = offset + kChunkHeaderBytes;
    return true;
}

bool RiffChunkWalker::readAt(int64_t offset, void* bytes, size_t count)
{
    if (cacheBlockBytes_ != 0 && count <= cacheBlockBytes_ && offset >= 0)
        return readCached(offset, bytes, count);
    return offset >= 0 && readSome(offset, bytes, count) == count;
}

size_t RiffChunkWalker::readSome(int64_t offset, void* bytes, size_t count)
{
    if (!file_) {
        size_t done = 0;
        while (done < count) {
            const ssize_t got = ::pread(fd_, static_cast<uint8_t*>(bytes) + done, count - done,
                                        static_cast<off_t>(offset + static_cast<int64_t>(done)));
            if (got < 0 && errno == EINTR)
                continue;
            if (got <= 0)
                break;
            done += static_cast<size_t>(got);
        }
        return done;
    }
    return fseeko(file_, offset, SEEK_SET) == 0 ? std::fread(bytes, 1, count, file_) : 0;
}

void RiffChunkWalker::cacheReads(size_t blockBytes)
{
    cacheBlockBytes_ = blockBytes;
    cache_.reset(blockBytes != 0 ? new uint8_t[blockBytes] : nullptr);
    cacheBytes_ = 0;
}

bool RiffChunkWalker::readCached(int64_t offset, void* bytes, size_t count)
{
    const auto inCache = [&] {
        return offset >= cacheOffset_ && offset + static_cast<int64_t>(count) <= cacheOffset_ + int64_t(cacheBytes_);
    };
    if (!inCache()) {
        cacheOffset_ = offset;
        cacheBytes_ = readSome(offset, cache_.get(), cacheBlockBytes_);
        if (!inCache())
            return false;
    }
    std::memcpy(bytes, cache_.get() + (offset - cacheOffset_), count);
    return true;
}

RiffChunkWalker::Result RiffChunkWalker::find(int64_t offset, const char* id, Chunk& chunk)
{
    while (readHeader(offset, chunk)) {
        if (std::memcmp(chunk.id, id, 4) == 0)
            return Result::Found;
        if (!bodyFits(chunk))
            return Result::Overrun;
        offset = chunk.nextOffset();
        // A writer that left out the pad byte after an odd body makes every
        // later header one byte off; name that chunk, not the garbage the
        // shifted read would give.
        if ((chunk.size & 1u) != 0 && !looksLikeChunkAt(offset) && looksLikeChunkAt(offset - 1))
            return Result::MissingPad;
    }
    return Result::NotFound;
}

bool RiffChunkWalker::looksLikeChunkAt(int64_t offset)
{
    constexpr uint32_t kSizeInDs64 = 0xFFFFFFFFu;
    Chunk chunk;
    if (!readHeader(offset, chunk))
        return false;
    for (const char c : chunk.id) {
        if (c < 0x20 || c > 0x7E)
            return false;
    }
    return bodyFits(chunk) || chunk.size == kSizeInDs64;
}

std::string RiffChunkWalker::printableId(const char* id)
{
    static const char* const kHexDigits = "0123456789ABCDEF";
    std::string text;
    for (int i = 0; i < 4; ++i) {
        const auto byte = static_cast<unsigned char>(id[i]);
        if (byte >= 0x20 && byte < 0x7F) {
            text += static_cast<char>(byte);
        } else {
            text += "\\x";
            text += kHexDigits[byte >> 4];
            text += kHexDigits[byte & 0xF];
        }
    }
    return text;
}
