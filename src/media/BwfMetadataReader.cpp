#include "media/BwfMetadataReader.h"

#include "core/NumberText.h"
#include "media/BextFields.h"
#include "media/CantarMetadataParser.h"
#include "media/Ds64Chunk.h"
#include "media/LittleEndianBytes.h"

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr int64_t kFormHeaderBytes = 12;  // "RIFF"/"RF64", 32-bit size, "WAVE"
constexpr uint32_t kRf64SizeInDs64 = 0xFFFFFFFFu;
// No bext or iXML chunk of any recorder comes near this; a damaged size
// must not make us hold a take's audio in memory.
constexpr uint64_t kMaxMetadataBodyBytes = 16u << 20;
// The header of a take (ds64, bext, iXML with its spare room for edits, fmt)
// fits one block: the whole walk is a single read. Our takes' headers are
// about 6.5 KiB with four tracks and grow with each track's iXML entry; a
// 4 KiB block made the walk read them in four reads, two of them twice.
constexpr size_t kReadBlockBytes = 16u << 10;

// fmt chunk body offsets; the format is reported as the file states it, also
// when no reader of ours could decode its samples.
constexpr uint32_t kFmtChannelsOffset = 2;
constexpr uint32_t kFmtSampleRateOffset = 4;
constexpr uint32_t kFmtBitsOffset = 14;
constexpr uint32_t kFmtFieldBytes = 16;

// The chunk's body bytes that lie in the file, at most `limit` of them.
std::string readBody(RiffChunkWalker& walker, const RiffChunkWalker::Chunk& chunk, uint64_t fileSize,
                     uint64_t limit = kMaxMetadataBodyBytes)
{
    const uint64_t inFile = static_cast<uint64_t>(chunk.bodyOffset) < fileSize
                                ? fileSize - static_cast<uint64_t>(chunk.bodyOffset)
                                : 0;
    const uint64_t count = std::min({uint64_t{chunk.size}, inFile, limit});
    std::string body(static_cast<size_t>(count), '\0');
    if (count > 0 && !walker.readAt(chunk.bodyOffset, body.data(), body.size()))
        return {};
    return body;
}

// The field's bytes up to its first NUL; the part of a field beyond a short
// body is absent.
std::string textField(const std::string& body, uint32_t offset, uint32_t bytes)
{
    if (offset >= body.size())
        return {};
    const std::string_view field = std::string_view(body).substr(offset, std::min<size_t>(bytes, body.size() - offset));
    return std::string(field.substr(0, field.find('\0')));
}

const uint8_t* bodyBytes(const std::string& body, uint32_t offset)
{
    return reinterpret_cast<const uint8_t*>(body.data()) + offset;
}

bool hasField(const std::string& body, uint32_t offset, uint32_t bytes)
{
    return body.size() >= size_t{offset} + bytes;
}

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isClockTime(const std::string& text)
{
    if (text.size() != 8)
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        if ((i == 2 || i == 5) ? text[i] != ':' : !isDigit(text[i]))
            return false;
    }
    return true;
}

template <typename Number>
bool parseNumber(const std::string& text, Number& value)
{
    if (text.empty())
        return false;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end != text.data();
}

// Also reads the decimal comma that builds formatting through the user's
// locale left in Descriptions ("aSPEED=023,976-ND").
bool parseFiniteDecimal(const std::string& text, double& value)
{
    double parsed = 0.0;
    if (!parseDecimal(text, parsed) || !std::isfinite(parsed))
        return false;
    value = parsed;
    return true;
}

// The rate of a clock running 1001/1000 as fast as the sample clock, as the
// pulled-down timecode rates need it; 0 (unknown) when it does not fit the
// 32-bit field, where a cast would be undefined.
uint32_t pulledUpRate(uint32_t sampleRate)
{
    const double rate = sampleRate * 1.001 + 0.5;
    return rate < static_cast<double>(UINT32_MAX) ? static_cast<uint32_t>(rate) : 0;
}

void readFileInfo(RiffChunkWalker& walker, const BwfMetadataReader::WaveForm& form, BwfMetadata& metadata)
{
    uint64_t dataSize = form.isRF64 ? form.ds64DataSize : 0;
    RiffChunkWalker::Chunk chunk;
    // The duration counts the samples the file holds, not what a damaged
    // or never-patched size claims.
    uint64_t bytesInFile = metadata.fileSize;
    if (BwfMetadataReader::findChunk(walker, form, "data", chunk)) {
        if (!form.isRF64)
            dataSize = chunk.size;
        const auto bodyOffset = static_cast<uint64_t>(chunk.bodyOffset);
        bytesInFile = bodyOffset < metadata.fileSize ? metadata.fileSize - bodyOffset : 0;
    }
    dataSize = std::min(dataSize, bytesInFile);

    uint8_t fmt[kFmtFieldBytes];
    if (!BwfMetadataReader::findChunk(walker, form, "fmt ", chunk) || chunk.size < kFmtFieldBytes ||
        !walker.readAt(chunk.bodyOffset, fmt, sizeof fmt))
        return;
    metadata.channels = LittleEndianBytes::load16(fmt + kFmtChannelsOffset);
    metadata.sampleRate = LittleEndianBytes::load32(fmt + kFmtSampleRateOffset);
    metadata.bitsPerSample = LittleEndianBytes::load16(fmt + kFmtBitsOffset);

    const uint64_t bytesPerFrame = uint64_t{metadata.bitsPerSample / 8u} * metadata.channels;
    if (dataSize != 0 && bytesPerFrame != 0 && metadata.sampleRate != 0)
        metadata.durationSeconds = static_cast<double>(dataSize / bytesPerFrame) / metadata.sampleRate;
}

void readBextChunk(RiffChunkWalker& walker, const BwfMetadataReader::WaveForm& form, BwfMetadata& metadata)
{
    using namespace BextFields;
    RiffChunkWalker::Chunk chunk;
    if (!BwfMetadataReader::findChunk(walker, form, "bext", chunk))
        return;
    const std::string body = readBody(walker, chunk, metadata.fileSize);

    metadata.description = textField(body, kDescriptionOffset, kDescriptionBytes);
    metadata.originator = textField(body, kOriginatorOffset, kOriginatorBytes);
    metadata.originatorReference = textField(body, kOriginatorReferenceOffset, kOriginatorReferenceBytes);
    metadata.originationDate = textField(body, kOriginationDateOffset, kOriginationDateBytes);
    const std::string time = textField(body, kOriginationTimeOffset, kOriginationTimeBytes);
    if (isClockTime(time))
        metadata.originationTime = time;
    if (hasField(body, kTimeReferenceOffset, kTimeReferenceBytes)) {
        const uint64_t reference = LittleEndianBytes::load64(bodyBytes(body, kTimeReferenceOffset));
        if (reference >= 1 && reference <= kMaxTimeReference)
            metadata.timeReference = reference;
    }
    if (hasField(body, kVersionOffset, 2))
        metadata.bextVersion = LittleEndianBytes::load16(bodyBytes(body, kVersionOffset));
    if (hasField(body, kUmidOffset, kUmidBytes)) {
        static const char* const kHexDigits = "0123456789abcdef";
        metadata.umid.reserve(size_t{kUmidBytes} * 2);
        for (uint32_t i = 0; i < kUmidBytes; ++i) {
            const uint8_t byte = bodyBytes(body, kUmidOffset)[i];
            metadata.umid += kHexDigits[byte >> 4];
            metadata.umid += kHexDigits[byte & 0xF];
        }
    }
    if (body.size() > kFixedBytes) {
        const std::string_view history = std::string_view(body).substr(kFixedBytes);
        metadata.codingHistory = std::string(history.substr(0, history.find('\0')));
    }
}

void readIxmlChunk(RiffChunkWalker& walker, const BwfMetadataReader::WaveForm& form, BwfMetadata& metadata)
{
    RiffChunkWalker::Chunk chunk;
    if (!BwfMetadataReader::findChunk(walker, form, "iXML", chunk))
        return;
    BwfMetadataReader::parseIxml(readBody(walker, chunk, metadata.fileSize), metadata);
}

// [start, end) of a section: the opening tag (either spelling) and the first
// closing tag after it; npos when the section is absent.
struct Section {
    size_t start = std::string::npos;
    size_t end = std::string::npos;
};

// The first byte `a` or `b` in [from, to), else `to`. Eight bytes a step:
// an iXML document is mostly tag names and indentation, which a byte loop
// or a memchr call per tag crosses slower.
const char* findEither(const char* from, const char* to, char a, char b)
{
    constexpr uint64_t kOnes = 0x0101010101010101ull;
    constexpr uint64_t kHighBits = 0x8080808080808080ull;
    const uint64_t aBytes = kOnes * static_cast<uint8_t>(a);
    const uint64_t bBytes = kOnes * static_cast<uint8_t>(b);
    while (to - from >= 8) {
        const uint64_t word = LittleEndianBytes::load64(reinterpret_cast<const uint8_t*>(from));
        // A byte of x is zero where the word holds the wanted byte; the
        // lowest flagged byte is always a true one (a borrow only flags
        // bytes above it).
        const uint64_t xa = word ^ aBytes;
        const uint64_t xb = word ^ bBytes;
        const uint64_t hits = (((xa - kOnes) & ~xa) | ((xb - kOnes) & ~xb)) & kHighBits;
        if (hits != 0)
            return from + std::countr_zero(hits) / 8;
        from += 8;
    }
    while (from < to && *from != a && *from != b)
        ++from;
    return from;
}

// The opening and closing tags ("<NAME>", "</NAME>", no attributes) of a
// document, found in one pass and kept in lists by the length of their
// names, each in document order. A lookup starts with a binary search for
// its first position and visits only the tags as long as the wanted name,
// so the fields of each of many TRACKs cost a few steps, not a walk from
// the top of the document.
class TagIndex {
public:
    explicit TagIndex(const std::string& document)
        : document_(document)
    {
        // Two passes: the first counts the tags of each kind, so each list
        // is allocated once at its size. Growing lists of a large document
        // cost more in copies and fresh pages than the scan itself.
        std::array<size_t, kLongestTagName + 1> openingCount{};
        std::array<size_t, kLongestTagName + 1> closingCount{};
        forEachTag([&](bool closing, size_t length, size_t) { ++(closing ? closingCount : openingCount)[length]; });
        for (size_t length = 0; length <= kLongestTagName; ++length) {
            opening_[length].reserve(openingCount[length]);
            closing_[length].reserve(closingCount[length]);
        }
        forEachTag([&](bool closing, size_t length, size_t position) {
            (closing ? closing_ : opening_)[length].push_back(position);
        });
    }

    // The position of the first tag at or after `from` spelled exactly
    // `name`; npos when there is none.
    size_t findTag(size_t from, std::string_view name, bool closing) const
    {
        const std::vector<size_t>* tags = ofLength(name.size(), closing);
        if (!tags)
            return std::string::npos;
        for (auto tag = std::lower_bound(tags->begin(), tags->end(), from); tag != tags->end(); ++tag) {
            if (nameAt(*tag, name.size(), closing) == name)
                return *tag;
        }
        return std::string::npos;
    }

    // How many opening or closing tags have a name as long as `name`: an
    // upper bound of how many are spelled `name`.
    size_t countOfLength(std::string_view name, bool closing) const
    {
        const std::vector<size_t>* tags = ofLength(name.size(), closing);
        return tags ? tags->size() : 0;
    }

    // [start, end) of a section: the opening tag (either spelling) and the
    // first closing tag after it; npos when the section is absent.
    Section section(std::string_view upperName, std::string_view mixedName) const
    {
        Section found;
        found.start = findTag(0, upperName, false);
        if (found.start == std::string::npos)
            found.start = findTag(0, mixedName, false);
        if (found.start == std::string::npos)
            return found;
        found.end = findTag(found.start, upperName, true);
        if (found.end == std::string::npos)
            found.end = findTag(found.start, mixedName, true);
        return found;
    }

    // What extractTagValue gives for the text [from, to) of the document.
    // The upper-case spelling of `name` first, then the lower-case one.
    std::string value(size_t from, size_t to, std::string_view name) const
    {
        const size_t at = find(from, to, name);
        if (at == std::string::npos)
            return {};
        const size_t start = at + name.size() + 2;
        const char* const text = document_.data();
        const size_t end = static_cast<size_t>(findEither(text + start, text + document_.size(), '<', '<') - text);
        if (end == document_.size() || end >= to)
            return {};
        const std::string_view value = CantarMetadataParser::trimView(std::string_view(document_).substr(start, end - start));
        // A loop, not memchr: a value is a few bytes, shorter than a call.
        if (std::find(value.begin(), value.end(), '&') == value.end())
            return std::string(value);
        return BwfMetadataReader::unescapeXmlText(std::string(value));
    }

private:
    // Calls tag(closing, name length, position of "<") for each tag of the
    // document, in order.
    template <typename Tag>
    void forEachTag(Tag tag) const
    {
        const char* const begin = document_.data();
        const char* const end = begin + document_.size();
        const char* at = findEither(begin, end, '<', '<');
        while (at != end) {
            // The text up to the next ">", unchecked: a lookup compares it
            // with a name of name characters only, so a text holding any
            // other byte never matches. Longer texts are no name we look up,
            // and neither is one holding "<": that "<" opens the next tag.
            const size_t window = std::min(static_cast<size_t>(end - at - 1), kLongestName + 2);
            const char* const limit = at + 1 + window;
            const char* const close = findEither(at + 1, limit, '>', '<');
            if (close == limit || *close == '<') {
                at = close == limit ? findEither(limit, end, '<', '<') : close;
                continue;
            }
            const bool closing = at[1] == '/';
            const char* const name = at + (closing ? 2 : 1);
            if (close > name)
                tag(closing, static_cast<size_t>(close - name), static_cast<size_t>(at - begin));
            // A tag's text holds no "<": the next one starts after its ">".
            at = findEither(close + 1, end, '<', '<');
        }
    }

    // No element name of iXML comes near this. The text between "<" and
    // ">" is at most one byte longer.
    static constexpr size_t kLongestName = 64;
    static constexpr size_t kLongestTagName = kLongestName + 1;

    static char asciiCase(char c, bool lowerCase)
    {
        if (lowerCase)
            return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
        return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }

    // The tag is `name` in all upper case, or all lower case; compared in
    // place, as building the two spellings for each lookup costs more than
    // the lookup.
    static bool sameName(std::string_view tag, std::string_view name, bool lowerCase)
    {
        if (tag.size() != name.size())
            return false;
        for (size_t i = 0; i < tag.size(); ++i) {
            if (tag[i] != asciiCase(name[i], lowerCase))
                return false;
        }
        return true;
    }

    const std::vector<size_t>* ofLength(size_t length, bool closing) const
    {
        return length > kLongestTagName ? nullptr : &(closing ? closing_ : opening_)[length];
    }

    // The name of the tag at `position`, which its list says is `length` long.
    std::string_view nameAt(size_t position, size_t length, bool closing) const
    {
        return std::string_view(document_).substr(position + (closing ? 2 : 1), length);
    }

    // The first opening tag in [from, to) spelled `name` in upper case,
    // else the first in lower case; one pass over the tags for both.
    size_t find(size_t from, size_t to, std::string_view name) const
    {
        const std::vector<size_t>* tags = ofLength(name.size(), false);
        if (!tags)
            return std::string::npos;
        size_t lower = std::string::npos;
        for (auto tag = std::lower_bound(tags->begin(), tags->end(), from); tag != tags->end(); ++tag) {
            if (*tag + name.size() + 2 > to)
                break;
            const std::string_view tagName = nameAt(*tag, name.size(), false);
            if (sameName(tagName, name, false))
                return *tag;
            if (lower == std::string::npos && sameName(tagName, name, true))
                lower = *tag;
        }
        return lower;
    }

    const std::string& document_;
    // The positions of the tags ("<" of each), by the length of their name.
    std::array<std::vector<size_t>, kLongestTagName + 1> opening_;
    std::array<std::vector<size_t>, kLongestTagName + 1> closing_;
};

void parseSpeed(const TagIndex& tags, size_t from, size_t to, BwfMetadata& metadata)
{
    auto extract = [&](const char* name) { return tags.value(from, to, name); };
    uint64_t rate = 0;
    if (parseNumber(extract("TIMESTAMP_SAMPLE_RATE"), rate) &&
        static_cast<uint32_t>(rate) != 0)
        metadata.timestampSampleRate = static_cast<uint32_t>(rate);

    uint64_t high = 0;
    uint64_t low = 0;
    if (parseNumber(extract("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI"), high) &&
        parseNumber(extract("TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO"), low)) {
        const uint64_t reference = (high << 32) | low;
        if (reference <= BextFields::kMaxTimeReference)
            metadata.timeReference = reference;
    }

    const std::string rateText = extract("TIMECODE_RATE");
    const size_t slash = rateText.find('/');
    if (slash != std::string::npos) {
        double numerator = 0.0;
        double denominator = 0.0;
        if (parseFiniteDecimal(rateText.substr(0, slash), numerator) && parseFiniteDecimal(rateText.substr(slash + 1), denominator) &&
            denominator > 0.0) {
            metadata.frameRate = numerator / denominator;
            if (metadata.timestampSampleRate == 0 && metadata.sampleRate != 0 && denominator == 1001.0)
                metadata.timestampSampleRate = pulledUpRate(metadata.sampleRate);
        }
    } else {
        parseFiniteDecimal(rateText, metadata.frameRate);
    }

    const std::string flag = extract("TIMECODE_FLAG");
    if (!flag.empty())
        metadata.dropFrame = flag == "DF" || flag == "df";
}

void parseBextSection(const TagIndex& tags, size_t from, size_t to, BwfMetadata& metadata)
{
    const std::string time = tags.value(from, to, "BWF_ORIGINATION_TIME");
    if (!time.empty() && metadata.originationTime.empty()) {
        metadata.originationTime = time;
        for (char& c : metadata.originationTime) {
            if (c == '-')
                c = ':';
        }
    }
    const std::string lowText = tags.value(from, to, "BWF_TIME_REFERENCE_LOW");
    const std::string highText = tags.value(from, to, "BWF_TIME_REFERENCE_HIGH");
    uint64_t low = 0;
    uint64_t high = 0;
    if (parseNumber(lowText, low) && (highText.empty() || parseNumber(highText, high))) {
        const uint64_t reference = (high << 32) | low;
        if (reference >= 1 && reference <= BextFields::kMaxTimeReference)
            metadata.timeReference = reference;
    }
}

bool flagValue(const std::string& value)
{
    std::string upper = value;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return upper == "TRUE" || upper == "1";
}

void parseTrackList(const TagIndex& tags, BwfMetadata& metadata)
{
    const Section list = tags.section("TRACK_LIST", "TrackList");
    if (list.start == std::string::npos || list.end == std::string::npos)
        return;
    // One allocation for a list of thousands of tracks, not one per doubling.
    metadata.tracks.reserve(metadata.tracks.size() + tags.countOfLength("TRACK", false));
    size_t position = list.start;
    int runningNumber = 0;
    for (;;) {
        const size_t track = tags.findTag(position, "TRACK", false);
        if (track == std::string::npos || track > list.end)
            break;
        ++runningNumber;
        // A TRACK's fields end at its own closing tag: a TRACK without
        // CHANNEL_INDEX or NAME must not take a later TRACK's.
        const size_t close = tags.findTag(track, "TRACK", true);
        const size_t fieldsEnd = std::min(close, list.end);
        BwfMetadata::TrackInfo info;
        if (!parseNumber(tags.value(track, fieldsEnd, "CHANNEL_INDEX"), info.channelIndex))
            info.channelIndex = runningNumber;
        info.name = tags.value(track, fieldsEnd, "NAME");
        info.function = tags.value(track, fieldsEnd, "FUNCTION");
        metadata.tracks.push_back(std::move(info));
        if (close == std::string::npos)
            break;
        position = close + std::strlen("</TRACK>");
    }
}

bool isNearRate(double frameRate, double rate)
{
    return std::fabs(frameRate - rate) <= 0.001;
}

void applyDescriptionFallback(BwfMetadata& metadata)
{
    if (metadata.description.empty())
        return;
    const CantarMetadata parsed = CantarMetadataParser::parseDescription(metadata.description);
    auto fill = [](std::string& member, const std::string& value) {
        if (member.empty())
            member = value;
    };
    fill(metadata.scene, parsed.scene);
    fill(metadata.tape, parsed.tape);
    fill(metadata.take, parsed.take);
    fill(metadata.note, parsed.note);
    fill(metadata.userBits, parsed.userBits);
    if (metadata.frameRate == 0.0 && !parsed.speed.empty())
        parseFiniteDecimal(parsed.speed, metadata.frameRate);
    if (metadata.tracks.empty()) {
        for (size_t i = 0; i < parsed.trackNames.size(); ++i) {
            if (!parsed.trackNames[i].empty())
                metadata.tracks.push_back({static_cast<int>(i) + 1, parsed.trackNames[i], {}});
        }
    }
    if (parsed.dForm && metadata.timestampSampleRate == 0 && metadata.sampleRate != 0 && metadata.frameRate > 0.0) {
        const bool pulledDown = isNearRate(metadata.frameRate, 23.976) || isNearRate(metadata.frameRate, 29.97) ||
                                isNearRate(metadata.frameRate, 59.94);
        metadata.timestampSampleRate = pulledDown ? pulledUpRate(metadata.sampleRate) : metadata.sampleRate;
    }
}

void appendUtf8(std::string& out, uint32_t codePoint)
{
    if (codePoint < 0x80) {
        out += static_cast<char>(codePoint);
    } else if (codePoint < 0x800) {
        out += static_cast<char>(0xC0 | (codePoint >> 6));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else if (codePoint < 0x10000) {
        out += static_cast<char>(0xE0 | (codePoint >> 12));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (codePoint >> 18));
        out += static_cast<char>(0x80 | ((codePoint >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((codePoint >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (codePoint & 0x3F));
    }
}

// The character an entity name ("amp", "#38", "#x26") stands for; false when
// it is none we know, so the text stays as it was.
bool resolveEntity(const std::string& name, std::string& out)
{
    static const struct {
        const char* name;
        char character;
    } kNamed[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}};
    for (const auto& entity : kNamed) {
        if (name == entity.name) {
            out += entity.character;
            return true;
        }
    }
    if (name.size() < 2 || name[0] != '#')
        return false;
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const char* first = name.data() + (hex ? 2 : 1);
    const char* last = name.data() + name.size();
    uint32_t codePoint = 0;
    const auto [end, error] = std::from_chars(first, last, codePoint, hex ? 16 : 10);
    const bool valid = error == std::errc() && end == last && first != last && codePoint != 0 &&
                       codePoint <= 0x10FFFF && !(codePoint >= 0xD800 && codePoint <= 0xDFFF);
    if (!valid)
        return false;
    appendUtf8(out, codePoint);
    return true;
}

} // namespace

BwfMetadata BwfMetadataReader::readMetadata(const std::string& path)
{
    std::string fileName = std::filesystem::path(path).filename().string();
    const uint64_t fileSize = std::filesystem::file_size(path);  // throws for a missing path
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        BwfMetadata metadata;
        metadata.fileName = std::move(fileName);
        metadata.fileSize = fileSize;
        return metadata;
    }
    BwfMetadata metadata = readMetadata(fd, fileSize, std::move(fileName));
    ::close(fd);
    return metadata;
}

BwfMetadata BwfMetadataReader::readMetadata(int fd, uint64_t fileSizeBytes, std::string fileName)
{
    BwfMetadata metadata;
    metadata.fileName = std::move(fileName);
    metadata.fileSize = fileSizeBytes;
    RiffChunkWalker walker(fd, static_cast<int64_t>(metadata.fileSize));
    walker.cacheReads(kReadBlockBytes);
    char magic[4] = {};
    if (!walker.readAt(0, magic, sizeof magic))
        return metadata;
    metadata.isRF64 = std::memcmp(magic, "RF64", 4) == 0;
    const WaveForm form = readWaveForm(walker);
    if (!form.isWave)
        return metadata;

    readFileInfo(walker, form, metadata);
    readBextChunk(walker, form, metadata);
    readIxmlChunk(walker, form, metadata);
    return metadata;
}

BwfMetadataReader::WaveForm BwfMetadataReader::readWaveForm(RiffChunkWalker& walker)
{
    WaveForm form;
    uint8_t header[kFormHeaderBytes];
    if (!walker.readAt(0, header, sizeof header) || std::memcmp(header + 8, "WAVE", 4) != 0)
        return form;
    form.isRF64 = std::memcmp(header, "RF64", 4) == 0;
    form.isWave = form.isRF64 || std::memcmp(header, "RIFF", 4) == 0;
    if (!form.isRF64)
        return form;
    RiffChunkWalker::Chunk ds64;
    uint8_t sizes[Ds64Chunk::kSizesBytes];
    if (walker.find(Ds64Chunk::kIdOffset, "ds64", ds64) == RiffChunkWalker::Result::Found &&
        ds64.size >= Ds64Chunk::kSizesBytes && walker.readAt(ds64.bodyOffset, sizes, sizeof sizes)) {
        form.hasDs64 = true;
        form.ds64DataSize = Ds64Chunk::load(sizes).dataSize;
    }
    return form;
}

bool BwfMetadataReader::findChunk(RiffChunkWalker& walker, const WaveForm& form, const char* id,
                                  RiffChunkWalker::Chunk& chunk)
{
    int64_t offset = kFormHeaderBytes;
    while (walker.readHeader(offset, chunk)) {
        if (std::memcmp(chunk.id, id, 4) == 0)
            return true;
        uint64_t bodyBytes = chunk.size;
        if (form.isRF64 && std::memcmp(chunk.id, "data", 4) == 0 && chunk.size == kRf64SizeInDs64) {
            // The real size is in ds64; 0 means a recording never closed,
            // whose end is unknown.
            if (form.ds64DataSize == 0)
                return false;
            bodyBytes = form.ds64DataSize;
        }
        const uint64_t next = static_cast<uint64_t>(chunk.bodyOffset) + bodyBytes + (bodyBytes & 1u);
        if (bodyBytes > static_cast<uint64_t>(INT64_MAX / 2) || next > static_cast<uint64_t>(INT64_MAX))
            return false;
        offset = static_cast<int64_t>(next);  // readHeader refuses a header past the end
    }
    return false;
}

void BwfMetadataReader::parseIxml(const std::string& document, BwfMetadata& metadata)
{
    const TagIndex tags(document);
    const size_t documentEnd = document.size();
    const Section speed = tags.section("SPEED", "Speed");
    if (speed.start != std::string::npos)
        parseSpeed(tags, speed.start, speed.end == std::string::npos ? documentEnd : speed.end, metadata);

    const std::string userBits = tags.value(0, documentEnd, "UBITS");
    if (!userBits.empty())
        metadata.userBits = userBits[0] == '$' ? userBits : "$" + userBits;

    const Section bext = tags.section("BEXT", "Bext");
    if (bext.start != std::string::npos && bext.end != std::string::npos)
        parseBextSection(tags, bext.start, bext.end, metadata);

    const struct {
        const char* name;
        std::string BwfMetadata::*member;
    } kTexts[] = {{"SCENE", &BwfMetadata::scene},
                  {"PROJECT", &BwfMetadata::project},
                  {"TAPE", &BwfMetadata::tape},
                  {"TAKE", &BwfMetadata::take},
                  {"NOTE", &BwfMetadata::note}};
    for (const auto& text : kTexts) {
        std::string value = tags.value(0, documentEnd, text.name);
        if (!value.empty())
            metadata.*text.member = std::move(value);
    }
    const std::string circled = tags.value(0, documentEnd, "CIRCLED");
    if (!circled.empty())
        metadata.circled = flagValue(circled);
    const std::string wildTrack = tags.value(0, documentEnd, "WILD_TRACK");
    if (!wildTrack.empty())
        metadata.wildTrack = flagValue(wildTrack);

    parseTrackList(tags, metadata);
    applyDescriptionFallback(metadata);
}

std::string BwfMetadataReader::extractTagValue(const std::string& text, const std::string& name)
{
    std::string upper = name;
    std::string lower = name;
    for (char& c : upper) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    std::string open = "<" + upper + ">";
    size_t at = text.find(open);
    if (at == std::string::npos) {
        open = "<" + lower + ">";
        at = text.find(open);
    }
    if (at == std::string::npos)
        return {};
    const size_t start = at + open.size();
    const size_t end = text.find('<', start);
    if (end == std::string::npos)
        return {};
    return unescapeXmlText(CantarMetadataParser::trim(text.substr(start, end - start)));
}

std::string BwfMetadataReader::unescapeXmlText(const std::string& text)
{
    std::string result;
    result.reserve(text.size());
    size_t position = 0;
    while (position < text.size()) {
        const size_t amp = text.find('&', position);
        if (amp == std::string::npos) {
            result.append(text, position, std::string::npos);
            break;
        }
        result.append(text, position, amp - position);
        const size_t semicolon = text.find(';', amp + 1);
        constexpr size_t kLongestEntity = 10;  // "#x10FFFF" and room to spare
        if (semicolon != std::string::npos && semicolon - amp - 1 <= kLongestEntity &&
            resolveEntity(text.substr(amp + 1, semicolon - amp - 1), result)) {
            position = semicolon + 1;
        } else {
            result += '&';
            position = amp + 1;
        }
    }
    return result;
}
