#include "media/RF64Repairer.h"

#include "media/LittleEndianBytes.h"
#include "media/RiffChunkWalker.h"
#include "media/WavFileReader.h"
#include "media/WavFormatChunk.h"

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

constexpr int64_t kRiffHeaderBytes = 8;

// When a chunk size is damaged the walk cannot go on; the fall-back looks
// for the id at each of this many byte offsets.
constexpr int64_t kByteScanOffsets = 8192;

const char* const kNoRepairNeeded = "File does not need repair";
const char* const kNoFormat = "Cannot read format chunk";
const char* const kBadSizes = "Cannot calculate correct sizes";
const char* const kWriteFailed = "Cannot write ds64 chunk";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

FileHandle openForReading(const std::string& path, int64_t& sizeBytes)
{
    FileHandle file(std::fopen(path.c_str(), "rbe"));
    if (!file || fseeko(file.get(), 0, SEEK_END) != 0 || (sizeBytes = ftello(file.get())) < 0)
        return nullptr;
    return file;
}

// Looks for `id` at each byte offset from `from` on; `accept` decides
// whether a match is the chunk or just the same four bytes inside text.
template <typename Accept>
bool scanBytesForChunk(RiffChunkWalker& walker, int64_t fileSize, int64_t from, const char* id, Accept accept,
                       RiffChunkWalker::Chunk& chunk)
{
    const int64_t windowBytes = std::min(kByteScanOffsets + RiffChunkWalker::kChunkHeaderBytes, fileSize - from);
    if (windowBytes < RiffChunkWalker::kChunkHeaderBytes)
        return false;
    std::vector<char> window(static_cast<size_t>(windowBytes));
    if (!walker.readAt(from, window.data(), window.size()))
        return false;
    for (int64_t at = 0; at + RiffChunkWalker::kChunkHeaderBytes <= windowBytes && at < kByteScanOffsets; ++at) {
        if (std::memcmp(window.data() + at, id, 4) == 0 && walker.readHeader(from + at, chunk) && accept(chunk))
            return true;
    }
    return false;
}

// Chunks of other writers that may follow the audio are few; a longer run
// of "chunks" is audio that happens to look like them.
constexpr int kMaxTailChunks = 256;
constexpr uint32_t kSizeInDs64 = 0xFFFFFFFFu;
// The header in front of the audio is at most a few chunks of metadata.
constexpr int64_t kMaxCheckedHeaderBytes = 64ll << 20;

bool isPrintableId(const char* id)
{
    for (int i = 0; i < 4; ++i) {
        if (id[i] < 0x20 || id[i] > 0x7E)
            return false;
    }
    return true;
}

// True when whole chunks, each with a printable id and a body inside the
// file, lead from `offset` exactly to the end of the file (the last one may
// lack its pad byte).
bool chunksRunToEnd(RiffChunkWalker& walker, int64_t offset, int64_t fileSize)
{
    for (int count = 0; count < kMaxTailChunks; ++count) {
        RiffChunkWalker::Chunk chunk;
        if (!walker.readHeader(offset, chunk) || !isPrintableId(chunk.id) || !walker.bodyFits(chunk))
            return false;
        offset = chunk.nextOffset();
        if (offset == fileSize || (offset == fileSize + 1 && (chunk.size & 1u) != 0))
            return true;
    }
    return false;
}

// Cuts the file after `dataEnd` and appends `padBytes` zero bytes.
bool endFileAt(const std::string& path, int64_t dataEnd, int64_t padBytes)
{
    if (::truncate(path.c_str(), static_cast<off_t>(dataEnd + padBytes)) != 0)
        return false;
    if (padBytes == 0)
        return true;
    // truncate() may have extended the file with zeros, or kept a byte of the
    // cut-off frame: the pad byte must be zero either way.
    FileHandle file(std::fopen(path.c_str(), "r+be"));
    const uint8_t zero = 0;
    return file && fseeko(file.get(), static_cast<off_t>(dataEnd), SEEK_SET) == 0 &&
           std::fwrite(&zero, 1, 1, file.get()) == 1 && std::fclose(file.release()) == 0;
}

} // namespace

std::vector<RF64Repairer::CorruptedFile> RF64Repairer::scanDirectory(const std::string& folder, bool recursive)
{
    std::vector<CorruptedFile> found;
    std::vector<std::string> visited;
    scanInto(folder, recursive, visited, found);
    return found;
}

void RF64Repairer::scanInto(const std::string& folder, bool recursive, std::vector<std::string>& visited,
                            std::vector<CorruptedFile>& found)
{
    std::error_code error;
    fs::directory_iterator entries(folder, error);
    if (error) {
        lastError_ = "Failed to open directory: " + folder;
        return;
    }
    // A link back to a parent folder must not send the scan round for ever.
    const std::string canonical = fs::weakly_canonical(folder, error).string();
    for (const std::string& seen : visited) {
        if (seen == canonical)
            return;
    }
    visited.push_back(canonical);

    for (; entries != fs::directory_iterator(); entries.increment(error)) {
        if (error)
            break;
        const std::string name = entries->path().filename().string();
        const std::string full = folder + "/" + name;
        std::error_code typeError;
        if (fs::is_directory(full, typeError)) {
            if (recursive)
                scanInto(full, recursive, visited, found);
            continue;
        }
        // Only regular files: opening a pipe that happens to end in ".wav"
        // would hang the start-up.
        const bool isWavName = name.size() >= 4 && name.compare(name.size() - 4, 4, ".wav") == 0;
        if (isWavName && fs::is_regular_file(full, typeError) && needsRepair(full))
            found.push_back(describe(full));
    }
}

RF64Repairer::CorruptedFile RF64Repairer::describe(const std::string& path)
{
    CorruptedFile file;
    file.path = path;
    file.fileName = getFilename(path);
    file.fileSize = getFileSize(path);
    const RepairPlan plan = planRepair(path);
    file.channels = plan.format.channels;
    file.sampleRate = plan.format.sampleRate;
    if (!plan.error.empty()) {
        file.error = plan.error;
        return file;
    }
    file.sampleFrames = plan.frames;
    file.durationSeconds = static_cast<double>(plan.frames) / plan.format.sampleRate;
    file.canRepair = true;
    return file;
}

bool RF64Repairer::needsRepair(const std::string& path)
{
    Ds64Chunk::Sizes sizes;
    return isRF64File(path) && readDS64Chunk(path, sizes) &&
           (sizes.riffSize == 0 || sizes.dataSize == 0 || sizes.sampleCount == 0);
}

bool RF64Repairer::repairFile(const std::string& path)
{
    lastError_.clear();
    if (!needsRepair(path)) {
        lastError_ = kNoRepairNeeded;
        return false;
    }
    const RepairPlan plan = planRepair(path);
    if (!plan.error.empty()) {
        lastError_ = plan.error;
        return false;
    }
    // The file ends with the last whole frame: bytes of a frame that was cut
    // off are no sound, and readers warn about bytes outside every chunk. An
    // odd-sized data chunk gets the zero pad byte RIFF requires, and the
    // RIFF size counts it.
    // Chunks after the audio stay where they are.
    const int64_t padBytes = plan.dataBytes % 2;
    if (plan.tailBytes == 0 && !endFileAt(path, plan.dataStart + plan.dataBytes, padBytes)) {
        lastError_ = kWriteFailed;
        return false;
    }
    if (!writeDS64Chunk(path, repairedSizes(plan))) {
        lastError_ = kWriteFailed;
        return false;
    }
    return true;
}

RF64Repairer::RepairPlan RF64Repairer::planRepair(const std::string& path)
{
    RepairPlan plan;
    int64_t fmtEnd = 0;
    if (!readFmtChunk(path, plan.format, fmtEnd)) {
        plan.format = WavFormat();
        plan.error = kNoFormat;
        return plan;
    }
    plan.fileSize = getFileSize(path);
    plan.dataStart = findDataChunkPosition(path, fmtEnd);
    const int64_t frameBytes = int64_t{plan.format.bytesPerSample} * plan.format.channels;
    const int64_t bytesOnDisk = plan.fileSize - plan.dataStart;
    if (plan.fileSize < 1 || plan.dataStart < 1 || bytesOnDisk < 1 || frameBytes < 1) {
        plan.error = kBadSizes;
        return plan;
    }
    const int64_t audio = audioBytes(path, plan);
    plan.frames = audio / frameBytes;
    if (plan.frames < 1 || plan.frames > kMaxRepairFrames) {
        plan.frames = 0;
        plan.error = kBadSizes;
        return plan;
    }
    // With chunks after it the data chunk keeps its length; at the end of
    // the file it ends with the last whole frame.
    plan.dataBytes = plan.tailBytes > 0 ? audio : plan.frames * frameBytes;
    // The byte scans can take the letters "data" or "fmt " inside another
    // chunk for the real thing: a repair counts only when the reader would
    // open the result, so such a file is refused and left as it is.
    if (!readerAccepts(path, plan)) {
        plan.frames = 0;
        plan.error = kBadSizes;
    }
    return plan;
}

// Where the audio ends. A recording of ours that was never closed has its
// audio up to the end of the file. A file that another writer closed, with
// one of its sizes left 0, may carry chunks after the audio: when a size
// it did write ends the audio exactly where whole chunks run on to the end
// of the file, those chunks are no sound and are kept.
int64_t RF64Repairer::audioBytes(const std::string& path, RepairPlan& plan)
{
    const int64_t toEnd = plan.fileSize - plan.dataStart;
    Ds64Chunk::Sizes sizes;
    int64_t fileSize = 0;
    FileHandle file = openForReading(path, fileSize);
    if (!file || fileSize != plan.fileSize || !readDS64Chunk(path, sizes))
        return toEnd;
    RiffChunkWalker walker(file.get(), fileSize);
    RiffChunkWalker::Chunk data;
    const uint64_t frameBytes = uint64_t(plan.format.bytesPerSample) * uint64_t(plan.format.channels);
    uint64_t claims[] = {sizes.dataSize, sizes.sampleCount <= uint64_t(kMaxRepairFrames) ? sizes.sampleCount * frameBytes : 0,
                         0};
    if (walker.readHeader(plan.dataStart - RiffChunkWalker::kChunkHeaderBytes, data) && data.size != kSizeInDs64)
        claims[2] = data.size;
    for (const uint64_t claim : claims) {
        if (claim == 0 || claim >= static_cast<uint64_t>(toEnd))
            continue;
        const auto audio = static_cast<int64_t>(claim);
        const int64_t tailStart = plan.dataStart + audio + audio % 2;
        if (chunksRunToEnd(walker, tailStart, fileSize)) {
            plan.tailBytes = fileSize - tailStart;
            return audio;
        }
    }
    return toEnd;
}

Ds64Chunk::Sizes RF64Repairer::repairedSizes(const RepairPlan& plan)
{
    const int64_t riffEnd =
        plan.tailBytes > 0 ? plan.fileSize : plan.dataStart + plan.dataBytes + plan.dataBytes % 2;
    Ds64Chunk::Sizes sizes;
    sizes.riffSize = static_cast<uint64_t>(riffEnd - kRiffHeaderBytes);
    sizes.dataSize = static_cast<uint64_t>(plan.dataBytes);
    sizes.sampleCount = static_cast<uint64_t>(plan.frames);
    return sizes;
}

// Builds the repaired file's header, and any chunks kept after the audio,
// in a sparse memory file (the audio itself is not copied) and opens it
// with the reader.
bool RF64Repairer::readerAccepts(const std::string& path, const RepairPlan& plan)
{
    if (plan.dataStart > kMaxCheckedHeaderBytes || plan.tailBytes > kMaxCheckedHeaderBytes)
        return false;
    int64_t fileSize = 0;
    FileHandle file = openForReading(path, fileSize);
    if (!file || fileSize != plan.fileSize)
        return false;
    RiffChunkWalker walker(file.get(), fileSize);
    std::vector<uint8_t> header(static_cast<size_t>(plan.dataStart));
    std::vector<uint8_t> tail(static_cast<size_t>(plan.tailBytes));
    const int64_t tailStart = fileSize - plan.tailBytes;
    if (!walker.readAt(0, header.data(), header.size()) ||
        (!tail.empty() && !walker.readAt(tailStart, tail.data(), tail.size())))
        return false;
    Ds64Chunk::store(header.data() + Ds64Chunk::kSizesOffset, repairedSizes(plan));

    const int fd = ::memfd_create("repair-check", MFD_CLOEXEC);
    if (fd < 0)
        return false;
    const int64_t repairedSize = plan.tailBytes > 0 ? fileSize : plan.dataStart + plan.dataBytes + plan.dataBytes % 2;
    const bool built = ::pwrite(fd, header.data(), header.size(), 0) == static_cast<ssize_t>(header.size()) &&
                       ::ftruncate(fd, static_cast<off_t>(repairedSize)) == 0 &&
                       (tail.empty() || ::pwrite(fd, tail.data(), tail.size(), static_cast<off_t>(tailStart)) ==
                                            static_cast<ssize_t>(tail.size()));
    bool accepted = false;
    if (built) {
        WavFileReader reader;
        accepted = reader.open("/proc/self/fd/" + std::to_string(fd)) && reader.getDataStartOffset() == plan.dataStart &&
                   reader.getTotalFrames() == plan.frames && reader.getChannels() == plan.format.channels;
    }
    ::close(fd);
    return accepted;
}

bool RF64Repairer::isRF64File(const std::string& path)
{
    int64_t size = 0;
    FileHandle file = openForReading(path, size);
    char id[4];
    return file && RiffChunkWalker(file.get(), size).readAt(0, id, sizeof id) && std::memcmp(id, "RF64", 4) == 0;
}

// Only the ds64 a take of ours has: right after "WAVE", without table entries.
bool RF64Repairer::readDS64Chunk(const std::string& path, Ds64Chunk::Sizes& sizes)
{
    int64_t size = 0;
    FileHandle file = openForReading(path, size);
    uint8_t header[Ds64Chunk::kTakeEndOffset];
    if (!file || !RiffChunkWalker(file.get(), size).readAt(0, header, sizeof header))
        return false;
    const uint8_t* ds64 = header + Ds64Chunk::kIdOffset;
    if (std::memcmp(ds64, "ds64", 4) != 0 || LittleEndianBytes::load32(ds64 + 4) != Ds64Chunk::kTakeChunkBytes)
        return false;
    sizes = Ds64Chunk::load(header + Ds64Chunk::kSizesOffset);
    return true;
}

// Walks the chunks by their sizes; falls back to a byte scan when a size on
// the way is damaged. Either way only a chunk that decodes as a usable
// format counts, so the letters "fmt " inside a note are passed over.
bool RF64Repairer::readFmtChunk(const std::string& path, WavFormat& format, int64_t& fmtEnd)
{
    int64_t fileSize = 0;
    FileHandle file = openForReading(path, fileSize);
    if (!file)
        return false;
    RiffChunkWalker walker(file.get(), fileSize);
    RiffChunkWalker::Chunk chunk;
    WavFormatChunk parsed;
    const auto accept = [&](const RiffChunkWalker::Chunk& candidate) {
        std::string reason;
        return WavFormatChunk::read(walker, candidate, parsed, reason);
    };
    const bool walked =
        walker.find(Ds64Chunk::kTakeEndOffset, "fmt ", chunk) == RiffChunkWalker::Result::Found && accept(chunk);
    if (!walked && !scanBytesForChunk(walker, fileSize, Ds64Chunk::kTakeEndOffset, "fmt ", accept, chunk))
        return false;
    format.channels = parsed.channels;
    format.sampleRate = parsed.sampleRate;
    format.bytesPerSample = parsed.bytesPerSample();
    format.formatTag = parsed.formatTag;
    fmtEnd = chunk.nextOffset();
    return true;
}

// The first sample byte of the data chunk that follows the fmt chunk, or -1.
int64_t RF64Repairer::findDataChunkPosition(const std::string& path, int64_t searchFrom)
{
    int64_t fileSize = 0;
    FileHandle file = openForReading(path, fileSize);
    if (!file)
        return -1;
    RiffChunkWalker walker(file.get(), fileSize);
    RiffChunkWalker::Chunk chunk;
    if (walker.find(searchFrom, "data", chunk) == RiffChunkWalker::Result::Found)
        return chunk.bodyOffset;
    const auto anyMatch = [](const RiffChunkWalker::Chunk&) { return true; };
    if (scanBytesForChunk(walker, fileSize, searchFrom, "data", anyMatch, chunk))
        return chunk.bodyOffset;
    return -1;
}

bool RF64Repairer::writeDS64Chunk(const std::string& path, const Ds64Chunk::Sizes& sizes)
{
    FileHandle file(std::fopen(path.c_str(), "r+be"));
    if (!file)
        return false;
    uint8_t bytes[Ds64Chunk::kSizesBytes];
    Ds64Chunk::store(bytes, sizes);
    if (fseeko(file.get(), Ds64Chunk::kSizesOffset, SEEK_SET) != 0 || std::fwrite(bytes, 1, sizeof bytes, file.get()) != sizeof bytes)
        return false;
    // The repair is worth keeping through the next power cut.
    if (std::fflush(file.get()) != 0 || ::fsync(fileno(file.get())) != 0)
        return false;
    return std::fclose(file.release()) == 0;
}

std::string RF64Repairer::getFilename(const std::string& path)
{
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int64_t RF64Repairer::getFileSize(const std::string& path)
{
    std::error_code error;
    const auto size = fs::file_size(path, error);
    return error ? -1 : static_cast<int64_t>(size);
}
