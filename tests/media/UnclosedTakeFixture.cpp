#include "UnclosedTakeFixture.h"

#include "MediaTestFiles.h"
#include "WavBytes.h"

#include <cstring>

namespace {

constexpr int kBextFixedBytes = 602;

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
    WavBytes wav = WavBytes::form(true);

    // The description carries a note that spells chunk ids, as a recordist's
    // note may ("data fmt check"), to catch a byte scan that trusts them.
    std::string bext(kBextFixedBytes, '\0');
    const std::string description = "sNOTE=data fmt check; fmt data";
    std::memcpy(bext.data(), description.data(), description.size());
    bext += repeatedText("note data fmt ", static_cast<size_t>(layout.noteBytes));
    wav.chunk("bext", bext, layout.bextSizeOverride);

    const std::string ixmlHead = "<?xml version=\"1.0\"?><BWFXML><NOTE>";
    const std::string ixmlTail = "</NOTE></BWFXML>";
    const size_t fill = layout.ixmlBytes > static_cast<int>(ixmlHead.size() + ixmlTail.size())
                            ? layout.ixmlBytes - ixmlHead.size() - ixmlTail.size()
                            : 0;
    wav.chunk("iXML", ixmlHead + repeatedText("data fmt  ", fill) + ixmlTail);

    wav.fmt(layout.isFloat ? 3 : 1, layout.channels, layout.sampleRate, layout.bitsPerSample);
    return wav.id("data").u32(0xFFFFFFFFu).bytes;
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

std::vector<uint8_t> unclosedTakeBytes(const TakeLayout& layout, int64_t frames, int tailBytes)
{
    std::vector<uint8_t> bytes = buildUnclosedTakeHeader(layout);
    std::vector<uint8_t> samples = takeSampleBytes(layout, 0, frames + 1);
    samples.resize(static_cast<size_t>(frames * layout.bytesPerFrame() + tailBytes));
    bytes.insert(bytes.end(), samples.begin(), samples.end());
    return bytes;
}

bool writeUnclosedTake(const std::string& path, const TakeLayout& layout, int64_t frames, int tailBytes)
{
    return writeFileBytes(path, unclosedTakeBytes(layout, frames, tailBytes));
}
