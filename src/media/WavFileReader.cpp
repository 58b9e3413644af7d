#include "media/WavFileReader.h"

#include "media/Ds64Chunk.h"
#include "media/LittleEndianBytes.h"
#include "media/RiffChunkWalker.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>

namespace {

// Header layout.
constexpr int64_t kFormOffset = 8;
constexpr int64_t kFirstChunkOffset = 12;
constexpr int64_t kFormHeaderBytes = 12;
constexpr uint32_t kSizeFromDs64 = 0xFFFFFFFFu;

constexpr auto kIdleWait = std::chrono::milliseconds(5);
static_assert((WavFileReader::kRingFrames & (WavFileReader::kRingFrames - 1)) == 0, "the ring wraps by masking");

constexpr float kScale16 = 1.0f / 32768.0f;
constexpr float kScale24 = 1.0f / 8388608.0f;
constexpr float kScale32 = 1.0f / 2147483648.0f;

float decodeInt16(const uint8_t* bytes)
{
    return static_cast<float>(static_cast<int16_t>(LittleEndianBytes::load16(bytes))) * kScale16;
}

float decodeInt24(const uint8_t* bytes)
{
    // Shift the three bytes into the top of a 32-bit word so the sign comes
    // from the third byte, then back down.
    const auto word = static_cast<uint32_t>(bytes[0]) << 8 | static_cast<uint32_t>(bytes[1]) << 16 |
                      static_cast<uint32_t>(bytes[2]) << 24;
    return static_cast<float>(static_cast<int32_t>(word) >> 8) * kScale24;
}

float decodeInt32(const uint8_t* bytes)
{
    return static_cast<float>(static_cast<int32_t>(LittleEndianBytes::load32(bytes))) * kScale32;
}

float decodeFloat32(const uint8_t* bytes)
{
    float value;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

using SampleDecoder = float (*)(const uint8_t*);

template <SampleDecoder decodeSample>
void decodeBlock(const uint8_t* raw, int frames, int fileChannels, int bytesPerSample, float* out, int outStride,
                 int channelsKept)
{
    const int frameBytes = fileChannels * bytesPerSample;
    for (int frame = 0; frame < frames; ++frame) {
        const uint8_t* source = raw + static_cast<size_t>(frame) * frameBytes;
        float* target = out + static_cast<size_t>(frame) * outStride;
        for (int channel = 0; channel < channelsKept; ++channel)
            target[channel] = decodeSample(source + channel * bytesPerSample);
    }
}

} // namespace

WavFileReader::WavFileReader() = default;

WavFileReader::~WavFileReader()
{
    close();
}

bool WavFileReader::open(const std::string& path)
{
    close();
    lastError_.clear();
    path_ = path;
    file_ = std::fopen(path.c_str(), "rbe");
    if (!file_)
        return refuse("Cannot open file: " + path);
    if (fseeko(file_, 0, SEEK_END) != 0 || (fileSizeBytes_ = ftello(file_)) < 0)
        return refuse("Cannot read the size of " + path);
    if (!readHeader())
        return false;
    isOpen_ = true;
    position_.store(0);
    readBuffer_.resize(static_cast<size_t>(format_.bytesPerFrame()) * kBlockFrames);
    return true;
}

bool WavFileReader::refuse(const std::string& reason)
{
    close();
    lastError_ = reason;
    return false;
}

bool WavFileReader::readHeader()
{
    RiffChunkWalker walker(file_, fileSizeBytes_);
    uint8_t form[kFormHeaderBytes];
    if (fileSizeBytes_ < kFormHeaderBytes || !walker.readAt(0, form, sizeof form))
        return refuse("File is too short for a WAV header");
    isRF64_ = std::memcmp(form, "RF64", 4) == 0;
    if (!isRF64_ && std::memcmp(form, "RIFF", 4) != 0)
        return refuse("Not a RIFF or RF64 file");
    if (std::memcmp(form + kFormOffset, "WAVE", 4) != 0)
        return refuse("Not a WAVE file");

    int64_t ds64DataSize = 0;
    int64_t offset = kFirstChunkOffset;
    if (isRF64_ && !readDs64(walker, ds64DataSize, offset))
        return false;

    RiffChunkWalker::Chunk chunk;
    const auto overrunReason = [&chunk]() {
        return "Chunk '" + RiffChunkWalker::printableId(chunk.id) + "' at offset " +
               std::to_string(chunk.headerOffset) + " claims " + std::to_string(chunk.size) +
               " bytes, more than the file holds";
    };
    const auto missingPadReason = [&chunk]() {
        return "Chunk '" + RiffChunkWalker::printableId(chunk.id) + "' at offset " +
               std::to_string(chunk.headerOffset) + " has an odd size (" + std::to_string(chunk.size) +
               " bytes) and no pad byte after it";
    };

    switch (walker.find(offset, "fmt ", chunk)) {
    case RiffChunkWalker::Result::NotFound: return refuse("No fmt chunk");
    case RiffChunkWalker::Result::Overrun: return refuse(overrunReason());
    case RiffChunkWalker::Result::MissingPad: return refuse(missingPadReason());
    case RiffChunkWalker::Result::Found: break;
    }
    std::string reason;
    if (!WavFormatChunk::read(walker, chunk, format_, reason))
        return refuse(reason);

    switch (walker.find(chunk.nextOffset(), "data", chunk)) {
    case RiffChunkWalker::Result::NotFound: return refuse("No data chunk after the fmt chunk");
    case RiffChunkWalker::Result::Overrun: return refuse(overrunReason());
    case RiffChunkWalker::Result::MissingPad: return refuse(missingPadReason());
    case RiffChunkWalker::Result::Found: break;
    }
    dataStartOffset_ = chunk.bodyOffset;
    dataSizeBytes_ = (isRF64_ && chunk.size == kSizeFromDs64) ? ds64DataSize : static_cast<int64_t>(chunk.size);
    // A file cut short (an interrupted copy) keeps what really is on disk.
    dataSizeBytes_ = std::min(dataSizeBytes_, fileSizeBytes_ - dataStartOffset_);
    totalFrames_ = dataSizeBytes_ / format_.bytesPerFrame();
    return true;
}

bool WavFileReader::readDs64(RiffChunkWalker& walker, int64_t& ds64DataSize, int64_t& nextChunkOffset)
{
    RiffChunkWalker::Chunk chunk;
    if (!walker.readHeader(kFirstChunkOffset, chunk) || std::memcmp(chunk.id, "ds64", 4) != 0)
        return refuse("RF64 file has no ds64 chunk after WAVE");
    if (chunk.size < Ds64Chunk::kSizesBytes)
        return refuse("ds64 chunk is shorter than 24 bytes");
    if (!walker.bodyFits(chunk))
        return refuse("ds64 chunk runs past the end of the file");
    uint8_t body[Ds64Chunk::kSizesBytes];
    if (!walker.readAt(chunk.bodyOffset, body, sizeof body))
        return refuse("Cannot read the ds64 chunk");
    const uint64_t dataSize = Ds64Chunk::load(body).dataSize;
    ds64DataSize = dataSize > static_cast<uint64_t>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(dataSize);
    nextChunkOffset = chunk.nextOffset();
    return true;
}

void WavFileReader::close()
{
    stopPrefetch();
    if (file_) {
        std::fclose(file_);
        file_ = nullptr;
    }
    isOpen_ = false;
    isRF64_ = false;
    path_.clear();
    format_ = WavFormatChunk();
    fileSizeBytes_ = 0;
    dataSizeBytes_ = 0;
    dataStartOffset_ = 0;
    totalFrames_ = 0;
    position_.store(0);
}

double WavFileReader::getDuration() const
{
    if (format_.sampleRate <= 0)
        return 0.0;
    return static_cast<double>(totalFrames_) / format_.sampleRate;
}

int WavFileReader::outputChannels(int outChannels) const
{
    return (outChannels >= 1 && outChannels <= format_.channels) ? outChannels : format_.channels;
}

void WavFileReader::decode(const uint8_t* raw, int frames, float* out, int outStride, int channelsKept) const
{
    const int channels = format_.channels;
    const int bytes = format_.bytesPerSample();
    if (format_.formatTag == WavFormatChunk::kFormatFloat)
        decodeBlock<decodeFloat32>(raw, frames, channels, bytes, out, outStride, channelsKept);
    else if (format_.bitsPerSample == 16)
        decodeBlock<decodeInt16>(raw, frames, channels, bytes, out, outStride, channelsKept);
    else if (format_.bitsPerSample == 24)
        decodeBlock<decodeInt24>(raw, frames, channels, bytes, out, outStride, channelsKept);
    else
        decodeBlock<decodeInt32>(raw, frames, channels, bytes, out, outStride, channelsKept);
}

int64_t WavFileReader::readRaw(std::vector<uint8_t>& buffer, int64_t firstFrame, int64_t frames)
{
    const int64_t frameBytes = format_.bytesPerFrame();
    const auto wantedBytes = static_cast<size_t>(frames * frameBytes);
    if (buffer.size() < wantedBytes)
        buffer.resize(wantedBytes);
    if (fseeko(file_, dataStartOffset_ + firstFrame * frameBytes, SEEK_SET) != 0)
        return 0;
    const size_t gotBytes = std::fread(buffer.data(), 1, wantedBytes, file_);
    std::clearerr(file_);
    return static_cast<int64_t>(gotBytes) / frameBytes;
}

int WavFileReader::readFrames(float* out, int frames, int outChannels)
{
    if (!isOpen_ || !out || frames <= 0)
        return 0;
    if (prefetchRunning_.load(std::memory_order_acquire))
        return readFromRing(out, frames, outChannels);
    return readFromFile(out, frames, outChannels);
}

int WavFileReader::readFromFile(float* out, int frames, int outChannels)
{
    const int64_t position = position_.load();
    const int64_t wanted = std::min<int64_t>(frames, totalFrames_ - position);
    if (wanted < 1)
        return 0;
    const int64_t got = readRaw(readBuffer_, position, wanted);
    const int outCount = outputChannels(outChannels);
    decode(readBuffer_.data(), static_cast<int>(got), out, outCount, outCount);
    position_.store(position + got);
    return static_cast<int>(got);
}

// Audio thread: no locks, no allocation, no file access.
int WavFileReader::readFromRing(float* out, int frames, int outChannels)
{
    if (seekTarget_.load(std::memory_order_acquire) >= 0)
        return 0;
    uint64_t readIndex = ring_.readPosition();
    const int64_t generation = seekGeneration_.load(std::memory_order_acquire);
    if (generation != lastSeenGeneration_) {
        if (generation & 1)
            return 0;
        // Acquire on each field: the generation check after them cannot
        // move ahead of them, so a changed generation is seen.
        const uint64_t seekStart = static_cast<uint64_t>(seekReadStart_.load(std::memory_order_acquire));
        const int64_t seekFrame = seekFrame_.load(std::memory_order_acquire);
        if (seekGeneration_.load(std::memory_order_relaxed) != generation)
            return 0;
        readIndex = seekStart;
        lastSeenGeneration_ = generation;
        deliveredPosition_.store(seekFrame, std::memory_order_relaxed);
    }

    // A seek's start is a write position the prefetch thread published, so
    // it never lies ahead of the one loaded here.
    const uint64_t available = ring_.writePositionForConsumer() - readIndex;
    const int count = static_cast<int>(std::min<uint64_t>(available, static_cast<uint64_t>(frames)));
    if (count <= 0) {
        ring_.publishRead(readIndex);
        return 0;
    }
    const int outCount = outputChannels(outChannels);
    const int copied = std::min(ringChannels_, outCount);
    for (int k = 0; k < count; ++k) {
        const float* source = ring_.frameAt(readIndex + static_cast<uint64_t>(k));
        float* target = out + static_cast<size_t>(k) * outCount;
        std::copy(source, source + copied, target);
        std::fill(target + copied, target + outCount, 0.0f);
    }
    ring_.publishRead(readIndex + static_cast<uint64_t>(count));
    deliveredPosition_.fetch_add(count, std::memory_order_relaxed);
    return count;
}

void WavFileReader::seekSeconds(double seconds)
{
    if (!isOpen_ || format_.sampleRate <= 0 || std::isnan(seconds))
        return;
    const double frame = seconds * format_.sampleRate;
    if (frame <= 0.0)
        setPosition(0);
    else if (frame >= static_cast<double>(totalFrames_))
        setPosition(totalFrames_);
    else
        setPosition(static_cast<int64_t>(frame));
}

void WavFileReader::setPosition(int64_t frame)
{
    if (!isOpen_ || format_.sampleRate <= 0)
        return;
    frame = std::clamp<int64_t>(frame, 0, totalFrames_);
    if (!prefetchRunning_.load(std::memory_order_acquire)) {
        position_.store(frame);
        return;
    }
    deliveredPosition_.store(frame, std::memory_order_relaxed);
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        seekTarget_.store(frame, std::memory_order_release);
    }
    wake_.notify_one();
}

bool WavFileReader::isAtEnd() const
{
    if (prefetchRunning_.load(std::memory_order_acquire))
        return deliveredPosition_.load(std::memory_order_relaxed) >= totalFrames_;
    return position_.load() >= totalFrames_;
}

void WavFileReader::startPrefetch(int maxChannels)
{
    if (!isOpen_ || prefetchThread_.joinable())
        return;
    ringChannels_ = outputChannels(maxChannels);
    ring_.allocate(static_cast<size_t>(ringChannels_), kRingFrames);
    prefetchBuffer_.resize(static_cast<size_t>(format_.bytesPerFrame()) * kBlockFrames);
    seekGeneration_.store(0);
    seekReadStart_.store(0);
    seekFrame_.store(0);
    lastSeenGeneration_ = 0;
    deliveredPosition_.store(position_.load());
    seekTarget_.store(-1);
    prefetchRunning_.store(true, std::memory_order_release);
    prefetchThread_ = std::thread([this, start = position_.load()] {
        int64_t filePositionFrames = start;
        prefetchLoop(filePositionFrames);
    });
}

void WavFileReader::stopPrefetch()
{
    if (!prefetchThread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(wakeMutex_);
        prefetchRunning_.store(false, std::memory_order_release);
    }
    wake_.notify_all();
    prefetchThread_.join();
    // A later synchronous read goes on where playback stopped.
    position_.store(std::clamp<int64_t>(deliveredPosition_.load(), 0, totalFrames_));
}

// Prefetch thread.
void WavFileReader::prefetchLoop(int64_t& filePositionFrames)
{
    const int64_t frameBytes = format_.bytesPerFrame();
    while (prefetchRunning_.load(std::memory_order_acquire)) {
        takePendingSeek(filePositionFrames);
        const uint64_t writeIndex = ring_.writePosition();
        const int64_t freeFrames = static_cast<int64_t>(ring_.freeFrames());
        const int64_t leftFrames = totalFrames_ - filePositionFrames;
        if (freeFrames < kBlockFrames || leftFrames <= 0) {
            waitForWork();
            continue;
        }
        const int64_t got = readRaw(prefetchBuffer_, filePositionFrames, std::min<int64_t>(leftFrames, kBlockFrames));
        if (got <= 0) {
            waitForWork();
            continue;
        }
        const int firstRun =
            static_cast<int>(std::min<int64_t>(got, static_cast<int64_t>(ring_.contiguousFramesAt(writeIndex))));
        decode(prefetchBuffer_.data(), firstRun, ring_.frameAt(writeIndex), ringChannels_, ringChannels_);
        if (got > firstRun)
            decode(prefetchBuffer_.data() + firstRun * frameBytes, static_cast<int>(got) - firstRun,
                   ring_.frameAt(writeIndex + static_cast<uint64_t>(firstRun)), ringChannels_, ringChannels_);
        ring_.publishWrite(static_cast<uint64_t>(got));
        filePositionFrames += got;
    }
}

void WavFileReader::takePendingSeek(int64_t& filePositionFrames)
{
    if (seekTarget_.load(std::memory_order_acquire) < 0)
        return;
    // Odd generation before the target is taken: from here until the new
    // start is published the reader delivers nothing, so no block from the
    // old position follows the seek.
    const int64_t generation = seekGeneration_.load(std::memory_order_relaxed);
    seekGeneration_.store(generation + 1, std::memory_order_relaxed);
    const int64_t target = seekTarget_.exchange(-1, std::memory_order_acq_rel);
    filePositionFrames = std::clamp<int64_t>(target, 0, totalFrames_);
    // Release: a reader that sees either field also sees the odd generation.
    seekReadStart_.store(static_cast<int64_t>(ring_.writePosition()), std::memory_order_release);
    seekFrame_.store(filePositionFrames, std::memory_order_release);
    seekGeneration_.store(generation + 2, std::memory_order_release);
}

void WavFileReader::waitForWork()
{
    std::unique_lock<std::mutex> lock(wakeMutex_);
    wake_.wait_for(lock, kIdleWait, [this] {
        return !prefetchRunning_.load(std::memory_order_acquire) || seekTarget_.load(std::memory_order_acquire) >= 0;
    });
}
