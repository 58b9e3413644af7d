#include "media/ChannelMerge.h"

#include "media/LittleEndianBytes.h"

#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

namespace {

constexpr int64_t kBlockFrames = 4096;

struct SndfileCloser {
    void operator()(SNDFILE* file) const { sf_close(file); }
};
using SndfileHandle = std::unique_ptr<SNDFILE, SndfileCloser>;

SndfileHandle openForReading(const std::string& path, SF_INFO& info)
{
    std::memset(&info, 0, sizeof info);
    // libsndfile opens by name without close-on-exec; a program we start must
    // not inherit a take file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return SndfileHandle();
    return SndfileHandle(sf_open_fd(fd, SFM_READ, &info, SF_TRUE));
}

// One source read as 32-bit values: left-justified integer codes (libsndfile
// scales 16- and 24-bit codes up by 2^16 and 2^8, exactly) or the float bits.
int64_t readBlock(SNDFILE* file, bool floats, int32_t* out, int64_t frames)
{
    if (floats)
        return sf_readf_float(file, reinterpret_cast<float*>(out), frames);
    return sf_readf_int(file, out, frames);
}

void encodeSample(int32_t value, BwfFileWriter::SampleFormat format, uint8_t* out)
{
    switch (format) {
    case BwfFileWriter::Int16:
        LittleEndianBytes::store16(out, static_cast<uint16_t>(value >> 16));
        break;
    case BwfFileWriter::Int24: {
        const auto code = static_cast<uint32_t>(value >> 8);
        out[0] = static_cast<uint8_t>(code);
        out[1] = static_cast<uint8_t>(code >> 8);
        out[2] = static_cast<uint8_t>(code >> 16);
        break;
    }
    case BwfFileWriter::Int32:
    case BwfFileWriter::Float32:
        LittleEndianBytes::store32(out, static_cast<uint32_t>(value));
        break;
    }
}

struct OpenCapture {
    SndfileHandle file;
    uint64_t offsetFrames = 0;
    std::vector<int32_t> block;
};

void removeQuietly(const std::string& path)
{
    std::error_code ignored;
    std::filesystem::remove(path, ignored);
}

}  // namespace

bool verifyWaveFile(const std::string& path, int sampleRate, int channels, int64_t frames, std::string& reason)
{
    SF_INFO info;
    SndfileHandle file = openForReading(path, info);
    if (!file) {
        reason = "File cannot be read back: " + path + " (" + sf_strerror(nullptr) + ")";
        return false;
    }
    if (info.channels != channels || info.samplerate != sampleRate || info.frames != frames) {
        reason = path + " reads back as " + std::to_string(info.channels) + " channels, "
                 + std::to_string(info.samplerate) + " Hz, " + std::to_string(info.frames) + " frames; expected "
                 + std::to_string(channels) + ", " + std::to_string(sampleRate) + ", " + std::to_string(frames);
        return false;
    }
    return true;
}

ChannelMergeResult mergeChannels(const ChannelMergeRequest& request)
{
    ChannelMergeResult result;
    result.captureMerged.assign(request.captures.size(), false);

    SF_INFO baseInfo;
    SndfileHandle base = openForReading(request.basePath, baseInfo);
    if (!base) {
        result.reason = "Failed to open original file for merging: " + request.basePath;
        return result;
    }
    result.baseOpened = true;
    result.baseChannels = baseInfo.channels;
    result.baseFrames = baseInfo.frames;

    // A capture that cannot be read as one channel at the take's rate stays
    // out; the caller keeps it as a file of its own.
    std::vector<OpenCapture> captures;
    BwfFileWriter::BextChunk bext = request.bext;
    for (size_t i = 0; i < request.captures.size(); ++i) {
        SF_INFO info;
        SndfileHandle file = openForReading(request.captures[i].path, info);
        if (!file || info.channels != 1 || info.samplerate != baseInfo.samplerate)
            continue;
        result.captureMerged[i] = true;
        bext.trackNames.push_back(request.captures[i].trackName);
        captures.push_back(OpenCapture{std::move(file), request.captures[i].offsetFrames, {}});
    }
    const int baseChannels = baseInfo.channels;
    result.totalChannels = baseChannels + static_cast<int>(captures.size());
    auto fail = [&](const std::string& reason) {
        result.reason = reason;
        std::fill(result.captureMerged.begin(), result.captureMerged.end(), false);
        removeQuietly(request.mergedPath);
        return result;
    };
    if (captures.empty())
        return fail("No capture could be opened for merging");

    BwfFileWriter writer;
    writer.setBextChunk(bext);
    if (!writer.open(request.mergedPath, request.sampleRate, result.totalChannels, request.sampleFormat))
        return fail("Failed to create merged file: " + request.mergedPath + " (" + writer.lastError() + ")");

    const bool floats = request.sampleFormat == BwfFileWriter::Float32;
    const int bytesPerSample = BwfFileWriter::bytesPerSample(request.sampleFormat);
    std::vector<int32_t> baseBlock(static_cast<size_t>(kBlockFrames * baseChannels));
    std::vector<uint8_t> encoded(static_cast<size_t>(kBlockFrames * result.totalChannels * bytesPerSample));
    for (OpenCapture& capture : captures)
        capture.block.assign(static_cast<size_t>(kBlockFrames), 0);

    for (int64_t first = 0; first < baseInfo.frames; first += kBlockFrames) {
        const int64_t frames = std::min(kBlockFrames, baseInfo.frames - first);
        const int64_t baseRead = std::max<int64_t>(readBlock(base.get(), floats, baseBlock.data(), frames), 0);
        std::fill(baseBlock.begin() + baseRead * baseChannels, baseBlock.begin() + frames * baseChannels, 0);
        // Each capture covers the block from its offset on; it is read in one
        // piece, and what it lacks at its end is silence.
        std::vector<int64_t> captureStart(captures.size());
        for (size_t c = 0; c < captures.size(); ++c) {
            OpenCapture& capture = captures[c];
            const auto offset = static_cast<int64_t>(std::min<uint64_t>(capture.offsetFrames, INT64_MAX));
            const int64_t start = std::clamp<int64_t>(offset - first, 0, frames);
            captureStart[c] = start;
            const int64_t wanted = frames - start;
            int64_t got = wanted > 0 ? std::max<int64_t>(readBlock(capture.file.get(), floats, capture.block.data(), wanted), 0) : 0;
            std::fill(capture.block.begin() + got, capture.block.begin() + wanted, 0);
        }
        uint8_t* out = encoded.data();
        for (int64_t f = 0; f < frames; ++f) {
            for (int ch = 0; ch < baseChannels; ++ch, out += bytesPerSample)
                encodeSample(baseBlock[static_cast<size_t>(f * baseChannels + ch)], request.sampleFormat, out);
            for (size_t c = 0; c < captures.size(); ++c, out += bytesPerSample) {
                const int32_t value = f < captureStart[c] ? 0 : captures[c].block[static_cast<size_t>(f - captureStart[c])];
                encodeSample(value, request.sampleFormat, out);
            }
        }
        if (!writer.writeEncodedFrames(encoded.data(), frames)) {
            const std::string reason = writer.lastError();
            writer.close();
            return fail("Failed to write merged file: " + reason);
        }
    }
    base.reset();
    captures.clear();
    if (!writer.close())
        return fail("Failed to close merged file: " + writer.lastError());
    std::string reason;
    if (!verifyWaveFile(request.mergedPath, request.sampleRate, result.totalChannels, baseInfo.frames, reason))
        return fail(reason);
    // rename replaces the original in one step: at every moment one whole
    // file is at the take's path.
    std::error_code error;
    std::filesystem::rename(request.mergedPath, request.basePath, error);
    if (error)
        return fail("Failed to replace " + request.basePath + " with the merged file: " + error.message());
    result.ok = true;
    return result;
}
