// Mono captures merged into a multichannel take as extra channels: every
// sample code of the take's own channels and of the captures arrives
// unchanged (16-, 24-, 32-bit and float, read back with libsndfile as
// integers), captures are silent before their offset, cut at the take's
// length and padded with silence; a merge that cannot be made leaves the
// take byte for byte as it was.

#include "media/ChannelMerge.h"

#include "support/ExternalTool.h"
#include "support/TempHome.h"

#include <sndfile.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace fs = std::filesystem;

namespace {

struct FormatCase {
    const char* name;
    BwfFileWriter::SampleFormat format;
};

// A value as sf_readf_int (or, for float files, the float's bits) returns it.
int32_t randomValue(std::mt19937& random, BwfFileWriter::SampleFormat format)
{
    const auto raw = static_cast<int32_t>(random());
    switch (format) {
    case BwfFileWriter::Int16:
        return static_cast<int32_t>(static_cast<uint32_t>(raw) & 0xFFFF0000u);
    case BwfFileWriter::Int24:
        return static_cast<int32_t>(static_cast<uint32_t>(raw) & 0xFFFFFF00u);
    case BwfFileWriter::Int32:
        return raw;
    case BwfFileWriter::Float32: {
        const float value = std::uniform_real_distribution<float>(-1.0f, 1.0f)(random);
        int32_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        return bits;
    }
    }
    return 0;
}

void encode(int32_t value, BwfFileWriter::SampleFormat format, std::vector<uint8_t>& out)
{
    const auto v = static_cast<uint32_t>(value);
    if (format == BwfFileWriter::Int16) {
        out.insert(out.end(), {static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
    } else if (format == BwfFileWriter::Int24) {
        out.insert(out.end(), {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)});
    } else {
        out.insert(out.end(), {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                               static_cast<uint8_t>(v >> 24)});
    }
}

// Writes a file of `frames` frames x channels random values; returns them.
std::vector<int32_t> writeFile(const std::string& path, int channels, int64_t frames, BwfFileWriter::SampleFormat format,
                               std::mt19937& random, std::vector<std::string> names = {})
{
    std::vector<int32_t> values(static_cast<size_t>(frames * channels));
    std::vector<uint8_t> bytes;
    for (int32_t& value : values) {
        value = randomValue(random, format);
        encode(value, format, bytes);
    }
    BwfFileWriter writer;
    BwfFileWriter::BextChunk bext;
    bext.timeReference = 123456789;
    bext.scene = "12A";
    bext.take = "3";
    bext.trackNames = std::move(names);
    writer.setBextChunk(bext);
    EXPECT_TRUE(writer.open(path, 48000, channels, format));
    EXPECT_TRUE(writer.writeEncodedFrames(bytes.data(), frames)) << writer.lastError();
    EXPECT_TRUE(writer.close());
    return values;
}

struct ReadBack {
    int channels = 0;
    int samplerate = 0;
    int64_t frames = 0;
    std::vector<int32_t> values;
};

ReadBack readValues(const std::string& path, bool floats)
{
    ReadBack result;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (!file)
        return result;
    result.channels = info.channels;
    result.samplerate = info.samplerate;
    result.frames = info.frames;
    result.values.resize(static_cast<size_t>(info.frames * info.channels));
    if (floats)
        sf_readf_float(file, reinterpret_cast<float*>(result.values.data()), info.frames);
    else
        sf_readf_int(file, result.values.data(), info.frames);
    sf_close(file);
    return result;
}

std::string fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class ChannelMergeTest : public TempHomeTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(ChannelMergeTest, CodesArriveExactlyWithCapturesAtTheirOffsets)
{
    const BwfFileWriter::SampleFormat format = GetParam().format;
    const bool floats = format == BwfFileWriter::Float32;
    std::mt19937 random(7);
    const std::string folder = home_.pathStd();
    const std::string basePath = folder + "/take.wav";
    constexpr int64_t kFrames = 10000;
    const std::vector<int32_t> base = writeFile(basePath, 3, kFrames, format, random, {"MIX", "Boom", "Lav"});
    // A capture longer than what is left after its offset (cut), one shorter
    // (silence after it), one that is not audio at all (left out).
    struct Capture {
        uint64_t offset;
        int64_t frames;
    };
    const Capture captures[] = {{3000, 9000}, {0, 100}};
    std::vector<std::vector<int32_t>> captureValues;
    ChannelMergeRequest request;
    request.basePath = basePath;
    request.mergedPath = basePath + ".merged.wav";
    request.sampleRate = 48000;
    request.sampleFormat = format;
    request.bext.trackNames = {"MIX", "Boom", "Lav"};
    request.bext.timeReference = 123456789;
    for (size_t c = 0; c < std::size(captures); ++c) {
        const std::string path = folder + "/.late_arm_track_0" + std::to_string(c + 5) + ".wav";
        captureValues.push_back(writeFile(path, 1, captures[c].frames, format, random));
        request.captures.push_back({path, captures[c].offset, "Late " + std::to_string(c)});
    }
    std::ofstream(folder + "/garbage.wav") << "not a wave file";
    request.captures.push_back({folder + "/garbage.wav", 0, "Garbage"});

    const ChannelMergeResult result = mergeChannels(request);
    ASSERT_TRUE(result.ok) << result.reason;
    EXPECT_EQ(result.captureMerged, (std::vector<bool>{true, true, false}));
    EXPECT_FALSE(fs::exists(request.mergedPath));

    const ReadBack merged = readValues(basePath, floats);
    ASSERT_EQ(merged.channels, 5);
    ASSERT_EQ(merged.frames, kFrames);
    int64_t mismatches = 0;
    for (int64_t f = 0; f < kFrames; ++f) {
        for (int ch = 0; ch < 5; ++ch) {
            int32_t expected = 0;
            if (ch < 3) {
                expected = base[static_cast<size_t>(f * 3 + ch)];
            } else {
                const Capture& capture = captures[ch - 3];
                const int64_t k = f - static_cast<int64_t>(capture.offset);
                if (k >= 0 && k < capture.frames)
                    expected = captureValues[static_cast<size_t>(ch - 3)][static_cast<size_t>(k)];
            }
            if (merged.values[static_cast<size_t>(f * 5 + ch)] != expected && mismatches++ < 3)
                ADD_FAILURE() << "frame " << f << " channel " << ch;
        }
    }
    EXPECT_EQ(mismatches, 0);

    if (findTool("ffprobe").isEmpty())
        return;
    const ToolResult probe = runTool(findTool("ffprobe"), {"-v", "error", "-show_streams", "-show_format",
                                                           QString::fromStdString(basePath)});
    EXPECT_NE(probe.standardOutput.indexOf("channels=5"), -1);
    EXPECT_NE(probe.standardOutput.indexOf("time_reference=123456789"), -1) << probe.standardOutput.toStdString();
    EXPECT_NE(probe.standardOutput.indexOf("aTRK5=Late 1"), -1) << probe.standardOutput.toStdString();
}

INSTANTIATE_TEST_SUITE_P(Formats, ChannelMergeTest,
                         ::testing::Values(FormatCase{"Int16", BwfFileWriter::Int16},
                                           FormatCase{"Int24", BwfFileWriter::Int24},
                                           FormatCase{"Int32", BwfFileWriter::Int32},
                                           FormatCase{"Float32", BwfFileWriter::Float32}),
                         [](const auto& info) { return std::string(info.param.name); });

// Merges that cannot be made: the take stays byte for byte, nothing is left
// at the merged path, and no capture counts as merged.
class ChannelMergeFailureTest : public TempHomeTest {};

TEST_F(ChannelMergeFailureTest, TheTakeStaysAsItWas)
{
    std::mt19937 random(3);
    const std::string folder = home_.pathStd();
    const std::string basePath = folder + "/take.wav";
    writeFile(basePath, 2, 1000, BwfFileWriter::Int24, random);
    writeFile(folder + "/capture.wav", 1, 500, BwfFileWriter::Int24, random);
    const std::string before = fileBytes(basePath);

    struct FailureCase {
        const char* name;
        std::string basePath;
        std::string mergedPath;
        std::string reasonPart;
    };
    const FailureCase cases[] = {
        {"missing take", folder + "/none.wav", folder + "/none.wav.merged.wav", "Failed to open original file"},
        {"merged path not creatable", basePath, folder + "/no/such/folder/m.wav", "Failed to create merged file"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        ChannelMergeRequest request;
        request.basePath = c.basePath;
        request.mergedPath = c.mergedPath;
        request.sampleFormat = BwfFileWriter::Int24;
        request.captures.push_back({folder + "/capture.wav", 10, "Late"});
        const ChannelMergeResult result = mergeChannels(request);
        EXPECT_FALSE(result.ok);
        EXPECT_NE(result.reason.find(c.reasonPart), std::string::npos) << result.reason;
        EXPECT_EQ(result.captureMerged, std::vector<bool>{false});
        EXPECT_FALSE(fs::exists(c.mergedPath));
        EXPECT_EQ(fileBytes(basePath), before);
    }
}

}  // namespace
