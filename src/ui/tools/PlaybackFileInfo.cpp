#include "ui/tools/PlaybackFileInfo.h"

#include "media/RiffChunkWalker.h"
#include "media/WavFileReader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <vector>

namespace {

constexpr int64_t kFirstChunkOffset = 12;
constexpr uint32_t kMaxTextChunkBytes = 1u << 20;
constexpr size_t kBextDescriptionBytes = 256;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string chunkText(RiffChunkWalker& walker, const char* id, size_t maxBytes)
{
    RiffChunkWalker::Chunk chunk;
    if (walker.find(kFirstChunkOffset, id, chunk) != RiffChunkWalker::Result::Found || !walker.bodyFits(chunk))
        return {};
    std::string text(std::min<size_t>({size_t{chunk.size}, maxBytes, size_t{kMaxTextChunkBytes}}), '\0');
    if (!walker.readAt(chunk.bodyOffset, text.data(), text.size()))
        return {};
    return text.substr(0, text.find('\0'));
}

// The text of the first <name>...</name>, entities of the writer undone.
std::string ixmlElement(const std::string& document, const std::string& name)
{
    const std::string open = "<" + name + ">";
    const size_t start = document.find(open);
    if (start == std::string::npos)
        return {};
    const size_t from = start + open.size();
    const size_t end = document.find("</" + name + ">", from);
    if (end == std::string::npos)
        return {};
    std::string value = document.substr(from, end - from);
    static const std::pair<const char*, const char*> kEntities[] = {
        {"&lt;", "<"}, {"&gt;", ">"}, {"&quot;", "\""}, {"&apos;", "'"}, {"&amp;", "&"}};
    for (const auto& [entity, plain] : kEntities)
        for (size_t at = value.find(entity); at != std::string::npos; at = value.find(entity, at + 1))
            value.replace(at, std::char_traits<char>::length(entity), plain);
    return value;
}

// "xSCENE=value" lines of a bext description; any one-letter prefix.
std::string descriptionValue(const std::string& description, const std::string& key)
{
    size_t lineStart = 0;
    while (lineStart < description.size()) {
        size_t lineEnd = description.find_first_of("\r\n", lineStart);
        if (lineEnd == std::string::npos)
            lineEnd = description.size();
        const std::string line = description.substr(lineStart, lineEnd - lineStart);
        if (line.size() > key.size() + 1 && line.compare(1, key.size() + 1, key + "=") == 0)
            return line.substr(key.size() + 2);
        lineStart = lineEnd + 1;
    }
    return {};
}

}  // namespace

PlaybackFileInfo readPlaybackFileInfo(const std::string& path)
{
    // Throws when the file is gone, which the dialog reports as such.
    const auto sizeBytes = static_cast<int64_t>(std::filesystem::file_size(path));

    PlaybackFileInfo info;
    WavFileReader reader;
    if (reader.open(path)) {
        info.sampleRate = reader.getSampleRate();
        info.channels = reader.getChannels();
        info.bitsPerSample = reader.getBitsPerSample();
        info.duration = reader.getDuration();
        reader.close();
    }

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return info;
    RiffChunkWalker walker(file.get(), sizeBytes);
    const std::string ixml = chunkText(walker, "iXML", kMaxTextChunkBytes);
    info.scene = ixmlElement(ixml, "SCENE");
    info.take = ixmlElement(ixml, "TAKE");
    if (info.scene.empty() || info.take.empty()) {
        const std::string description = chunkText(walker, "bext", kBextDescriptionBytes);
        if (info.scene.empty())
            info.scene = descriptionValue(description, "SCENE");
        if (info.take.empty())
            info.take = descriptionValue(description, "TAKE");
    }
    return info;
}
