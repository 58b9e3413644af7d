// The two layout conversions of a copy job: a polyphonic take split into
// one mono file per channel, and a take's mono files joined into one
// polyphonic file. Samples travel as the source's own encoded bytes, so every
// sample code of a 16-, 24- or 32-bit or float file arrives unchanged; the
// bext and iXML metadata travel through the metadata reader.
#include "backup/BackupCopyQueue.h"

#include "backup/BackupLayoutNames.h"
#include "backup/BackupPartialFiles.h"
#include "core/DebugLog.h"
#include "media/BwfFileWriter.h"
#include "media/BwfMetadataReader.h"
#include "media/WavFileReader.h"
#include "media/WavFormatChunk.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int kBlockFrames = 4096;
constexpr int kBlocksBetweenPauses = 5;
constexpr std::chrono::milliseconds kBlockPause{10};
constexpr const char* kMixChannelName = "MIX";

// The encoded samples of one WAV or RF64 file, read straight from its data
// chunk (the reader found the chunk and checked the format).
class EncodedSampleSource {
public:
    ~EncodedSampleSource()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }

    bool open(const std::string& path, std::string& reason)
    {
        WavFileReader header;
        if (!header.open(path)) {
            reason = header.getLastError();
            return false;
        }
        channels_ = header.getChannels();
        sampleRate_ = header.getSampleRate();
        bitsPerSample_ = header.getBitsPerSample();
        formatTag_ = header.getFormatTag();
        totalFrames_ = header.getTotalFrames();
        dataOffset_ = header.getDataStartOffset();
        header.close();
        fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            reason = std::strerror(errno);
            return false;
        }
        return true;
    }

    // Up to `frames` frames from the current position; -1 on a read error.
    int readFrames(uint8_t* out, int frames)
    {
        const size_t wanted = static_cast<size_t>(frames) * static_cast<size_t>(frameBytes());
        size_t done = 0;
        while (done < wanted) {
            const ssize_t got = ::pread(fd_, out + done, wanted - done,
                                        static_cast<off_t>(dataOffset_ + positionFrames_ * frameBytes()) + done);
            if (got < 0 && errno == EINTR)
                continue;
            if (got < 0)
                return -1;
            if (got == 0)
                break;
            done += static_cast<size_t>(got);
        }
        const int framesRead = static_cast<int>(done / static_cast<size_t>(frameBytes()));
        positionFrames_ += framesRead;
        return framesRead;
    }

    int channels() const { return channels_; }
    int sampleRate() const { return sampleRate_; }
    int bitsPerSample() const { return bitsPerSample_; }
    int formatTag() const { return formatTag_; }
    int64_t totalFrames() const { return totalFrames_; }
    int sampleBytes() const { return bitsPerSample_ / 8; }
    int frameBytes() const { return sampleBytes() * channels_; }
    BwfFileWriter::SampleFormat sampleFormat() const
    {
        if (formatTag_ == WavFormatChunk::kFormatFloat)
            return BwfFileWriter::Float32;
        if (bitsPerSample_ == 16)
            return BwfFileWriter::Int16;
        if (bitsPerSample_ == 32)
            return BwfFileWriter::Int32;
        return BwfFileWriter::Int24;
    }

private:
    int fd_ = -1;
    int channels_ = 0;
    int sampleRate_ = 0;
    int bitsPerSample_ = 0;
    int formatTag_ = 0;
    int64_t totalFrames_ = 0;
    int64_t dataOffset_ = 0;
    int64_t positionFrames_ = 0;
};

bool verifyConverted(const std::string& partial, int channels, int sampleRate, int64_t frames)
{
    WavFileReader reader;
    return reader.open(partial) && reader.getChannels() == channels && reader.getSampleRate() == sampleRate
           && reader.getTotalFrames() == frames;
}

bool hasWavExtension(const fs::path& path)
{
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".wav";
}

std::string twoDigits(int value)
{
    return std::string(value < 10 ? "0" : "") + std::to_string(value);
}

// One mono file of a take, as gathered from the source's folder.
struct MonoMember {
    std::string path;
    int trackField = -1;
    BwfMetadata metadata;
};

std::string channelNameOf(const MonoMember& member)
{
    if (!member.metadata.tracks.empty() && !member.metadata.tracks.front().name.empty())
        return member.metadata.tracks.front().name;
    const std::string stem = fs::path(member.path).stem().string();
    const size_t underscore = stem.rfind('_');
    return underscore == std::string::npos ? stem : stem.substr(underscore + 1);
}

}  // namespace

bool BackupCopyQueue::convertPolyphonicToMono(const std::string& source, const std::string& destinationDir,
                                              CopyJob& job)
{
    debugLog("BackupCopyQueue: Converting polyphonic to mono - " + source);
    EncodedSampleSource input;
    std::string reason;
    if (!input.open(source, reason))
        return failJob(job, "Failed to open polyphonic source file: " + source);
    const int channels = input.channels();
    const int64_t length = input.totalFrames();
    debugLog("BackupCopyQueue: Source file: " + std::to_string(channels) + " channels, "
             + std::to_string(input.sampleRate()) + " Hz, " + std::to_string(length) + " frames");

    const BwfMetadata metadata = BwfMetadataReader::readMetadata(source);
    // Without a mix (Bitbucket Mode) channel 0 is the first track, not MIX.
    const bool hasMix = metadata.tracks.empty() || metadata.tracks.front().name == kMixChannelName;
    const std::string stem = fs::path(source).stem().string();

    std::vector<std::string> finalPaths;
    std::vector<std::string> partialPaths;
    PartialFileSetGuard guard(partialPaths);
    std::vector<std::unique_ptr<BwfFileWriter>> writers;
    auto closeAll = [&writers] {
        bool closed = true;
        for (auto& writer : writers)
            closed = writer->close() && closed;
        return closed;
    };
    for (int channel = 0; channel < channels; ++channel) {
        const std::string suffix = monoChannelSuffix(channel, hasMix);
        finalPaths.push_back((fs::path(destinationDir) / (stem + "_" + suffix + ".wav")).string());
        partialPaths.push_back(makePartialPath(finalPaths.back()));
        auto writer = std::make_unique<BwfFileWriter>();
        BwfFileWriter::BextChunk bext = bextFromMetadata(metadata);
        const size_t position = static_cast<size_t>(channel);
        const bool named = position < metadata.tracks.size() && !metadata.tracks[position].name.empty();
        bext.trackNames = {named ? metadata.tracks[position].name : suffix};
        writer->setBextChunk(bext);
        if (!writer->open(partialPaths.back(), input.sampleRate(), 1, input.sampleFormat())) {
            closeAll();
            return failJob(job, "Failed to create mono partial file: " + partialPaths.back());
        }
        writers.push_back(std::move(writer));
        debugLog("BackupCopyQueue: Created mono partial file: " + partialPaths.back());
    }

    const size_t sampleBytes = static_cast<size_t>(input.sampleBytes());
    std::vector<uint8_t> interleaved(static_cast<size_t>(input.frameBytes()) * kBlockFrames, 0);
    std::vector<uint8_t> mono(sampleBytes * kBlockFrames, 0);
    int64_t done = 0;
    int blocks = 0;
    while (done < length) {
        if (!waitForCopyPermission(job)) {
            closeAll();
            return failJob(job, "Copy cancelled");
        }
        const int wanted = static_cast<int>(std::min<int64_t>(kBlockFrames, length - done));
        const int got = input.readFrames(interleaved.data(), wanted);
        if (got <= 0)
            break;
        for (int channel = 0; channel < channels; ++channel) {
            const uint8_t* from = interleaved.data() + static_cast<size_t>(channel) * sampleBytes;
            for (int frame = 0; frame < got; ++frame)
                std::memcpy(mono.data() + static_cast<size_t>(frame) * sampleBytes,
                            from + static_cast<size_t>(frame) * static_cast<size_t>(input.frameBytes()), sampleBytes);
            if (!writers[static_cast<size_t>(channel)]->writeEncodedFrames(mono.data(), got)) {
                closeAll();
                return failJob(job, "Write failed for channel " + std::to_string(channel));
            }
        }
        done += got;
        setCurrentJobProgress(length == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(length));
        if (++blocks % kBlocksBetweenPauses == 0)
            std::this_thread::sleep_for(kBlockPause);
    }
    // A close that cannot write the sizes (a full drive) is a failed copy.
    for (size_t channel = 0; channel < writers.size(); ++channel) {
        if (!writers[channel]->close()) {
            closeAll();
            return failJob(job, "Write failed for channel " + std::to_string(channel));
        }
    }
    if (done != length)
        return failJob(job, "Unexpected end of polyphonic source file");

    for (const std::string& partial : partialPaths) {
        std::string syncError;
        if (!verifyConverted(partial, 1, input.sampleRate(), length) || !syncFileToDrive(partial, syncError))
            return failJob(job, "Converted mono backup failed verification: " + partial);
    }
    for (size_t channel = 0; channel < partialPaths.size(); ++channel) {
        if (!finalizePartialFile(partialPaths[channel], finalPaths[channel], job.errorMessage)) {
            // The channels already renamed stay; the guard removes the rest.
            partialPaths.erase(partialPaths.begin(), partialPaths.begin() + static_cast<std::ptrdiff_t>(channel));
            return failJob(job, job.errorMessage);
        }
    }
    guard.disarm();
    debugLog("BackupCopyQueue: Polyphonic to mono conversion complete - " + std::to_string(channels) + " channels, "
             + std::to_string(length) + " frames");
    return true;
}

bool BackupCopyQueue::convertMonoToPolyphonic(const std::string& source, const std::string& destinationDir,
                                              CopyJob& job)
{
    debugLog("BackupCopyQueue: Converting mono to polyphonic - " + source);
    const fs::path folder = fs::path(source).parent_path();
    const std::string stem = fs::path(source).stem().string();
    const MonoTakeName sourceName = parseMonoTakeName(stem);
    if (!sourceName.valid)
        return failJob(job, "Invalid mono filename format: " + stem);
    debugLog("BackupCopyQueue: Take base name: " + sourceName.baseName);

    // Only this take's files: a sidecar or another take that reused scene and
    // take number has the same key but is no channel of it.
    const BwfMetadata sourceMetadata = BwfMetadataReader::readMetadata(source);
    std::vector<MonoMember> members;
    try {
        for (const fs::directory_entry& entry : fs::directory_iterator(folder.empty() ? fs::path(".") : folder)) {
            if (!entry.is_regular_file() || !hasWavExtension(entry.path()))
                continue;
            const MonoTakeName name = parseMonoTakeName(entry.path().stem().string());
            if (!name.valid || name.takeKey != sourceName.takeKey)
                continue;
            MonoMember member{entry.path().string(), name.trackField, {}};
            member.metadata = BwfMetadataReader::readMetadata(member.path);
            if (member.metadata.originationDate != sourceMetadata.originationDate
                || member.metadata.originationTime != sourceMetadata.originationTime)
                continue;
            members.push_back(std::move(member));
        }
    } catch (const std::exception& error) {
        return failJob(job, std::string("Failed to scan directory: ") + error.what());
    }
    if (members.empty())
        return failJob(job, "No mono files found for take: " + sourceName.baseName);

    // Channel order is the track field: 00 the mix, then the tracks.
    std::sort(members.begin(), members.end(), [](const MonoMember& a, const MonoMember& b) {
        return a.trackField != b.trackField ? a.trackField < b.trackField : a.path < b.path;
    });
    for (size_t i = 1; i < members.size(); ++i) {
        if (members[i].trackField == members[i - 1].trackField)
            return failJob(job, "Two mono files share track field " + twoDigits(members[i].trackField) + ": "
                                    + members[i - 1].path + " and " + members[i].path);
    }
    debugLog("BackupCopyQueue: Found " + std::to_string(members.size()) + " mono files");

    std::vector<std::unique_ptr<EncodedSampleSource>> inputs;
    int64_t length = 0;
    for (const MonoMember& member : members) {
        auto input = std::make_unique<EncodedSampleSource>();
        std::string reason;
        if (!input->open(member.path, reason))
            return failJob(job, "Failed to open mono file: " + member.path);
        if (input->channels() != 1)
            return failJob(job, "Expected mono file but got " + std::to_string(input->channels())
                                    + " channels: " + member.path);
        if (inputs.empty()) {
            length = input->totalFrames();
        } else {
            if (input->sampleRate() != inputs.front()->sampleRate())
                return failJob(job, "Sample rate mismatch in mono files");
            // Codes are carried as they are: a file of another sample format
            // would be joined as noise.
            if (input->sampleFormat() != inputs.front()->sampleFormat())
                return failJob(job, "Sample format mismatch in mono files: " + member.path);
            if (input->totalFrames() != length) {
                debugLog("BackupCopyQueue: WARNING - Frame count mismatch: " + member.path);
                length = std::min(length, input->totalFrames());
            }
        }
        debugLog("BackupCopyQueue: Opened mono file: " + member.path);
        inputs.push_back(std::move(input));
    }

    const std::string finalPath = (fs::path(destinationDir) / (sourceName.baseName + ".wav")).string();
    const std::string partial = makePartialPath(finalPath);
    PartialFileGuard guard(partial);
    BwfFileWriter::BextChunk bext = bextFromMetadata(members.front().metadata);
    for (const MonoMember& member : members)
        bext.trackNames.push_back(channelNameOf(member));
    BwfFileWriter writer;
    writer.setBextChunk(bext);
    const int channels = static_cast<int>(inputs.size());
    const int sampleRate = inputs.front()->sampleRate();
    const size_t sampleBytes = static_cast<size_t>(inputs.front()->sampleBytes());
    if (!writer.open(partial, sampleRate, channels, inputs.front()->sampleFormat()))
        return failJob(job, "Failed to create polyphonic partial file: " + partial);
    debugLog("BackupCopyQueue: Created polyphonic partial file: " + partial);

    std::vector<std::vector<uint8_t>> monoBlocks(inputs.size(), std::vector<uint8_t>(sampleBytes * kBlockFrames, 0));
    std::vector<uint8_t> interleaved(sampleBytes * static_cast<size_t>(channels) * kBlockFrames, 0);
    int64_t done = 0;
    int blocks = 0;
    while (done < length) {
        if (!waitForCopyPermission(job)) {
            writer.close();
            return failJob(job, "Copy cancelled");
        }
        int frames = static_cast<int>(std::min<int64_t>(kBlockFrames, length - done));
        for (size_t file = 0; file < inputs.size() && frames > 0; ++file)
            frames = std::min(frames, inputs[file]->readFrames(monoBlocks[file].data(), frames));
        if (frames <= 0)
            break;
        for (int frame = 0; frame < frames; ++frame) {
            for (size_t file = 0; file < inputs.size(); ++file)
                std::memcpy(interleaved.data() + (static_cast<size_t>(frame) * inputs.size() + file) * sampleBytes,
                            monoBlocks[file].data() + static_cast<size_t>(frame) * sampleBytes, sampleBytes);
        }
        if (!writer.writeEncodedFrames(interleaved.data(), frames)) {
            writer.close();
            return failJob(job, "Write failed to polyphonic file");
        }
        done += frames;
        setCurrentJobProgress(length == 0 ? 1.0 : static_cast<double>(done) / static_cast<double>(length));
        if (++blocks % kBlocksBetweenPauses == 0)
            std::this_thread::sleep_for(kBlockPause);
    }
    if (!writer.close())
        return failJob(job, "Write failed to polyphonic file");
    inputs.clear();
    if (done != length)
        return failJob(job, "Unexpected end of mono source file");

    std::string syncError;
    if (!verifyConverted(partial, channels, sampleRate, length) || !syncFileToDrive(partial, syncError))
        return failJob(job, "Converted polyphonic backup failed verification: " + partial);
    if (!finalizePartialFile(partial, finalPath, job.errorMessage))
        return failJob(job, job.errorMessage);
    guard.disarm();
    debugLog("BackupCopyQueue: Mono to polyphonic conversion complete - " + std::to_string(channels) + " channels, "
             + std::to_string(length) + " frames");
    return true;
}
