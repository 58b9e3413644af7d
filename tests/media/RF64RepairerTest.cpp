// Finding and repairing takes whose recorder died: a real child process
// writes a take and is killed with SIGKILL; ffprobe and libsndfile then
// judge the repaired file.

#include "KilledRecorder.h"
#include "MediaTestFiles.h"
#include "UnclosedTakeFixture.h"
#include "WavBytes.h"
#include "WrittenFile.h"
#include "media/Ds64Chunk.h"
#include "media/RF64Repairer.h"
#include "media/WavFileReader.h"
#include "support/ExternalTool.h"

#include <QDir>
#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace {

struct KilledTake {
    const char* name;
    TakeLayout layout;
    int64_t frames;
    int tailBytes;  // bytes of a frame that was cut off by the kill
    // libsndfile 1.2.0 does not skip the pad byte after an odd-sized chunk
    // in RF64 and gives up on such files, repaired or not. Our writer no
    // longer pads, but takes written before still must be repaired.
    bool libsndfileReadsIt = true;
};

TakeLayout layoutOf(int channels, int bits, bool isFloat, int noteBytes = 0, int ixmlBytes = 200)
{
    TakeLayout layout;
    layout.channels = channels;
    layout.bitsPerSample = bits;
    layout.isFloat = isFloat;
    layout.noteBytes = noteBytes;
    layout.ixmlBytes = ixmlBytes;
    return layout;
}

const KilledTake kKilledTakes[] = {
    {"stereo24", layoutOf(2, 24, false), 48'000, 4},
    {"mono24_odd_data", layoutOf(1, 24, false, 0, 200), 4'801, 0},
    {"odd_ixml", layoutOf(2, 16, false, 0, 201), 4'000, 3, false},
    {"odd_bext_and_ixml", layoutOf(2, 24, false, 7, 203), 3'000, 5, false},
    {"poly33_int16", layoutOf(33, 16, false), 12'345, 65},
    {"int32_quad", layoutOf(4, 32, false), 3'000, 15},
    {"float_stereo", layoutOf(2, 32, true), 9'999, 7},
    // Many named tracks: bext and iXML beyond the first 8 KB.
    {"long_metadata", layoutOf(8, 24, false, 9'000, 20'000), 2'500, 23},
};

int64_t recordAndKill(const QString& path, const KilledTake& take)
{
    return ::recordAndKill(TONVALE_UNCLOSED_TAKE_WRITER,
                           {path, QString::number(take.layout.channels), QString::number(take.layout.bitsPerSample),
                            take.layout.isFloat ? "1" : "0", QString::number(take.layout.noteBytes),
                            QString::number(take.layout.ixmlBytes), QString::number(take.frames),
                            QString::number(take.tailBytes)});
}

std::string probeSampleCount(const QString& path)
{
    const ToolResult probe = runTool("ffprobe", {"-v", "error", "-count_packets", "-select_streams", "a:0",
                                                 "-show_entries", "stream=duration_ts,channels,sample_rate",
                                                 "-of", "default=noprint_wrappers=1", path});
    return probe.exitCode == 0 ? probe.standardOutput.toStdString() : "ffprobe failed: " + probe.standardError.toStdString();
}

void expectPatternSamples(const SndfileContent& content, const TakeLayout& layout, int64_t frames)
{
    ASSERT_EQ(content.samples.size(), static_cast<size_t>(frames * layout.channels));
    for (int64_t frame = 0; frame < frames; ++frame) {
        for (int channel = 0; channel < layout.channels; ++channel) {
            const float actual = content.samples[static_cast<size_t>(frame * layout.channels + channel)];
            const int32_t code = takeSampleCode(layout, frame, channel);
            float expected;
            if (layout.isFloat)
                std::memcpy(&expected, &code, sizeof expected);
            else
                expected = static_cast<float>(static_cast<double>(code) / (1LL << (layout.bitsPerSample - 1)));
            if (actual != expected) {
                FAIL() << "frame " << frame << " channel " << channel << ": " << actual << " != " << expected;
            }
        }
    }
}

TEST(RF64RepairerTest, KilledRecordingsAreFoundRecursivelyRepairedAndReadByOutsideTools)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    QTemporaryDir root;
    QDir(root.path()).mkpath("day1/roll2");
    std::vector<QString> paths;
    std::vector<int64_t> sizes;
    for (const KilledTake& take : kKilledTakes) {
        const QString path = root.path() + (paths.size() % 2 ? "/day1/roll2/" : "/day1/") + take.name + ".wav";
        const int64_t size = recordAndKill(path, take);
        ASSERT_GT(size, 0) << take.name;
        ASSERT_EQ(QFileInfo(path).size(), size) << take.name;
        paths.push_back(path);
        sizes.push_back(size);
    }

    RF64Repairer repairer;
    std::vector<RF64Repairer::CorruptedFile> found = repairer.scanDirectory(root.path().toStdString(), true);
    ASSERT_EQ(found.size(), std::size(kKilledTakes));
    for (size_t i = 0; i < std::size(kKilledTakes); ++i) {
        const KilledTake& take = kKilledTakes[i];
        SCOPED_TRACE(take.name);
        const auto entry = std::find_if(found.begin(), found.end(),
                                        [&](const auto& f) { return f.path == paths[i].toStdString(); });
        ASSERT_NE(entry, found.end());
        EXPECT_EQ(entry->fileName, std::string(take.name) + ".wav");
        EXPECT_EQ(entry->fileSize, sizes[i]);
        EXPECT_TRUE(entry->canRepair) << entry->error;
        EXPECT_EQ(entry->sampleFrames, take.frames);
        EXPECT_EQ(entry->channels, take.layout.channels);
        EXPECT_EQ(entry->sampleRate, 48000);
        EXPECT_DOUBLE_EQ(entry->durationSeconds, take.frames / 48000.0);

        ASSERT_TRUE(repairer.repairFile(entry->path)) << repairer.getLastError();
        const WrittenFile repaired = WrittenFile::load(entry->path);
        const uint64_t dataStart = buildUnclosedTakeHeader(take.layout).size();
        const uint64_t dataBytes = static_cast<uint64_t>(take.frames * take.layout.bytesPerFrame());
        EXPECT_EQ(repaired.u64(20), dataStart + dataBytes + dataBytes % 2 - 8);
        EXPECT_EQ(repaired.u64(28), dataBytes);
        EXPECT_EQ(repaired.u64(36), static_cast<uint64_t>(take.frames));
        // Only the bytes of the cut-off frame go; an odd data chunk gets its pad.
        EXPECT_EQ(repaired.bytes.size(), dataStart + dataBytes + dataBytes % 2);

        const std::string probed = probeSampleCount(paths[i]);
        EXPECT_NE(probed.find("duration_ts=" + std::to_string(take.frames) + "\n"), std::string::npos) << probed;
        EXPECT_NE(probed.find("channels=" + std::to_string(take.layout.channels) + "\n"), std::string::npos) << probed;

        if (take.libsndfileReadsIt) {
            const SndfileContent content = readWithSndfile(entry->path);
            EXPECT_EQ(content.frames, take.frames);
            expectPatternSamples(content, take.layout, take.frames);
        }

        WavFileReader reader;
        ASSERT_TRUE(reader.open(entry->path)) << reader.getLastError();
        EXPECT_EQ(reader.getTotalFrames(), take.frames);

        EXPECT_FALSE(repairer.repairFile(entry->path));
        EXPECT_EQ(repairer.getLastError(), "File does not need repair");
    }
    EXPECT_TRUE(repairer.scanDirectory(root.path().toStdString(), true).empty());
}

TEST(RF64RepairerTest, SizesOfAMillionByteTakeWithDataAt1080)
{
    // 2 channels, 24-bit, data from offset 1080, 1,000,000 bytes in all:
    // 998,920 bytes of samples hold 166,486 whole frames and 4 bytes more.
    TakeLayout layout = layoutOf(2, 24, false);
    layout.ixmlBytes = 1080 - 48 - (8 + 602) - 8 - 8 - 16 - 8;
    ASSERT_EQ(buildUnclosedTakeHeader(layout).size(), 1080u);
    QTemporaryDir root;
    const std::string path = root.path().toStdString() + "/take.wav";
    ASSERT_TRUE(writeUnclosedTake(path, layout, 166'486, 4));
    ASSERT_EQ(readFileBytes(path).size(), 1'000'000u);

    RF64Repairer repairer;
    const auto found = repairer.scanDirectory(root.path().toStdString(), false);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].sampleFrames, 166'486);
    ASSERT_TRUE(repairer.repairFile(path));
    const WrittenFile repaired = WrittenFile::load(path);
    EXPECT_EQ(repaired.u64(28), 998'916u);  // whole frames only
    EXPECT_EQ(repaired.u64(20), 999'988u);  // the RIFF ends with the last whole frame
    EXPECT_EQ(repaired.u64(36), 166'486u);
    EXPECT_EQ(repaired.bytes.size(), 999'996u);
}

// Every layout a take can have, cut off at a frame boundary and inside a
// frame: the repaired file holds whole frames only, an odd data chunk is
// padded and counted in the RIFF size, and sndfile-info, ffprobe and
// libsndfile read it without a word of warning.
TEST(RF64RepairerTest, RepairedTakesAreWholeFramesThatOutsideToolsReadWithoutWarning)
{
    TONVALE_REQUIRE_TOOL("sndfile-info");
    TONVALE_REQUIRE_TOOL("ffprobe");
    QTemporaryDir root;
    const int64_t frames = 29'403;  // 3267 frames of 9 channels of 24-bit: an odd data size
    for (const int channels : {1, 2, 9, 33}) {
        for (const auto& [bits, isFloat] : {std::pair{16, false}, std::pair{24, false}, std::pair{32, true}}) {
            for (const int tailBytes : {0, 1, 5}) {
                const TakeLayout layout = layoutOf(channels, bits, isFloat);
                if (tailBytes >= layout.bytesPerFrame())
                    continue;
                const std::string name = std::to_string(channels) + "ch_" + std::to_string(bits) + (isFloat ? "f" : "")
                                         + "_tail" + std::to_string(tailBytes);
                SCOPED_TRACE(name);
                const std::string path = root.path().toStdString() + "/" + name + ".wav";
                const int64_t takeFrames = frames / channels;
                ASSERT_TRUE(writeUnclosedTake(path, layout, takeFrames, tailBytes));
                RF64Repairer repairer;
                ASSERT_TRUE(repairer.repairFile(path)) << repairer.getLastError();

                const WrittenFile repaired = WrittenFile::load(path);
                const uint64_t dataStart = buildUnclosedTakeHeader(layout).size();
                const uint64_t dataBytes = static_cast<uint64_t>(takeFrames * layout.bytesPerFrame());
                EXPECT_EQ(repaired.u64(28) % static_cast<uint64_t>(layout.bytesPerFrame()), 0u);
                EXPECT_EQ(repaired.u64(28), dataBytes);
                EXPECT_EQ(repaired.u64(20) + 8, repaired.bytes.size());
                EXPECT_EQ(repaired.bytes.size(), dataStart + dataBytes + dataBytes % 2);
                if (dataBytes % 2) {
                    EXPECT_EQ(repaired.bytes.back(), 0u);
                }

                const QString file = QString::fromStdString(path);
                const ToolResult info = runTool(findTool("sndfile-info"), {file});
                EXPECT_EQ(info.exitCode, 0);
                // libsndfile's "*** iXML (unknown marker)" only names a chunk it skips.
                for (const char* warning : {"should be", "Warning", "WARNING", "rror"})
                    EXPECT_FALSE(info.standardOutput.contains(warning)) << info.standardOutput.toStdString();
                const ToolResult probe = runTool(findTool("ffprobe"), {"-v", "warning", "-show_entries", "stream=duration_ts",
                                                                      "-of", "csv=p=0", file});
                EXPECT_EQ(probe.exitCode, 0);
                EXPECT_EQ(probe.standardError.trimmed().toStdString(), "");
                EXPECT_EQ(probe.standardOutput.trimmed().toStdString(), std::to_string(takeFrames));
                EXPECT_EQ(readWithSndfile(path).frames, takeFrames);
            }
        }
    }
}

struct ScanCase {
    const char* name;
    std::string fileName;
    std::vector<uint8_t> bytes;
    bool listed;
    bool needsRepair;  // repairFile looks at the bytes, not at the name
    bool canRepair;
    const char* error;
};

TEST(RF64RepairerTest, WhatTheScanListsAndWhy)
{
    const TakeLayout stereo = layoutOf(2, 24, false);
    std::vector<uint8_t> closed = unclosedTakeBytes(stereo, 100);
    closed[20] = closed[28] = closed[36] = 1;
    std::vector<uint8_t> oneZero = closed;
    oneZero[36] = 0;
    std::vector<uint8_t> ds64Size24 = unclosedTakeBytes(stereo, 100);
    ds64Size24[16] = 24;
    TakeLayout damaged = stereo;
    damaged.bextSizeOverride = 0x7FFFFFFF;  // the walk cannot pass it; the byte scan can
    std::vector<uint8_t> noFmt = unclosedTakeBytes(stereo, 100);
    const size_t fmtAt = buildUnclosedTakeHeader(stereo).size() - 32;
    std::memcpy(&noFmt[fmtAt], "fmx ", 4);
    std::vector<uint8_t> noData = unclosedTakeBytes(stereo, 100);
    std::memcpy(&noData[fmtAt + 24], "dat ", 4);
    std::vector<uint8_t> badChannels = unclosedTakeBytes(stereo, 100);
    badChannels[fmtAt + 10] = 0;

    const std::vector<ScanCase> cases = {
        {"closed", "closed.wav", closed, false, false, false, ""},
        {"one_size_zero", "onezero.wav", oneZero, true, true, true, ""},
        {"upper_case_name", "upper.WAV", unclosedTakeBytes(stereo, 100), false, true, false, ""},
        {"other_extension", "take.bwf", unclosedTakeBytes(stereo, 100), false, true, false, ""},
        {"plain_riff", "riff.wav", WavBytes::form(false).fmt(1, 1, 48000, 16).id("data").u32(0).bytes, false, false, false, ""},
        {"ds64_size_24", "ds64size.wav", ds64Size24, false, false, false, ""},
        // The byte scan finds fmt and data past the damaged size, but the
        // reader cannot walk past it: such a "repair" would be reported as
        // done for a file that still does not open, so it is refused.
        {"damaged_bext_size", "damaged.wav", unclosedTakeBytes(damaged, 100), true, true, false,
         "Cannot calculate correct sizes"},
        {"no_fmt", "nofmt.wav", noFmt, true, true, false, "Cannot read format chunk"},
        {"zero_channels", "zerochannels.wav", badChannels, true, true, false, "Cannot read format chunk"},
        {"no_data", "nodata.wav", noData, true, true, false, "Cannot calculate correct sizes"},
        {"no_whole_frame", "noframe.wav", unclosedTakeBytes(stereo, 0, 5), true, true, false, "Cannot calculate correct sizes"},
        {"header_only_cut", "cut.wav", std::vector<uint8_t>(closed.begin(), closed.begin() + 47), false, false, false, ""},
    };
    for (const ScanCase& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        const std::string path = root.path().toStdString() + "/" + c.fileName;
        ASSERT_TRUE(writeFileBytes(path, c.bytes));
        RF64Repairer repairer;
        const auto found = repairer.scanDirectory(root.path().toStdString(), true);
        ASSERT_EQ(found.size(), c.listed ? 1u : 0u);
        if (!c.listed) {
            EXPECT_EQ(repairer.repairFile(path), c.needsRepair);
            if (!c.needsRepair) {
                EXPECT_EQ(repairer.getLastError(), "File does not need repair");
                EXPECT_EQ(readFileBytes(path), c.bytes);
            }
            continue;
        }
        EXPECT_EQ(found[0].canRepair, c.canRepair);
        EXPECT_EQ(found[0].error, c.error);
        EXPECT_EQ(repairer.repairFile(path), c.canRepair);
        EXPECT_EQ(repairer.getLastError(), c.error);
        if (!c.canRepair) {
            EXPECT_EQ(found[0].sampleFrames, 0);
            EXPECT_EQ(readFileBytes(path), c.bytes) << "a file that cannot be repaired stays as it was";
        } else {
            EXPECT_EQ(found[0].sampleFrames, 100);
            EXPECT_EQ(WrittenFile::load(path).u64(36), 100u);
        }
    }
}

// Files another writer closed but left one ds64 size at 0, with a chunk
// after the audio. The sizes it did write end the audio where that chunk
// starts: the repair counts those frames and keeps every chunk, byte for
// byte, instead of playing the chunk as sound and cutting it.
TEST(RF64RepairerTest, ChunksAfterTheAudioEndItAndAreKept)
{
    TONVALE_REQUIRE_TOOL("sndfile-info");
    TONVALE_REQUIRE_TOOL("ffprobe");
    struct Case {
        const char* name;
        TakeLayout layout;
        int64_t frames;
        std::vector<uint8_t> tail;  // chunks after the audio
        bool zeroRiffSize;          // else the sample count is the size left 0
        bool libsndfileReadsIt;
    };
    const std::string scene = "<BWFXML><SCENE>kept</SCENE></BWFXML>";
    const std::vector<uint8_t> ixml = WavBytes().chunk("iXML", scene).bytes;
    std::string bextBody(602, '\0');
    bextBody.replace(0, 11, "sSCENE=kept");
    const std::vector<uint8_t> bext = WavBytes().chunk("bext", bextBody).bytes;
    std::vector<uint8_t> two = ixml;
    two.insert(two.end(), bext.begin(), bext.end());
    const Case kCases[] = {
        {"sample count 0, iXML after the audio", layoutOf(2, 24, false), 256, ixml, false, true},
        {"RIFF size 0, bext after the audio", layoutOf(2, 24, false), 256, bext, true, true},
        {"sample count 0, two chunks after the audio", layoutOf(4, 16, false), 1000, two, false, true},
        // libsndfile 1.2.0 gives up on an RF64 with an odd chunk; ffprobe still judges.
        {"odd data size, its pad byte, then iXML", layoutOf(1, 24, false), 255, ixml, false, false},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir root;
        const std::string path = root.path().toStdString() + "/closed.wav";
        std::vector<uint8_t> bytes = unclosedTakeBytes(c.layout, c.frames);
        const uint64_t dataBytes = static_cast<uint64_t>(c.frames * c.layout.bytesPerFrame());
        if (dataBytes % 2)
            bytes.push_back(0);
        bytes.insert(bytes.end(), c.tail.begin(), c.tail.end());
        Ds64Chunk::store(bytes.data() + Ds64Chunk::kSizesOffset,
                         {c.zeroRiffSize ? 0 : bytes.size() - 8, dataBytes, c.zeroRiffSize ? uint64_t(c.frames) : 0});
        ASSERT_TRUE(writeFileBytes(path, bytes));

        RF64Repairer repairer;
        const auto found = repairer.scanDirectory(root.path().toStdString(), false);
        ASSERT_EQ(found.size(), 1u);
        EXPECT_EQ(found[0].sampleFrames, c.frames);
        ASSERT_TRUE(repairer.repairFile(path)) << repairer.getLastError();

        const WrittenFile repaired = WrittenFile::load(path);
        ASSERT_EQ(repaired.bytes.size(), bytes.size());
        EXPECT_TRUE(std::equal(bytes.begin() + Ds64Chunk::kTakeEndOffset, bytes.end(),
                               repaired.bytes.begin() + Ds64Chunk::kTakeEndOffset))
            << "only the ds64 sizes change";
        EXPECT_EQ(repaired.u64(20), bytes.size() - 8);
        EXPECT_EQ(repaired.u64(28), dataBytes);
        EXPECT_EQ(repaired.u64(36), uint64_t(c.frames));

        WavFileReader reader;
        ASSERT_TRUE(reader.open(path)) << reader.getLastError();
        EXPECT_EQ(reader.getTotalFrames(), c.frames);
        const QString file = QString::fromStdString(path);
        const ToolResult probe = runTool(findTool("ffprobe"), {"-v", "error", "-show_entries", "stream=duration_ts",
                                                              "-of", "csv=p=0", file});
        EXPECT_EQ(probe.exitCode, 0);
        EXPECT_EQ(probe.standardOutput.trimmed().toStdString(), std::to_string(c.frames));
        if (c.libsndfileReadsIt) {
            EXPECT_EQ(runTool(findTool("sndfile-info"), {file}).exitCode, 0);
            EXPECT_EQ(readWithSndfile(path).frames, c.frames);
        }
    }
}

// A damaged size hides the real chunks and the byte scan meets the letters
// "data" inside a LIST chunk first: the result would be a file the reader
// refuses, so the repair is refused and the file stays as it was.
TEST(RF64RepairerTest, RepairWhoseResultTheReaderWouldRefuseLeavesTheFileAlone)
{
    const TakeLayout stereo = layoutOf(2, 24, false);
    std::string listBody = "INFOICMT";
    listBody += std::string("\x14\0\0\0", 4) + "data in a comment..";
    std::vector<uint8_t> trapped = WavBytes::form(true)
                                       .fmt(1, 2, 48000, 24)
                                       .chunk("LIST", listBody, 0xFFFFFFF0u)
                                       .id("data")
                                       .u32(0xFFFFFFFFu)
                                       .raw(takeSampleBytes(stereo, 0, 300))
                                       .bytes;
    QTemporaryDir root;
    const std::string path = root.path().toStdString() + "/trapped.wav";
    ASSERT_TRUE(writeFileBytes(path, trapped));

    RF64Repairer repairer;
    const auto found = repairer.scanDirectory(root.path().toStdString(), false);
    ASSERT_EQ(found.size(), 1u);
    EXPECT_FALSE(found[0].canRepair);
    EXPECT_EQ(found[0].error, "Cannot calculate correct sizes");
    EXPECT_FALSE(repairer.repairFile(path));
    EXPECT_EQ(repairer.getLastError(), "Cannot calculate correct sizes");
    EXPECT_EQ(readFileBytes(path), trapped);
}

TEST(RF64RepairerTest, RecursionFolderErrorsAndLinkLoops)
{
    QTemporaryDir root;
    QDir(root.path()).mkpath("sub/deeper");
    const TakeLayout stereo = layoutOf(2, 24, false);
    ASSERT_TRUE(writeUnclosedTake(root.path().toStdString() + "/top.wav", stereo, 10, 0));
    ASSERT_TRUE(writeUnclosedTake(root.path().toStdString() + "/sub/deeper/inner.wav", stereo, 10, 0));
    // A link back up and a pipe named like a take must neither loop nor hang.
    ASSERT_EQ(::symlink(root.path().toUtf8().constData(), (root.path() + "/sub/loop").toUtf8().constData()), 0);
    ASSERT_EQ(::mkfifo((root.path() + "/sub/pipe.wav").toUtf8().constData(), 0644), 0);

    RF64Repairer repairer;
    EXPECT_EQ(repairer.scanDirectory(root.path().toStdString(), false).size(), 1u);
    const auto found = repairer.scanDirectory(root.path().toStdString(), true);
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(found[0].path.rfind(root.path().toStdString() + "/", 0), 0u);

    const std::string missing = root.path().toStdString() + "/missing";
    EXPECT_TRUE(repairer.scanDirectory(missing, true).empty());
    EXPECT_EQ(repairer.getLastError(), "Failed to open directory: " + missing);
}

} // namespace
