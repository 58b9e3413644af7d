#include "media/BwfChunkBuilder.h"

#include "core/NumberText.h"
#include "media/LittleEndianBytes.h"

#include <cmath>
#include <cstdio>
#include <ctime>

namespace {

// bext chunk (version 1 layout), sizes of the fixed fields in bytes.
constexpr size_t kChunkHeaderBytes = 8; // id + 32-bit size
constexpr size_t kDescriptionBytes = 256;
constexpr size_t kDescriptionMaxTextBytes = kDescriptionBytes - 1; // the last byte is always NUL
constexpr size_t kOriginatorBytes = 32;
constexpr size_t kOriginatorReferenceBytes = 32;
constexpr size_t kOriginationDateBytes = 10;
constexpr size_t kOriginationTimeBytes = 8;
constexpr size_t kUmidBytes = 64;
constexpr size_t kReservedBytes = 190;
constexpr const char* kDefaultOriginator = "Tonvale";
// NUL bytes after the iXML document: room the in-place metadata editor fills
// when a scene, a take, a note or track names are added to a finished take.
// Even, so the chunk stays even; a few KiB every reader skips unseen.
constexpr size_t kIxmlSpareBytes = 4096;
constexpr int kSecondsPerHour = 3600;
constexpr int kHoursPerDay = 24;

std::string formatLocalNow(const char* pattern)
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32] = {};
    std::strftime(text, sizeof text, pattern, &local);
    return text;
}

// A line feed inside a value would split its Description line and could be
// read back as another key, so line breaks become spaces there.
std::string descriptionValue(std::string_view value)
{
    std::string result(value);
    for (char& c : result) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return result;
}

std::string userBitsLine(const BwfFileWriter::BextChunk& chunk)
{
    const double seconds = static_cast<double>(chunk.timeReference) / chunk.timestampSampleRate;
    const auto wholeSeconds = static_cast<int64_t>(seconds);
    const int hours = static_cast<int>((wholeSeconds / kSecondsPerHour) % kHoursPerDay);
    const int minutes = static_cast<int>((wholeSeconds / 60) % 60);
    const int secs = static_cast<int>(wholeSeconds % 60);
    const int frames = static_cast<int>(chunk.frameRate * (seconds - std::floor(seconds)));
    char text[48];
    std::snprintf(text, sizeof text, "aUBITS=$%02d%02d%02d%02d\n", hours, minutes, secs, frames);
    return text;
}

void appendElement(std::string& document, int depth, std::string_view name, std::string_view text)
{
    document.append(static_cast<size_t>(depth) * 2, ' ');
    document += '<';
    document += name;
    document += '>';
    document += BwfChunkBuilder::escapeXmlText(text);
    document += "</";
    document += name;
    document += ">\n";
}

void appendTag(std::string& document, int depth, std::string_view tag)
{
    document.append(static_cast<size_t>(depth) * 2, ' ');
    document += tag;
    document += '\n';
}

void appendSpeed(std::string& document, const BwfFileWriter::BextChunk& chunk)
{
    const bool hasRate = chunk.frameRate > 0.0;
    if (!hasRate && chunk.timestampSampleRate == 0 && chunk.timeReference == 0)
        return;
    appendTag(document, 1, "<SPEED>");
    appendElement(document, 2, "NOTE", "");
    if (hasRate) {
        const std::string rate = BwfChunkBuilder::ixmlRateText(chunk.frameRate);
        appendElement(document, 2, "MASTER_SPEED", rate);
        appendElement(document, 2, "CURRENT_SPEED", "");
        appendElement(document, 2, "TIMECODE_FLAG", chunk.dropFrame ? "DF" : "NDF");
        appendElement(document, 2, "TIMECODE_RATE", rate);
    }
    if (chunk.timestampSampleRate != 0)
        appendElement(document, 2, "TIMESTAMP_SAMPLE_RATE", std::to_string(chunk.timestampSampleRate));
    if (chunk.timeReference != 0) {
        appendElement(document, 2, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI", std::to_string(chunk.timeReference >> 32));
        appendElement(document, 2, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO",
                      std::to_string(chunk.timeReference & 0xFFFFFFFFu));
    }
    appendTag(document, 1, "</SPEED>");
}

void appendBext(std::string& document, const BwfFileWriter::BextChunk& chunk)
{
    appendTag(document, 1, "<BEXT>");
    appendElement(document, 2, "BWF_ORIGINATION_DATE", chunk.originationDate);
    appendElement(document, 2, "BWF_ORIGINATION_TIME", chunk.originationTime);
    if (chunk.timeReference != 0) {
        appendElement(document, 2, "BWF_TIME_REFERENCE_HIGH", std::to_string(chunk.timeReference >> 32));
        appendElement(document, 2, "BWF_TIME_REFERENCE_LOW", std::to_string(chunk.timeReference & 0xFFFFFFFFu));
    }
    appendTag(document, 1, "</BEXT>");
}

void appendTrackList(std::string& document, const std::vector<std::string>& trackNames)
{
    if (trackNames.empty())
        return;
    appendTag(document, 1, "<TRACK_LIST>");
    for (size_t i = 0; i < trackNames.size(); ++i) {
        const std::string index = std::to_string(i + 1);
        appendTag(document, 2, "<TRACK>");
        appendElement(document, 3, "CHANNEL_INDEX", index);
        appendElement(document, 3, "INTERLEAVE_INDEX", index);
        appendElement(document, 3, "NAME", trackNames[i]);
        appendElement(document, 3, "FUNCTION", trackNames[i] == "MIX" ? "Mix" : "Single");
        appendTag(document, 2, "</TRACK>");
    }
    appendTag(document, 1, "</TRACK_LIST>");
}

// Every chunk body we write has an even length, so no pad byte follows it.
// A pad byte is valid RIFF, but libsndfile 1.2.0 (Debian 12) does not skip it
// in RF64 files and then fails to find "data": every take must open there.
bool isOddLength(size_t bytes)
{
    return bytes % 2 != 0;
}

} // namespace

std::string BwfChunkBuilder::composeDescription(const BwfFileWriter::BextChunk& chunk)
{
    std::string text;
    if (chunk.timeReference != 0 && chunk.frameRate > 0.0 && chunk.timestampSampleRate != 0)
        text += userBitsLine(chunk);
    auto addLine = [&text](std::string_view key, std::string_view value) {
        if (value.empty())
            return;
        text += key;
        text += descriptionValue(value);
        text += '\n';
    };
    addLine("aSCENE=", chunk.scene);
    addLine("aTAKE=", chunk.take);
    addLine("aTAPE=", chunk.tape);
    if (chunk.frameRate > 0.0) {
        text += "aSPEED=" + fixedText(chunk.frameRate, 3, 7) + "-ND\n";
    }
    addLine("aTAG=", chunk.project);
    addLine("aNOTE=", chunk.note);
    for (size_t i = 0; i < chunk.trackNames.size(); ++i)
        addLine("aTRK" + std::to_string(i + 1) + "=", chunk.trackNames[i]);
    return text;
}

std::string BwfChunkBuilder::composeCodingHistory(const FileFormat& format)
{
    return "A=PCM,F=" + std::to_string(format.sampleRate) + ",W=" + std::to_string(format.bitsPerSample) +
           ",M=" + (format.channels == 1 ? "mono" : "multi") + ",R=" + std::to_string(format.sampleRate) +
           ",T=" + std::to_string(format.channels) + " Ch\r\n";
}

std::vector<uint8_t> BwfChunkBuilder::buildBextChunk(const BwfFileWriter::BextChunk& chunk, const FileFormat& format)
{
    using namespace LittleEndianBytes;
    std::string description = composeDescription(chunk);
    if (description.size() > kDescriptionMaxTextBytes)
        description.resize(kDescriptionMaxTextBytes);

    std::vector<uint8_t> bytes;
    appendText(bytes, "bext");
    append32(bytes, 0); // size, filled in below
    appendFixedText(bytes, description, kDescriptionBytes);
    appendFixedText(bytes, chunk.originator.empty() ? kDefaultOriginator : chunk.originator, kOriginatorBytes);
    appendFixedText(bytes, chunk.originatorReference, kOriginatorReferenceBytes);
    appendFixedText(bytes, chunk.originationDate.empty() ? formatLocalNow("%Y-%m-%d") : chunk.originationDate,
                    kOriginationDateBytes);
    appendFixedText(bytes, chunk.originationTime.empty() ? formatLocalNow("%H:%M:%S") : chunk.originationTime,
                    kOriginationTimeBytes);
    append64(bytes, chunk.timeReference);
    append16(bytes, chunk.version);
    bytes.resize(bytes.size() + kUmidBytes + kReservedBytes, 0);
    appendText(bytes, composeCodingHistory(format));
    bytes.push_back(0); // the coding history's terminating NUL counts in the size
    // A second NUL, inside the coding-history field and counted in the size,
    // keeps the body even; readers stop at the first NUL.
    if (isOddLength(bytes.size()))
        bytes.push_back(0);

    store32(bytes.data() + 4, static_cast<uint32_t>(bytes.size() - kChunkHeaderBytes));
    return bytes;
}

std::string BwfChunkBuilder::composeIxmlDocument(const BwfFileWriter::BextChunk& chunk)
{
    std::string document = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<BWFXML>\n";
    appendElement(document, 1, "IXML_VERSION", "2.01");
    auto addIfSet = [&document](std::string_view name, const std::string& value) {
        if (!value.empty())
            appendElement(document, 1, name, value);
    };
    addIfSet("PROJECT", chunk.project);
    addIfSet("SCENE", chunk.scene);
    addIfSet("TAKE", chunk.take);
    appendElement(document, 1, "TAKE_TYPE", "TAKE");
    addIfSet("TAPE", chunk.tape);
    appendElement(document, 1, "CIRCLED", chunk.circled ? "TRUE" : "FALSE");
    addIfSet("NOTE", chunk.note);
    appendSpeed(document, chunk);
    appendBext(document, chunk);
    appendTrackList(document, chunk.trackNames);
    document += "</BWFXML>\n";
    // White space after the root element is still well-formed XML; it keeps
    // the chunk even without a pad byte.
    if (isOddLength(document.size()))
        document += '\n';
    return document;
}

std::vector<uint8_t> BwfChunkBuilder::buildIxmlChunk(const BwfFileWriter::BextChunk& chunk)
{
    using namespace LittleEndianBytes;
    const std::string document = composeIxmlDocument(chunk);
    std::vector<uint8_t> bytes;
    bytes.reserve(kChunkHeaderBytes + document.size() + kIxmlSpareBytes);
    appendText(bytes, "iXML");
    append32(bytes, static_cast<uint32_t>(document.size() + kIxmlSpareBytes));
    appendText(bytes, document);
    bytes.insert(bytes.end(), kIxmlSpareBytes, 0);
    return bytes;
}

std::string BwfChunkBuilder::ixmlRateText(double frameRate)
{
    struct RateBand {
        double from;
        double below;
        const char* text;
    };
    static constexpr RateBand kBands[] = {
        {23.9, 24.0, "24000/1001"}, {29.9, 30.0, "30000/1001"}, {59.9, 60.0, "60000/1001"},
        {24.0, 24.1, "24/1"},       {25.0, 25.1, "25/1"},       {30.0, 30.1, "30/1"},
    };
    for (const RateBand& band : kBands) {
        if (frameRate >= band.from && frameRate < band.below)
            return band.text;
    }
    return std::to_string(std::llround(frameRate)) + "/1";
}

std::string BwfChunkBuilder::escapeXmlText(std::string_view text)
{
    std::string result;
    result.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': result += "&amp;"; break;
        case '<': result += "&lt;"; break;
        case '>': result += "&gt;"; break;
        default:
            // XML 1.0 allows no C0 control character but tab, line feed and CR.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n' && c != '\r')
                break;
            result += c;
        }
    }
    return result;
}
