#include "media/CantarMetadataParser.h"

#include "core/NumberText.h"

#include <cctype>

namespace {

std::string upperAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// Views compare their lengths before any byte: most keys differ in length
// from most names.
bool isOneOf(std::string_view key, std::initializer_list<std::string_view> names)
{
    for (const std::string_view name : names) {
        if (key == name)
            return true;
    }
    return false;
}

bool startsWith(std::string_view text, std::string_view prefix)
{
    return text.substr(0, prefix.size()) == prefix;
}

// "025.000-ND" gives "025.000", "23.976FF" gives "23.976".
std::string speedText(std::string value)
{
    if (value.size() >= 2 && value.compare(value.size() - 2, 2, "FF") == 0)
        value.resize(value.size() - 2);
    const size_t dash = value.find('-');
    if (dash != std::string::npos)
        value.resize(dash);
    return value;
}

// The leading decimal number of the text after the track prefix; 0 when
// there is none or it is out of range.
int trackNumber(const std::string& digits)
{
    long long number = 0;
    size_t i = 0;
    for (; i < digits.size() && std::isdigit(static_cast<unsigned char>(digits[i])); ++i) {
        number = number * 10 + (digits[i] - '0');
        if (number > CantarMetadataParser::kMaxTrackNumber)
            return 0;
    }
    return i == 0 ? 0 : static_cast<int>(number);
}

void setTrackName(CantarMetadata& record, const std::string& digits, std::string_view value)
{
    if (value.empty())
        return;
    const int number = trackNumber(digits);
    if (number < 1)
        return;
    if (record.trackNames.size() < static_cast<size_t>(number))
        record.trackNames.resize(static_cast<size_t>(number));
    record.trackNames[static_cast<size_t>(number) - 1] = value;
}

// A line feed inside a value would start another key line when read back.
std::string lineValue(const std::string& value)
{
    std::string result = value;
    for (char& c : result) {
        if (c == '\n' || c == '\r')
            c = ' ';
    }
    return result;
}

} // namespace

std::string_view CantarMetadataParser::trimView(std::string_view text)
{
    // Compared in place: find_first_not_of calls memchr for every byte it
    // looks at, and this runs for every line and value of every take.
    const auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    size_t first = 0;
    size_t last = text.size();
    while (first < last && isSpace(text[first]))
        ++first;
    while (last > first && isSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::string CantarMetadataParser::trim(const std::string& text)
{
    return std::string(trimView(text));
}

CantarMetadata CantarMetadataParser::parseDescription(const std::string& text)
{
    CantarMetadata record;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        if (end > start)
            parseLine(std::string_view(text).substr(start, end - start), record);
        start = end + 1;
    }
    return record;
}

void CantarMetadataParser::parseField(const std::string& line, CantarMetadata& record)
{
    parseLine(line, record);
}

void CantarMetadataParser::parseLine(std::string_view line, CantarMetadata& record)
{
    // Views until a value is kept: a take's Description holds a dozen
    // lines, read for every take of a folder scan.
    const std::string_view trimmed = trimView(line);
    const size_t equals = trimmed.find('=');
    if (trimmed.empty() || equals == std::string_view::npos)
        return;
    const std::string key = upperAscii(std::string(trimView(trimmed.substr(0, equals))));
    const std::string_view value = trimView(trimmed.substr(equals + 1));

    if (isOneOf(key, {"TS", "DUBITS"})) {
        record.userBits = value;
        record.dForm = true;
    } else if (key == "AUBITS") {
        record.userBits = value;
    } else if (isOneOf(key, {"SCENE", "ASCENE", "DSCENE"})) {
        record.scene = value;
        if (key == "DSCENE")
            record.dForm = true;
    } else if (isOneOf(key, {"TAKE", "ATAKE", "DTAKE"})) {
        record.take = value;
    } else if (isOneOf(key, {"TAPE", "ATAPE", "DTAPE"})) {
        record.tape = value;
    } else if (isOneOf(key, {"SPEED", "ASPEED", "DFRAMERATE"})) {
        record.speed = speedText(std::string(value));
    } else if (isOneOf(key, {"TAG", "ATAG"})) {
        record.tag = value;
    } else if (isOneOf(key, {"NOTE", "ANOTE"})) {
        record.note = value;
    } else if (startsWith(key, "DTRK") || startsWith(key, "ATRK")) {
        setTrackName(record, key.substr(4), value);
    } else if (startsWith(key, "TRK") && key.size() >= 4) {
        setTrackName(record, key.substr(3), value);
    }
}

std::string CantarMetadataParser::buildDescription(const CantarMetadata& record, double frameRate)
{
    const std::string prefix = record.dForm ? "d" : "a";
    std::string text;
    auto addLine = [&text](const std::string& key, const std::string& value, const char* suffix = "") {
        text += key;
        text += lineValue(value);
        text += suffix;
        text += '\n';
    };
    if (!record.userBits.empty())
        addLine(record.dForm ? "TS=" : "aUBITS=", record.userBits);
    if (!record.scene.empty())
        addLine(prefix + "SCENE=", record.scene);
    if (!record.take.empty())
        addLine(prefix + "TAKE=", record.take);
    if (!record.tape.empty())
        addLine(prefix + "TAPE=", record.tape);
    std::string rate;
    if (frameRate > 0.0) {
        rate = fixedText(frameRate, 3);
    } else {
        rate = record.speed;
    }
    if (!rate.empty()) {
        if (record.dForm)
            addLine(prefix + "FRAMERATE=", rate, "FF");
        else
            addLine("aSPEED=", rate, "-ND");
    }
    if (!record.tag.empty())
        addLine("aTAG=", record.tag);
    if (!record.note.empty())
        addLine("aNOTE=", record.note);
    for (size_t i = 0; i < record.trackNames.size(); ++i) {
        if (!record.trackNames[i].empty())
            addLine(prefix + "TRK" + std::to_string(i + 1) + "=", record.trackNames[i]);
    }
    return text;
}
