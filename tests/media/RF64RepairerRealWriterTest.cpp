// End to end: the real BwfFileWriter records in a child process that is
// killed with SIGKILL mid-take; the repair scan must find the take, and after
// the repair ffprobe and libsndfile must read exactly the whole frames that
// reached the disk, with the samples that were written.

#include "KilledRecorder.h"
#include "MediaTestFiles.h"
#include "RealWriterTake.h"
#include "WrittenFile.h"
#include "media/BwfChunkBuilder.h"
#include "media/RF64Repairer.h"
#include "media/SampleFormatConverter.h"
#include "media/WavFileReader.h"
#include "support/ExternalTool.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>

namespace {

constexpr int kSampleRate = 48000;
constexpr size_t kHeaderBytesWithoutMetadata = 80;

struct RealKilledTake {
    const char* name;
    int channels;
    BwfFileWriter::SampleFormat format;
    int64_t framesWritten;  // handed to the writer; the tail may die in its buffer
};

const RealKilledTake kTakes[] = {
    {"mono_int16", 1, BwfFileWriter::Int16, 70'001},
    {"stereo_int24", 2, BwfFileWriter::Int24, 50'000},
    {"poly33_int24", 33, BwfFileWriter::Int24, 5'003},
    {"mono_float", 1, BwfFileWriter::Float32, 40'009},
    {"stereo_float", 2, BwfFileWriter::Float32, 30'011},
    {"poly33_int16", 33, BwfFileWriter::Int16, 4'321},
    {"poly33_float", 33, BwfFileWriter::Float32, 2'222},
};

int64_t dataStartOf(const RealKilledTake& take)
{
    const BwfFileWriter::BextChunk record = realTakeRecord(take.channels);
    const BwfChunkBuilder::FileFormat format{kSampleRate, BwfFileWriter::bitsPerSample(take.format), take.channels};
    return static_cast<int64_t>(kHeaderBytesWithoutMetadata + BwfChunkBuilder::buildBextChunk(record, format).size() +
                                BwfChunkBuilder::buildIxmlChunk(record).size());
}

// The float libsndfile gives back (see readWithSndfile) for a written sample.
float expectedReadBack(BwfFileWriter::SampleFormat format, float written)
{
    switch (format) {
    case BwfFileWriter::Int16: return static_cast<float>(SampleFormatConverter::toInt16(written) / 32768.0);
    case BwfFileWriter::Int24: return static_cast<float>(SampleFormatConverter::toInt24(written) / 8388608.0);
    case BwfFileWriter::Int32: return static_cast<float>(SampleFormatConverter::toInt32(written) / 2147483648.0);
    case BwfFileWriter::Float32: break;
    }
    return written;
}

int64_t recordAndKill(const QString& path, const RealKilledTake& take)
{
    return ::recordAndKill(TONVALE_REAL_TAKE_WRITER, {path, QString::number(take.channels), QString::number(take.format),
                                                      QString::number(take.framesWritten)});
}

std::string probeStream(const QString& path)
{
    const ToolResult probe = runTool(findTool("ffprobe"), {"-v", "error", "-select_streams", "a:0", "-show_entries",
                                                           "stream=duration_ts,channels", "-of",
                                                           "default=noprint_wrappers=1", path});
    return probe.exitCode == 0 ? probe.standardOutput.toStdString()
                               : "ffprobe failed: " + probe.standardError.toStdString();
}

void expectWrittenSamples(const SndfileContent& content, const RealKilledTake& take, int64_t frames)
{
    ASSERT_EQ(content.samples.size(), static_cast<size_t>(frames * take.channels));
    for (int64_t frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < take.channels; ++channel) {
            const float actual = content.samples[static_cast<size_t>(frame * take.channels + channel)];
            const float expected = expectedReadBack(take.format, realTakeSample(frame, channel));
            if (actual != expected)
                FAIL() << "frame " << frame << " channel " << channel << ": " << actual << " != " << expected;
        }
    }
}

TEST(RF64RepairerRealWriterTest, TakesOfAKilledWriterAreFoundRepairedAndReadBackFrameExact)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    QTemporaryDir root;
    ASSERT_TRUE(QDir(root.path()).mkpath("day1/roll2"));
    std::vector<QString> paths;
    std::vector<int64_t> wholeFrames;
    for (const RealKilledTake& take : kTakes) {
        SCOPED_TRACE(take.name);
        const QString path = root.path() + (paths.size() % 2 ? "/day1/roll2/" : "/day1/") + take.name + ".wav";
        const int64_t onDisk = recordAndKill(path, take);
        ASSERT_GT(onDisk, 0);
        ASSERT_EQ(QFileInfo(path).size(), onDisk) << "the kill must not change what was on disk";
        const int64_t bytesPerFrame = int64_t{BwfFileWriter::bytesPerSample(take.format)} * take.channels;
        const int64_t frames = (onDisk - dataStartOf(take)) / bytesPerFrame;
        ASSERT_GT(frames, 0) << "some frames must have passed a flush";
        ASSERT_LE(frames, take.framesWritten);
        paths.push_back(path);
        wholeFrames.push_back(frames);
    }

    RF64Repairer repairer;
    const std::vector<RF64Repairer::CorruptedFile> found = repairer.scanDirectory(root.path().toStdString(), true);
    ASSERT_EQ(found.size(), std::size(kTakes));
    for (size_t i = 0; i < std::size(kTakes); ++i) {
        const RealKilledTake& take = kTakes[i];
        const int64_t frames = wholeFrames[i];
        SCOPED_TRACE(take.name);
        const auto entry =
            std::find_if(found.begin(), found.end(), [&](const auto& f) { return f.path == paths[i].toStdString(); });
        ASSERT_NE(entry, found.end());
        EXPECT_TRUE(entry->canRepair) << entry->error;
        EXPECT_EQ(entry->sampleFrames, frames);
        EXPECT_EQ(entry->channels, take.channels);
        EXPECT_EQ(entry->sampleRate, kSampleRate);

        ASSERT_TRUE(repairer.repairFile(entry->path)) << repairer.getLastError();
        const WrittenFile repaired = WrittenFile::load(entry->path);
        const uint64_t dataBytes = static_cast<uint64_t>(frames) * BwfFileWriter::bytesPerSample(take.format) *
                                   static_cast<uint64_t>(take.channels);
        EXPECT_EQ(repaired.u64(20), static_cast<uint64_t>(dataStartOf(take)) + dataBytes - 8);
        EXPECT_EQ(repaired.u64(28), dataBytes);
        EXPECT_EQ(repaired.u64(36), static_cast<uint64_t>(frames));

        const std::string probed = probeStream(paths[i]);
        EXPECT_NE(probed.find("duration_ts=" + std::to_string(frames) + "\n"), std::string::npos) << probed;
        EXPECT_NE(probed.find("channels=" + std::to_string(take.channels) + "\n"), std::string::npos) << probed;

        const SndfileContent content = readWithSndfile(entry->path);
        EXPECT_EQ(content.frames, frames) << "libsndfile must open the repaired take";
        EXPECT_EQ(content.channels, take.channels);
        expectWrittenSamples(content, take, frames);

        WavFileReader reader;
        ASSERT_TRUE(reader.open(entry->path)) << reader.getLastError();
        EXPECT_EQ(reader.getTotalFrames(), frames);
    }
    EXPECT_TRUE(repairer.scanDirectory(root.path().toStdString(), true).empty());
}

} // namespace
