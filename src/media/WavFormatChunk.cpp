#include "media/WavFormatChunk.h"

#include "media/LittleEndianBytes.h"

#include <algorithm>
#include <cstring>

namespace {

// Offsets inside the fmt chunk body.
constexpr int kTagOffset = 0;
constexpr int kChannelsOffset = 2;
constexpr int kSampleRateOffset = 4;
constexpr int kBlockAlignOffset = 12;
constexpr int kBitsOffset = 14;
constexpr int kExtensionSizeOffset = 16;
constexpr int kValidBitsOffset = 18;
constexpr int kSubFormatOffset = 24;
constexpr uint16_t kExtensionBytes = 22;

// The sub-format GUID after its first two bytes (which carry the plain tag).
constexpr uint8_t kSubFormatGuidTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                            0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

bool resolveExtensible(const uint8_t* body, uint32_t sizeBytes, int bitsPerSample, int& formatTag,
                       std::string& reason)
{
    if (sizeBytes < WavFormatChunk::kExtensibleBytes ||
        LittleEndianBytes::load16(body + kExtensionSizeOffset) < kExtensionBytes) {
        reason = "Extensible fmt chunk is too short";
        return false;
    }
    const int subFormat = LittleEndianBytes::load16(body + kSubFormatOffset);
    const bool knownGuid = std::memcmp(body + kSubFormatOffset + 2, kSubFormatGuidTail, sizeof kSubFormatGuidTail) == 0;
    if (!knownGuid || (subFormat != WavFormatChunk::kFormatPcm && subFormat != WavFormatChunk::kFormatFloat)) {
        reason = "Unsupported extensible sub-format";
        return false;
    }
    const int validBits = LittleEndianBytes::load16(body + kValidBitsOffset);
    if (validBits > bitsPerSample) {
        reason = "Valid bits " + std::to_string(validBits) + " exceed the sample size";
        return false;
    }
    formatTag = subFormat;
    return true;
}

} // namespace

bool WavFormatChunk::parse(const uint8_t* body, uint32_t sizeBytes, WavFormatChunk& format, std::string& reason)
{
    if (sizeBytes < kPlainBytes) {
        reason = "fmt chunk is shorter than 16 bytes";
        return false;
    }
    int formatTag = LittleEndianBytes::load16(body + kTagOffset);
    const int channels = LittleEndianBytes::load16(body + kChannelsOffset);
    const uint32_t sampleRate = LittleEndianBytes::load32(body + kSampleRateOffset);
    const int bitsPerSample = LittleEndianBytes::load16(body + kBitsOffset);

    if (formatTag == kFormatExtensible && !resolveExtensible(body, sizeBytes, bitsPerSample, formatTag, reason))
        return false;
    if (formatTag != kFormatPcm && formatTag != kFormatFloat) {
        reason = "Unsupported format tag " + std::to_string(formatTag);
        return false;
    }
    if (channels < kMinChannels || channels > kMaxChannels) {
        reason = "Channel count " + std::to_string(channels) + " is outside 1 to 64";
        return false;
    }
    if (bitsPerSample != 16 && bitsPerSample != 24 && bitsPerSample != 32) {
        reason = "Unsupported bits per sample " + std::to_string(bitsPerSample);
        return false;
    }
    // Float samples are decoded as 4-byte IEEE values; a narrower float
    // container would be read past each sample's end.
    if (formatTag == kFormatFloat && bitsPerSample != 32) {
        reason = "Float samples of " + std::to_string(bitsPerSample) + " bits are not supported";
        return false;
    }
    // Samples are decoded at channel x sample-size steps; a frame of another
    // size (24-bit samples in 4-byte containers, a zero or garbage align)
    // would be read as the wrong samples. The extensible form states its
    // container size as bits per sample, so the same rule holds for it.
    const int blockAlign = LittleEndianBytes::load16(body + kBlockAlignOffset);
    if (blockAlign != channels * (bitsPerSample / 8)) {
        reason = "Block align " + std::to_string(blockAlign) + " does not match " + std::to_string(channels) +
                 " channels of " + std::to_string(bitsPerSample) + " bits";
        return false;
    }
    if (sampleRate == 0 || sampleRate > static_cast<uint32_t>(INT32_MAX)) {
        reason = "Sample rate " + std::to_string(sampleRate) + " is not usable";
        return false;
    }
    format.formatTag = formatTag;
    format.channels = channels;
    format.sampleRate = static_cast<int>(sampleRate);
    format.bitsPerSample = bitsPerSample;
    return true;
}

bool WavFormatChunk::read(RiffChunkWalker& walker, const RiffChunkWalker::Chunk& chunk, WavFormatChunk& format,
                          std::string& reason)
{
    if (!walker.bodyFits(chunk)) {
        reason = "fmt chunk runs past the end of the file";
        return false;
    }
    uint8_t body[kExtensibleBytes] = {};
    if (!walker.readAt(chunk.bodyOffset, body, std::min<size_t>(chunk.size, sizeof body))) {
        reason = "Cannot read the fmt chunk";
        return false;
    }
    return parse(body, chunk.size, format, reason);
}

void WavFormatChunk::append(std::vector<uint8_t>& bytes) const
{
    using namespace LittleEndianBytes;
    const auto frameBytes = static_cast<uint32_t>(bytesPerFrame());
    appendText(bytes, "fmt ");
    append32(bytes, kPlainBytes);
    append16(bytes, static_cast<uint16_t>(formatTag));
    append16(bytes, static_cast<uint16_t>(channels));
    append32(bytes, static_cast<uint32_t>(sampleRate));
    append32(bytes, frameBytes * static_cast<uint32_t>(sampleRate));
    append16(bytes, static_cast<uint16_t>(frameBytes));
    append16(bytes, static_cast<uint16_t>(bitsPerSample));
}
