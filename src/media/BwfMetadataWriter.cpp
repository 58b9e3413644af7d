#include "media/BwfMetadataWriter.h"

#include "media/BextFields.h"
#include "media/BwfChunkBuilder.h"
#include "media/CantarMetadataParser.h"
#include "media/LittleEndianBytes.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

namespace {

// A Description rebuilt for a file whose rate is unknown still carries a
// speed line.
constexpr double kFallbackFrameRate = 24.0;
// Larger iXML bodies are refused rather than loaded.
constexpr uint32_t kMaxEditableIxmlBytes = 16u << 20;
constexpr const char* kDocumentEndTag = "</BWFXML>";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

bool isNew(const std::string& wanted, const std::string& current)
{
    return !wanted.empty() && wanted != current;
}

struct Changes {
    bool description = false;
    bool timeReference = false;
    bool ixml = false;

    bool any() const { return description || timeReference || ixml; }
};

bool tracksDiffer(const BwfMetadata& current, const BwfMetadata& wanted)
{
    for (size_t i = 0; i < wanted.tracks.size(); ++i) {
        if (i >= current.tracks.size() || wanted.tracks[i].name != current.tracks[i].name ||
            wanted.tracks[i].function != current.tracks[i].function)
            return true;
    }
    return false;
}

Changes workOutChanges(const BwfMetadata& current, const BwfMetadata& wanted)
{
    Changes changes;
    const bool textNew = isNew(wanted.scene, current.scene) || isNew(wanted.tape, current.tape) ||
                         isNew(wanted.take, current.take) || isNew(wanted.note, current.note) ||
                         isNew(wanted.project, current.project);
    changes.description = textNew || isNew(wanted.userBits, current.userBits);
    changes.timeReference = wanted.timeReference != 0 && wanted.timeReference != current.timeReference;
    changes.ixml = textNew || isNew(wanted.userBits, current.userBits) || wanted.circled != current.circled ||
                   wanted.wildTrack != current.wildTrack || tracksDiffer(current, wanted) || changes.timeReference;
    return changes;
}

std::string upper(std::string text)
{
    for (char& c : text) {
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

std::string lower(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return text;
}

// Replaces the text between the first <NAME> and the first </NAME> after
// it; without both, inserts "  <NAME>value</NAME>\n" before the end tag.
bool replaceOrInsert(std::string& document, const std::string& name, const std::string& escapedValue,
                     std::string& reason)
{
    const std::string open = "<" + name + ">";
    const std::string close = "</" + name + ">";
    const size_t start = document.find(open);
    const size_t end = start == std::string::npos ? std::string::npos : document.find(close, start + open.size());
    if (end != std::string::npos) {
        document.replace(start + open.size(), end - start - open.size(), escapedValue);
        return true;
    }
    const size_t endTag = document.find(kDocumentEndTag);
    if (endTag == std::string::npos) {
        reason = "The iXML document has no " + std::string(kDocumentEndTag) + " to insert " + name + " before";
        return false;
    }
    document.insert(endTag, "  " + open + escapedValue + close + "\n");
    return true;
}

// Replaces the character data of the first <NAME> element (upper case, else
// lower case, as the reader finds it) within [from, to) up to the next "<".
// Returns the change of the document's length through `delta`; false when the
// element is not there.
bool replaceElementText(std::string& document, size_t from, size_t to, const std::string& name,
                        const std::string& escapedValue, std::ptrdiff_t* delta = nullptr)
{
    for (const std::string& spelled : {upper(name), lower(name)}) {
        const std::string open = "<" + spelled + ">";
        const size_t start = document.find(open, from);
        if (start == std::string::npos || start + open.size() > to)
            continue;
        const size_t textStart = start + open.size();
        const size_t textEnd = document.find('<', textStart);
        if (textEnd == std::string::npos || textEnd > to)
            continue;
        document.replace(textStart, textEnd - textStart, escapedValue);
        if (delta)
            *delta = static_cast<std::ptrdiff_t>(escapedValue.size()) - static_cast<std::ptrdiff_t>(textEnd - textStart);
        return true;
    }
    return false;
}

struct Section {
    size_t start = std::string::npos;
    size_t end = std::string::npos;
};

Section findSection(const std::string& document, const char* upperOpen, const char* mixedOpen, const char* upperClose,
                    const char* mixedClose)
{
    Section section;
    section.start = document.find(upperOpen);
    if (section.start == std::string::npos)
        section.start = document.find(mixedOpen);
    if (section.start == std::string::npos)
        return section;
    section.end = document.find(upperClose, section.start);
    if (section.end == std::string::npos)
        section.end = document.find(mixedClose, section.start);
    return section;
}

bool hasElement(const std::string& document, size_t from, size_t to, const std::string& name)
{
    for (const std::string& spelled : {upper(name), lower(name)}) {
        const size_t at = document.find("<" + spelled + ">", from);
        if (at != std::string::npos && at < to)
            return true;
    }
    return false;
}

// The reader takes a time reference from the SPEED and BEXT elements before
// the bext field, so those the document has follow the edit.
bool editTimeReference(std::string& document, uint64_t timeReference, std::string& reason)
{
    const std::string high = std::to_string(timeReference >> 32);
    const std::string low = std::to_string(timeReference & 0xFFFFFFFFu);

    const Section speed = findSection(document, "<SPEED>", "<Speed>", "</SPEED>", "</Speed>");
    if (speed.start != std::string::npos) {
        size_t end = speed.end == std::string::npos ? document.size() : speed.end;
        std::ptrdiff_t delta = 0;
        if (replaceElementText(document, speed.start, end, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI", high, &delta))
            end = static_cast<size_t>(static_cast<std::ptrdiff_t>(end) + delta);
        replaceElementText(document, speed.start, end, "TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO", low);
    }

    const Section bext = findSection(document, "<BEXT>", "<Bext>", "</BEXT>", "</Bext>");
    if (bext.start != std::string::npos && bext.end != std::string::npos) {
        size_t end = bext.end;
        const bool hasLow = hasElement(document, bext.start, end, "BWF_TIME_REFERENCE_LOW");
        const bool hasHigh = hasElement(document, bext.start, end, "BWF_TIME_REFERENCE_HIGH");
        if (hasLow && !hasHigh && (timeReference >> 32) != 0) {
            reason = "The iXML BEXT time reference has no HIGH element for " + std::to_string(timeReference);
            return false;
        }
        std::ptrdiff_t delta = 0;
        if (replaceElementText(document, bext.start, end, "BWF_TIME_REFERENCE_HIGH", high, &delta))
            end = static_cast<size_t>(static_cast<std::ptrdiff_t>(end) + delta);
        replaceElementText(document, bext.start, end, "BWF_TIME_REFERENCE_LOW", low);
    }
    return true;
}

bool editWildTrack(std::string& document, bool wildTrack, std::string& reason)
{
    const std::string open = "<WILD_TRACK>";
    const std::string close = "</WILD_TRACK>";
    const size_t start = document.find(open);
    const size_t end = start == std::string::npos ? std::string::npos : document.find(close, start);
    if (!wildTrack) {
        // The indentation before the element and the line feed after it stay.
        if (end != std::string::npos)
            document.erase(start, end + close.size() - start);
        return true;
    }
    if (end != std::string::npos) {
        document.replace(start + open.size(), end - start - open.size(), "TRUE");
        return true;
    }
    return replaceOrInsert(document, "WILD_TRACK", "TRUE", reason);
}

// Finds the TRACK holding CHANNEL_INDEX `channelIndex` and rewrites its NAME
// and FUNCTION; a track the document does not list is left alone, no TRACK
// is ever added.
void editTrack(std::string& document, const BwfMetadata::TrackInfo& track)
{
    const std::string index = "<CHANNEL_INDEX>" + std::to_string(track.channelIndex) + "</CHANNEL_INDEX>";
    const size_t at = document.find(index);
    if (at == std::string::npos)
        return;
    const size_t start = document.rfind("<TRACK>", at);
    size_t end = document.find("</TRACK>", at);
    if (start == std::string::npos || end == std::string::npos)
        return;
    auto replaceInside = [&](const std::string& name, const std::string& value) {
        const std::string open = "<" + name + ">";
        const std::string close = "</" + name + ">";
        const size_t from = document.find(open, start);
        const size_t to = from == std::string::npos ? std::string::npos : document.find(close, from);
        if (to == std::string::npos || to > end)
            return;
        const std::string escaped = BwfChunkBuilder::escapeXmlText(value);
        const size_t textStart = from + open.size();
        end = end + escaped.size() - (to - textStart);
        document.replace(textStart, to - textStart, escaped);
    };
    replaceInside("NAME", track.name);
    replaceInside("FUNCTION", track.function);
}

std::string descriptionField(const BwfMetadata& current, const BwfMetadata& wanted)
{
    CantarMetadata record;
    if (!current.description.empty())
        record = CantarMetadataParser::parseDescription(current.description);
    auto take = [](std::string& member, const std::string& wantedValue, const std::string& currentValue) {
        if (isNew(wantedValue, currentValue))
            member = wantedValue;
    };
    take(record.scene, wanted.scene, current.scene);
    take(record.tape, wanted.tape, current.tape);
    take(record.take, wanted.take, current.take);
    take(record.note, wanted.note, current.note);
    take(record.userBits, wanted.userBits, current.userBits);
    take(record.tag, wanted.project, current.project);
    std::string text = CantarMetadataParser::buildDescription(
        record, current.frameRate > 0.0 ? current.frameRate : kFallbackFrameRate);
    text.resize(BextFields::kDescriptionMaxTextBytes < text.size() ? BextFields::kDescriptionMaxTextBytes : text.size());
    text.resize(BextFields::kDescriptionBytes, '\0');
    return text;
}

// One planned write: bytes that replace part of a chunk body.
struct PlannedWrite {
    const char* what;
    int64_t offset;
    std::string bytes;
};

bool writeAll(std::FILE* file, const PlannedWrite& write, std::string& reason)
{
    if (fseeko(file, write.offset, SEEK_SET) != 0 ||
        std::fwrite(write.bytes.data(), 1, write.bytes.size(), file) != write.bytes.size() || std::fflush(file) != 0) {
        reason = std::string("Writing the ") + write.what + " failed: " + std::strerror(errno);
        return false;
    }
    return true;
}

// Locates chunk `id` and checks that its body lies wholly in the file and
// holds at least `neededBytes`. Found = false when the file has no such chunk.
bool locateBody(RiffChunkWalker& walker, const BwfMetadataReader::WaveForm& form, const char* id,
                uint32_t neededBytes, RiffChunkWalker::Chunk& chunk, bool& found, std::string& reason)
{
    found = BwfMetadataReader::findChunk(walker, form, id, chunk);
    if (!found)
        return true;
    if (!walker.bodyFits(chunk)) {
        reason = std::string("The ") + id + " chunk runs past the end of the file";
        return false;
    }
    if (chunk.size < neededBytes) {
        reason = std::string("The ") + id + " chunk holds " + std::to_string(chunk.size) + " bytes, too few for its fields";
        return false;
    }
    return true;
}

// The fields of `wanted` that the edit changes but that the reader would not
// give back from `after` (what it reads once the planned writes are in): a
// file without an iXML chunk, or without the element a field lives in,
// cannot hold them.
std::vector<std::string> fieldsNotHeld(const BwfMetadata& current, const BwfMetadata& wanted, const BwfMetadata& after)
{
    // The reader trims values and puts "$" before user bits.
    const auto same = [](const std::string& wantedValue, const std::string& readValue) {
        return CantarMetadataParser::trim(wantedValue) == readValue;
    };
    const auto withoutDollar = [](const std::string& text) { return text.rfind('$', 0) == 0 ? text.substr(1) : text; };
    std::vector<std::string> lost;
    const struct {
        const char* label;
        const std::string BwfMetadata::*member;
    } kTexts[] = {{"scene", &BwfMetadata::scene},
                  {"take", &BwfMetadata::take},
                  {"tape", &BwfMetadata::tape},
                  {"note", &BwfMetadata::note},
                  {"project", &BwfMetadata::project}};
    for (const auto& text : kTexts) {
        if (isNew(wanted.*text.member, current.*text.member) && !same(wanted.*text.member, after.*text.member))
            lost.push_back(text.label);
    }
    if (isNew(wanted.userBits, current.userBits) && !same(withoutDollar(wanted.userBits), withoutDollar(after.userBits)))
        lost.push_back("user bits");
    if (wanted.circled != current.circled && wanted.circled != after.circled)
        lost.push_back("circled");
    if (wanted.wildTrack != current.wildTrack && wanted.wildTrack != after.wildTrack)
        lost.push_back("wild track");
    for (size_t i = 0; i < wanted.tracks.size(); ++i) {
        const BwfMetadata::TrackInfo& track = wanted.tracks[i];
        const bool changed = i >= current.tracks.size() || track.name != current.tracks[i].name ||
                             track.function != current.tracks[i].function;
        const bool held = i < after.tracks.size() && same(track.name, after.tracks[i].name) &&
                          same(track.function, after.tracks[i].function);
        if (changed && !held)
            lost.push_back("track " + std::to_string(track.channelIndex));
    }
    if (wanted.timeReference != 0 && wanted.timeReference != current.timeReference &&
        wanted.timeReference != after.timeReference)
        lost.push_back("time reference");
    return lost;
}

std::string joined(const std::vector<std::string>& items)
{
    std::string text;
    for (const std::string& item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text;
}

} // namespace

bool BwfMetadataWriter::editIxmlDocument(std::string& document, const BwfMetadata& current, const BwfMetadata& wanted,
                                         std::string& reason)
{
    const struct {
        const char* name;
        const std::string BwfMetadata::*member;
    } kTexts[] = {{"NOTE", &BwfMetadata::note},
                  {"SCENE", &BwfMetadata::scene},
                  {"TAPE", &BwfMetadata::tape},
                  {"TAKE", &BwfMetadata::take},
                  {"PROJECT", &BwfMetadata::project}};
    for (const auto& text : kTexts) {
        if (isNew(wanted.*text.member, current.*text.member) &&
            !replaceOrInsert(document, text.name, BwfChunkBuilder::escapeXmlText(wanted.*text.member), reason))
            return false;
    }
    if (wanted.circled != current.circled &&
        !replaceOrInsert(document, "CIRCLED", wanted.circled ? "TRUE" : "FALSE", reason))
        return false;
    if (wanted.wildTrack != current.wildTrack && !editWildTrack(document, wanted.wildTrack, reason))
        return false;
    if (isNew(wanted.userBits, current.userBits))
        replaceElementText(document, 0, document.size(), "UBITS", BwfChunkBuilder::escapeXmlText(wanted.userBits));
    for (size_t i = 0; i < wanted.tracks.size(); ++i) {
        const bool differs = i >= current.tracks.size() || wanted.tracks[i].name != current.tracks[i].name ||
                             wanted.tracks[i].function != current.tracks[i].function;
        if (differs)
            editTrack(document, wanted.tracks[i]);
    }
    if (wanted.timeReference != 0 && wanted.timeReference != current.timeReference &&
        !editTimeReference(document, wanted.timeReference, reason))
        return false;
    return true;
}

bool BwfMetadataWriter::writeMetadata(const std::string& path, const BwfMetadata& wanted)
{
    std::string reason;
    return writeMetadata(path, wanted, reason);
}

bool BwfMetadataWriter::writeMetadata(const std::string& path, const BwfMetadata& wanted, std::string& reason)
{
    reason.clear();
    const BwfMetadata current = BwfMetadataReader::readMetadata(path);
    const Changes changes = workOutChanges(current, wanted);
    if (!changes.any())
        return true;

    FileHandle file(std::fopen(path.c_str(), "r+be"));
    if (!file) {
        reason = "Cannot open the file for update: " + std::string(std::strerror(errno));
        return false;
    }
    std::error_code error;
    const auto fileSize = std::filesystem::file_size(path, error);
    if (error) {
        reason = "Cannot get the file's size: " + error.message();
        return false;
    }
    RiffChunkWalker walker(file.get(), static_cast<int64_t>(fileSize));
    const BwfMetadataReader::WaveForm form = BwfMetadataReader::readWaveForm(walker);
    if (!form.isWave) {
        reason = "Not a RIFF or RF64 WAVE file";
        return false;
    }

    std::vector<PlannedWrite> writes;
    // What the reader will find once the writes are in, worked out before
    // any is made: a field that would not read back must not pass as saved.
    BwfMetadata after;
    after.sampleRate = current.sampleRate;
    after.description = current.description;
    after.timeReference = current.timeReference;
    if (changes.description || changes.timeReference) {
        const uint32_t needed = changes.timeReference ? BextFields::kTimeReferenceOffset + BextFields::kTimeReferenceBytes
                                                      : BextFields::kDescriptionBytes;
        RiffChunkWalker::Chunk bext;
        bool found = false;
        if (!locateBody(walker, form, "bext", needed, bext, found, reason))
            return false;
        if (found && changes.description) {
            writes.push_back({"bext Description", bext.bodyOffset + BextFields::kDescriptionOffset,
                              descriptionField(current, wanted)});
            const std::string& field = writes.back().bytes;
            after.description = field.substr(0, field.find('\0'));
        }
        if (found && changes.timeReference) {
            after.timeReference = wanted.timeReference;
            std::string bytes(BextFields::kTimeReferenceBytes, '\0');
            LittleEndianBytes::store64(reinterpret_cast<uint8_t*>(bytes.data()), wanted.timeReference);
            writes.push_back({"bext TimeReference", bext.bodyOffset + BextFields::kTimeReferenceOffset, bytes});
        }
    }
    if (changes.ixml) {
        RiffChunkWalker::Chunk ixml;
        bool found = false;
        if (!locateBody(walker, form, "iXML", 0, ixml, found, reason))
            return false;
        if (found) {
            if (ixml.size > kMaxEditableIxmlBytes) {
                reason = "The iXML chunk is too large to edit (" + std::to_string(ixml.size) + " bytes)";
                return false;
            }
            std::string document(ixml.size, '\0');
            if (!walker.readAt(ixml.bodyOffset, document.data(), document.size())) {
                reason = "Cannot read the iXML chunk";
                return false;
            }
            const std::string original = document;
            // NULs after the document are room that an edit may fill.
            document.resize(document.find_last_not_of('\0') + 1);
            if (!editIxmlDocument(document, current, wanted, reason))
                return false;
            if (document.size() > ixml.size) {
                reason = "The edited iXML document needs " + std::to_string(document.size()) +
                         " bytes; its chunk holds " + std::to_string(ixml.size);
                return false;
            }
            document.resize(ixml.size, '\0');
            // The reader parses the Description only along with an iXML
            // document: without one, Description values do not read back.
            BwfMetadataReader::parseIxml(document, after);
            if (document != original)
                writes.push_back({"iXML chunk", ixml.bodyOffset, document});
        }
    }
    const std::vector<std::string> lost = fieldsNotHeld(current, wanted, after);
    if (writes.empty()) {
        reason = "The file has no bext or iXML element that holds these values";
        if (!lost.empty())
            reason += " (" + joined(lost) + ")";
        return false;
    }
    if (!lost.empty()) {
        reason = "The file has no place for " + joined(lost) + "; nothing was written";
        return false;
    }
    for (const PlannedWrite& write : writes) {
        if (!writeAll(file.get(), write, reason))
            return false;
    }
    if (std::fclose(file.release()) != 0) {
        reason = "Closing the file failed: " + std::string(std::strerror(errno));
        return false;
    }
    return true;
}
