#include "media/BwfFileWriter.h"

#include "media/BwfChunkBuilder.h"
#include "media/Ds64Chunk.h"
#include "media/LittleEndianBytes.h"
#include "media/SampleFormatConverter.h"
#include "media/WavFormatChunk.h"

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <limits>

namespace {

constexpr uint32_t kUnknownSize32 = 0xFFFFFFFF; // RF64: the real sizes live in ds64

// Conversion buffer sized at open: blocks up to this many samples need no allocation.
constexpr size_t kReservedSamples = 49152;
// Explicit flush after this many sample bytes, not after every block.
constexpr uint64_t kFlushThresholdBytes = 100000;

bool isKnownFormat(int format)
{
    return format >= BwfFileWriter::Int16 && format <= BwfFileWriter::Float32;
}

std::string systemReason()
{
    return std::strerror(errno);
}

} // namespace

BwfFileWriter::BwfFileWriter() = default;

BwfFileWriter::~BwfFileWriter()
{
    close();
}

int BwfFileWriter::bytesPerSample(SampleFormat format)
{
    switch (format) {
    case Int16: return 2;
    case Int24: return 3;
    case Int32: return 4;
    case Float32: return 4;
    }
    return 0;
}

void BwfFileWriter::setBextChunk(const BextChunk& chunk)
{
    bextChunk_ = chunk;
    hasBext_ = true;
}

bool BwfFileWriter::open(const std::string& path, int sampleRate, int channels, SampleFormat format, OpenMode mode)
{
    close();
    lastError_.clear();
    if (!checkFormat(sampleRate, channels, format))
        return false;

    path_ = path;
    sampleRate_ = sampleRate;
    channels_ = channels;
    sampleFormat_ = format;
    samplesWritten_ = 0;
    conversionBuffer_.resize(kReservedSamples * static_cast<size_t>(bytesPerSample(format)));

    if (!createFile(path, mode))
        return false;
    isOpen_ = true;
    if (!writeRF64Header()) {
        const std::string reason = lastError_;
        close();
        lastError_ = reason;
        return false;
    }
    return true;
}

// Refuses what would make a header other programs misread or a close divide
// by zero: the fmt fields are 16 and 32 bits wide.
bool BwfFileWriter::checkFormat(int sampleRate, int channels, SampleFormat format)
{
    if (!isKnownFormat(format))
        return fail("Unknown sample format " + std::to_string(static_cast<int>(format)));
    if (channels < 1)
        return fail("Channel count must be at least 1 (got " + std::to_string(channels) + ")");
    if (sampleRate < 1)
        return fail("Sample rate must be at least 1 Hz (got " + std::to_string(sampleRate) + ")");
    const int64_t blockAlign = static_cast<int64_t>(bytesPerSample(format)) * channels;
    if (blockAlign > std::numeric_limits<uint16_t>::max())
        return fail("Too many channels for one file: " + std::to_string(channels));
    if (blockAlign * sampleRate > std::numeric_limits<uint32_t>::max())
        return fail("Sample rate too high for this channel count: " + std::to_string(sampleRate));
    return true;
}

bool BwfFileWriter::createFile(const std::string& path, OpenMode mode)
{
    // "x" (O_EXCL) makes the existence check and the creation one step, so a
    // file that appears in between is never overwritten either.
    const bool exclusive = mode == OpenMode::CreateNew;
    file_ = std::fopen(path.c_str(), exclusive ? "w+bxe" : "w+be");
    if (!file_ && errno != EEXIST)
        file_ = std::fopen(path.c_str(), exclusive ? "wbxe" : "wbe");
    if (file_)
        return true;
    if (errno == EEXIST)
        return fail("File already exists: " + path);
    return fail("Cannot create " + path + ": " + systemReason());
}

bool BwfFileWriter::writeRF64Header()
{
    using namespace LittleEndianBytes;
    std::vector<uint8_t> header;
    appendText(header, "RF64");
    append32(header, kUnknownSize32);
    appendText(header, "WAVE");
    appendText(header, "ds64");
    append32(header, Ds64Chunk::kTakeChunkBytes);
    // The sizes stay zero until close; the table has no entries.
    header.resize(Ds64Chunk::kTakeEndOffset, 0);
    if (hasBext_) {
        for (const auto& chunk : {BwfChunkBuilder::buildBextChunk(bextChunk_, {sampleRate_, bitsPerSample(), channels_}),
                                  BwfChunkBuilder::buildIxmlChunk(bextChunk_)})
            appendRaw(header, chunk.data(), chunk.size());
    }
    WavFormatChunk{.formatTag = sampleFormat_ == Float32 ? WavFormatChunk::kFormatFloat : WavFormatChunk::kFormatPcm,
                   .channels = channels_,
                   .sampleRate = sampleRate_,
                   .bitsPerSample = bitsPerSample()}
        .append(header);
    appendText(header, "data");
    append32(header, kUnknownSize32);

    if (!writeBytes(header.data(), header.size()))
        return false;
    // On disk at once: a recording that dies before its first flush still
    // has a header the repair scan can recognise.
    if (std::fflush(file_) != 0)
        return fail("Cannot write the header of " + path_ + ": " + systemReason());
    return true;
}

bool BwfFileWriter::writeFrames(const float* interleavedSamples, int64_t frames)
{
    if (!isOpen_)
        return fail("No file is open");
    if (frames < 0 || (frames > 0 && interleavedSamples == nullptr))
        return fail("Invalid frame block (" + std::to_string(frames) + " frames)");
    if (std::ferror(file_))
        return fail("An earlier write to " + path_ + " failed");
    const int64_t samples = frames * channels_;
    if (frames > std::numeric_limits<int>::max() / std::max(channels_, 1))
        return fail("Too many frames in one block: " + std::to_string(frames));

    const size_t neededBytes = static_cast<size_t>(samples) * static_cast<size_t>(bytesPerSample(sampleFormat_));
    if (conversionBuffer_.size() < neededBytes)
        conversionBuffer_.resize(neededBytes);
    SampleFormatConverter::convert(interleavedSamples, static_cast<size_t>(samples), sampleFormat_,
                                   conversionBuffer_.data());
    if (!writeBytes(conversionBuffer_.data(), neededBytes))
        return false;

    samplesWritten_ += samples;
    bytesSinceFlush_ += neededBytes;
    if (bytesSinceFlush_ >= kFlushThresholdBytes) {
        bytesSinceFlush_ = 0;
        if (std::fflush(file_) != 0)
            return fail("Cannot write to " + path_ + ": " + systemReason());
    }
    return true;
}

bool BwfFileWriter::writeEncodedFrames(const uint8_t* bytes, int64_t frames)
{
    if (!isOpen_)
        return fail("No file is open");
    if (frames < 0 || (frames > 0 && bytes == nullptr))
        return fail("Invalid frame block (" + std::to_string(frames) + " frames)");
    if (std::ferror(file_))
        return fail("An earlier write to " + path_ + " failed");
    const int64_t samples = frames * channels_;
    const size_t byteCount = static_cast<size_t>(samples) * static_cast<size_t>(bytesPerSample(sampleFormat_));
    if (!writeBytes(bytes, byteCount))
        return false;
    samplesWritten_ += samples;
    bytesSinceFlush_ += byteCount;
    if (bytesSinceFlush_ >= kFlushThresholdBytes) {
        bytesSinceFlush_ = 0;
        if (std::fflush(file_) != 0)
            return fail("Cannot write to " + path_ + ": " + systemReason());
    }
    return true;
}

bool BwfFileWriter::close()
{
    if (!isOpen_)
        return true;
    // The first reason is kept: later steps usually fail because of it.
    bool ok = updateRF64HeaderOnClose();
    const bool flushed = std::fflush(file_) == 0 && !std::ferror(file_);
    if (!flushed && ok)
        ok = fail("Cannot write to " + path_ + ": " + systemReason());
    const bool closed = std::fclose(file_) == 0;
    if (!closed && ok)
        ok = fail("Cannot close " + path_ + ": " + systemReason());
    file_ = nullptr;
    isOpen_ = false;
    return ok;
}

// Writes the real sizes into ds64. Skipped once the stream is in error, so a
// file that lost samples keeps zeros there and is offered for repair.
bool BwfFileWriter::updateRF64HeaderOnClose()
{
    if (std::ferror(file_))
        return fail("Sizes not written: an earlier write to " + path_ + " failed");
    if (fseeko(file_, 0, SEEK_END) != 0)
        return fail("Cannot seek in " + path_ + ": " + systemReason());
    const int64_t fileBytes = ftello(file_);
    if (fileBytes < 0 || fseeko(file_, Ds64Chunk::kSizesOffset, SEEK_SET) != 0)
        return fail("Cannot seek in " + path_ + ": " + systemReason());

    uint8_t sizes[Ds64Chunk::kSizesBytes];
    Ds64Chunk::store(sizes, {.riffSize = static_cast<uint64_t>(fileBytes - 8),
                             .dataSize = static_cast<uint64_t>(samplesWritten_) *
                                         static_cast<uint64_t>(bytesPerSample(sampleFormat_)),
                             .sampleCount = static_cast<uint64_t>(samplesWritten_ / channels_)});
    if (!writeBytes(sizes, sizeof sizes))
        return false;
    if (fseeko(file_, 0, SEEK_END) != 0)
        return fail("Cannot seek in " + path_ + ": " + systemReason());
    return true;
}

bool BwfFileWriter::writeBytes(const uint8_t* bytes, size_t count)
{
    if (count == 0)
        return true;
    if (std::fwrite(bytes, 1, count, file_) != count || std::ferror(file_))
        return fail("Cannot write to " + path_ + ": " + systemReason());
    return true;
}

bool BwfFileWriter::fail(const std::string& reason)
{
    lastError_ = reason;
    return false;
}
