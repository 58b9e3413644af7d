#include "UnclosedTakeFixture.h"

#include <cstring>
#include <fstream>

namespace {

constexpr int kBextFixedBytes = 602;

void put32(std::vector<uint8_t>& bytes, uint32_t value)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

void put16(std::vector<uint8_t>& bytes, uint16_t value)
{
    bytes.push_back(static_cast<uint8_t>(value));
    bytes.push_back(static_cast<uint8_t>(value >> 8));
}

void putId(std::vector<uint8_t>& bytes, const char* id)
{
    for (int i = 0; i < 4; ++i)
        bytes.push_back(static_cast<uint8_t>(id[i]));
}

void putChunk(std::vector<uint8_t>& bytes, const char* id, const std::string& body, uint32_t sizeOverride = 0)
{
    putId(bytes, id);
    put32(bytes, sizeOverride ? sizeOverride : static_cast<uint32_t>(body.size()));
    bytes.insert(bytes.end(), body.begin(), body.end());
    if (body.size() & 1u)
        bytes.push_back(0);
}

std::string repeatedText(const std::string& unit, size_t length)
{
    std::string text;
    while (text.size() < length)
        text += unit;
    text.resize(length);
    return text;
}

} // namespace

std::vector<uint8_t> buildUnclosedTakeHeader(const TakeLayout& layout)
{
    std::vector<uint8_t> bytes;
    putId(bytes, "RF64");
    put32(bytes, 0xFFFFFFFFu);
    putId(bytes, "WAVE");
    putId(bytes, "ds64");
    put32(bytes, 28);
    bytes.insert(bytes.end(), 28, 0);

    // The description carries a note that spells chunk ids, as a recordist's
    // note may ("data fmt check"), to catch a byte scan that trusts them.
    std::string bext(kBextFixedBytes, '\0');
    const std::string description = "sNOTE=data fmt check; fmt data";
    std::memcpy(bext.data(), description.data(), description.size());
    bext += repeatedText("note data fmt ", static_cast<size_t>(layout.noteBytes));
    putChunk(bytes, "bext", bext, layout.bextSizeOverride);

    const std::string ixmlHead = "<?xml version=\"1.0\"?><BWFXML><NOTE>";
    const std::string ixmlTail = "</NOTE></BWFXML>";
    const size_t fill = layout.ixmlBytes > static_cast<int>(ixmlHead.size() + ixmlTail.size())
                            ? layout.ixmlBytes - ixmlHead.size() - ixmlTail.size()
                            : 0;
    putChunk(bytes, "iXML", ixmlHead + repeatedText("data fmt  ", fill) + ixmlTail);

    putId(bytes, "fmt ");
    put32(bytes, 16);
    put16(bytes, layout.isFloat ? 3 : 1);
    put16(bytes, static_cast<uint16_t>(layout.channels));
    put32(bytes, static_cast<uint32_t>(layout.sampleRate));
    put32(bytes, static_cast<uint32_t>(layout.sampleRate * layout.bytesPerFrame()));
    put16(bytes, static_cast<uint16_t>(layout.bytesPerFrame()));
    put16(bytes, static_cast<uint16_t>(layout.bitsPerSample));
    putId(bytes, "data");
    put32(bytes, 0xFFFFFFFFu);
    return bytes;
}

int32_t takeSampleCode(const TakeLayout& layout, int64_t frame, int channel)
{
    uint32_t hash = static_cast<uint32_t>(frame) * 2654435761u ^ static_cast<uint32_t>(channel + 1) * 40503u;
    hash ^= hash >> 13;
    hash *= 0x5bd1e995u;
    hash ^= hash >> 15;
    if (layout.isFloat) {
        // A float in [-1, 1) with 24 significant bits.
        const float value = static_cast<float>(static_cast<int32_t>(hash) >> 8) / 8388608.0f;
        int32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }
    return static_cast<int32_t>(hash) >> (32 - layout.bitsPerSample);
}

std::vector<uint8_t> takeSampleBytes(const TakeLayout& layout, int64_t firstFrame, int64_t frames)
{
    const int bytesPerSample = layout.bitsPerSample / 8;
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(frames * layout.bytesPerFrame()));
    for (int64_t frame = firstFrame; frame < firstFrame + frames; ++frame) {
        for (int channel = 0; channel < layout.channels; ++channel) {
            const auto code = static_cast<uint32_t>(takeSampleCode(layout, frame, channel));
            for (int i = 0; i < bytesPerSample; ++i)
                bytes.push_back(static_cast<uint8_t>(code >> (8 * i)));
        }
    }
    return bytes;
}

bool writeUnclosedTake(const std::string& path, const TakeLayout& layout, int64_t frames, int tailBytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    const std::vector<uint8_t> header = buildUnclosedTakeHeader(layout);
    std::vector<uint8_t> samples = takeSampleBytes(layout, 0, frames + 1);
    samples.resize(static_cast<size_t>(frames * layout.bytesPerFrame() + tailBytes));
    out.write(reinterpret_cast<const char*>(header.data()), static_cast<std::streamsize>(header.size()));
    out.write(reinterpret_cast<const char*>(samples.data()), static_cast<std::streamsize>(samples.size()));
    return static_cast<bool>(out);
}
