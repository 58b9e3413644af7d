#include "MetadataTestFiles.h"

#include "WrittenFile.h"
#include "media/Ds64Chunk.h"
#include "media/LittleEndianBytes.h"
#include "support/ExternalTool.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <sndfile.h>

#include <cstring>

bool writeMetadataTake(const std::string& path, const BwfFileWriter::BextChunk& record, int sampleRate,
                       int channels, BwfFileWriter::SampleFormat format)
{
    BwfFileWriter writer;
    writer.setBextChunk(record);
    if (!writer.open(path, sampleRate, channels, format))
        return false;
    std::vector<float> samples(static_cast<size_t>(kMetadataTakeFrames) * static_cast<size_t>(channels));
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(static_cast<int>(i % 200) - 100) / 128.0f;
    return writer.writeFrames(samples.data(), kMetadataTakeFrames) && writer.close();
}

namespace {

std::string fixedText(const char* field, size_t bytes)
{
    return std::string(field, strnlen(field, bytes));
}

} // namespace

SndfileBext readSndfileBext(const std::string& path)
{
    SndfileBext result;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return result;
    SF_BROADCAST_INFO bext{};
    if (sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext) == SF_TRUE) {
        result.read = true;
        result.description = fixedText(bext.description, sizeof bext.description);
        result.originator = fixedText(bext.originator, sizeof bext.originator);
        result.originatorReference = fixedText(bext.originator_reference, sizeof bext.originator_reference);
        result.originationDate = fixedText(bext.origination_date, sizeof bext.origination_date);
        result.originationTime = fixedText(bext.origination_time, sizeof bext.origination_time);
        result.timeReference = (uint64_t{bext.time_reference_high} << 32) | bext.time_reference_low;
        result.version = bext.version;
        result.codingHistory = fixedText(bext.coding_history, bext.coding_history_size);
    }
    sf_close(file);
    return result;
}

FfprobeTags readFfprobeTags(const std::string& path)
{
    FfprobeTags result;
    const ToolResult probe =
        runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_format", QString::fromStdString(path)});
    if (probe.exitCode != 0)
        return result;
    const QJsonObject tags =
        QJsonDocument::fromJson(probe.standardOutput.toUtf8()).object()["format"].toObject()["tags"].toObject();
    auto text = [&tags](const char* key) { return tags[key].toString().toStdString(); };
    result.read = true;
    result.comment = text("comment");
    result.encodedBy = text("encoded_by");
    result.originatorReference = text("originator_reference");
    result.date = text("date");
    result.creationTime = text("creation_time");
    result.timeReference = text("time_reference");
    result.codingHistory = text("coding_history");
    return result;
}

ChunkSpan findChunkSpan(const std::vector<uint8_t>& bytes, const char* id)
{
    size_t offset = 12;
    while (offset + 8 <= bytes.size()) {
        const uint32_t size = LittleEndianBytes::load32(bytes.data() + offset + 4);
        if (std::memcmp(bytes.data() + offset, id, 4) == 0)
            return {true, offset, offset + 8, size};
        if (size == 0xFFFFFFFFu)
            break;
        offset += 8 + size + (size & 1u);
    }
    return {};
}

std::vector<uint8_t> withSpareBytes(std::vector<uint8_t> bytes, const char* id, uint32_t spareBytes)
{
    const ChunkSpan span = findChunkSpan(bytes, id);
    if (!span.found)
        return bytes;
    // The NULs the writer already left go first, so the room is exactly
    // spareBytes (0: a chunk with no room at all, as other recorders write).
    size_t textEnd = span.bodyOffset + span.size;
    while (textEnd > span.bodyOffset && bytes[textEnd - 1] == 0)
        --textEnd;
    const size_t body = textEnd - span.bodyOffset + spareBytes + (textEnd - span.bodyOffset + spareBytes) % 2;
    bytes.erase(bytes.begin() + static_cast<std::ptrdiff_t>(textEnd),
                bytes.begin() + static_cast<std::ptrdiff_t>(span.bodyOffset + span.size));
    bytes.insert(bytes.begin() + static_cast<std::ptrdiff_t>(textEnd), span.bodyOffset + body - textEnd, 0);
    LittleEndianBytes::store32(bytes.data() + span.headerOffset + 4, static_cast<uint32_t>(body));
    if (std::memcmp(bytes.data(), "RF64", 4) == 0) {
        Ds64Chunk::Sizes sizes = Ds64Chunk::load(bytes.data() + Ds64Chunk::kSizesOffset);
        sizes.riffSize = bytes.size() - 8;
        Ds64Chunk::store(bytes.data() + Ds64Chunk::kSizesOffset, sizes);
    } else {
        LittleEndianBytes::store32(bytes.data() + 4, static_cast<uint32_t>(bytes.size() - 8));
    }
    return bytes;
}
