#include "media/BwfChunkBuilder.h"
#include "media/BwfFileWriter.h"
#include "support/ScopedUmask.h"
#include "support/TempHome.h"
#include "WrittenFile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <vector>

namespace {

constexpr size_t kHeaderBytesWithoutMetadata = 80;
constexpr uint32_t kUnknown32 = 0xFFFFFFFF;

class BwfFileWriterTest : public TempHomeTest {
protected:
    std::string file(const std::string& name) const { return home_.pathStd() + "/" + name; }

    static std::vector<float> ramp(size_t count)
    {
        std::vector<float> samples(count);
        for (size_t i = 0; i < count; ++i)
            samples[i] = static_cast<float>(std::sin(0.001 * static_cast<double>(i)));
        return samples;
    }
};

// Every fixed header field of a closed file; metadataBytes shifts fmt and data.
void expectHeader(const WrittenFile& f, size_t metadataBytes, uint16_t formatTag, uint16_t channels,
                  uint32_t sampleRate, uint16_t bytesPerSample, uint64_t samples)
{
    const size_t fmt = 48 + metadataBytes;
    const size_t dataBytes = samples * bytesPerSample;
    ASSERT_EQ(f.bytes.size(), kHeaderBytesWithoutMetadata + metadataBytes + dataBytes);
    EXPECT_EQ(f.text(0, 4), "RF64");
    EXPECT_EQ(f.u32(4), kUnknown32);
    EXPECT_EQ(f.text(8, 4), "WAVE");
    EXPECT_EQ(f.text(12, 4), "ds64");
    EXPECT_EQ(f.u32(16), 28u);
    EXPECT_EQ(f.u64(20), f.bytes.size() - 8);
    EXPECT_EQ(f.u64(28), dataBytes);
    EXPECT_EQ(f.u64(36), samples / channels);
    EXPECT_EQ(f.u32(44), 0u);
    EXPECT_EQ(f.text(fmt, 4), "fmt ");
    EXPECT_EQ(f.u32(fmt + 4), 16u);
    EXPECT_EQ(f.u16(fmt + 8), formatTag);
    EXPECT_EQ(f.u16(fmt + 10), channels);
    EXPECT_EQ(f.u32(fmt + 12), sampleRate);
    EXPECT_EQ(f.u32(fmt + 16), uint32_t{bytesPerSample} * channels * sampleRate);
    EXPECT_EQ(f.u16(fmt + 20), bytesPerSample * channels);
    EXPECT_EQ(f.u16(fmt + 22), bytesPerSample * 8);
    EXPECT_EQ(f.text(fmt + 24, 4), "data");
    EXPECT_EQ(f.u32(fmt + 28), kUnknown32);
}

struct LayoutCase {
    BwfFileWriter::SampleFormat format;
    int channels;
    int sampleRate;
    size_t samples;
    uint16_t formatTag;
    uint16_t bytesPerSample;
};

TEST_F(BwfFileWriterTest, ClosedFileHasExactHeaderAndSizesForEveryFormat)
{
    const LayoutCase cases[] = {
        {BwfFileWriter::Int16, 1, 44100, 11, 1, 2},
        {BwfFileWriter::Int24, 2, 48000, 480000, 1, 3}, // 240,000 frames, 1,440,000 bytes
        {BwfFileWriter::Int24, 1, 48000, 7, 1, 3},      // odd data chunk, no pad byte
        {BwfFileWriter::Int32, 33, 96000, 33 * 5, 1, 4},
        {BwfFileWriter::Float32, 4, 192000, 0, 3, 4},   // nothing written
        {BwfFileWriter::Int24, 3, 48000, 9, 1, 3},      // three frames of three channels, 27 data bytes
    };
    for (const LayoutCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << c.format << ", " << c.channels << " ch, "
                                          << c.samples << " samples");
        const std::string path = file("layout.wav");
        BwfFileWriter writer;
        ASSERT_TRUE(writer.open(path, c.sampleRate, c.channels, c.format)) << writer.lastError();
        const std::vector<float> samples = ramp(c.samples);
        ASSERT_TRUE(writer.writeFrames(samples.data(), static_cast<int64_t>(samples.size()) / c.channels));
        EXPECT_EQ(writer.samplesWritten(), static_cast<int64_t>(c.samples));
        ASSERT_TRUE(writer.close()) << writer.lastError();
        expectHeader(WrittenFile::load(path), 0, c.formatTag, static_cast<uint16_t>(c.channels),
                     static_cast<uint32_t>(c.sampleRate), c.bytesPerSample, c.samples);
    }
}

// A take is the recordist's to hand on: it gets the mode the umask gives any
// new file (0644 by default), never a narrower one of its own.
TEST_F(BwfFileWriterTest, TakesFollowTheUmask)
{
    for (const UmaskCase& c : kUmaskCases) {
        SCOPED_TRACE(c.mask);
        const ScopedUmask umask(c.mask);
        const std::string path = home_.pathStd() + "/take" + std::to_string(c.mode) + ".wav";
        BwfFileWriter writer;
        ASSERT_TRUE(writer.open(path, 48000, 1, BwfFileWriter::Int24)) << writer.lastError();
        writer.close();
        EXPECT_EQ(fileModeBits(path.c_str()), c.mode);
    }
}

TEST_F(BwfFileWriterTest, MetadataChunksSitBetweenDs64AndFmt)
{
    BwfFileWriter::BextChunk record;
    record.originationDate = "2026-03-04";
    record.originationTime = "05:06:07";
    record.scene = "12A";
    record.note = "odd"; // the iXML document would be odd without its extra line feed
    record.trackNames = {"MIX", "Boom"};
    BwfFileWriter writer;
    writer.setBextChunk(record);
    const std::string path = file("meta.wav");
    ASSERT_TRUE(writer.open(path, 48000, 2, BwfFileWriter::Int24));
    const float frame[2] = {0.5f, -0.5f};
    ASSERT_TRUE(writer.writeFrames(frame, 1));
    ASSERT_TRUE(writer.close());

    const auto bext = BwfChunkBuilder::buildBextChunk(record, {48000, 24, 2});
    const auto ixml = BwfChunkBuilder::buildIxmlChunk(record);
    const WrittenFile f = WrittenFile::load(path);
    expectHeader(f, bext.size() + ixml.size(), 1, 2, 48000, 3, 2);
    EXPECT_TRUE(std::equal(bext.begin(), bext.end(), f.bytes.begin() + 48));
    EXPECT_TRUE(std::equal(ixml.begin(), ixml.end(), f.bytes.begin() + 48 + static_cast<long>(bext.size())));
    EXPECT_EQ(f.text(48, 4), "bext");
    EXPECT_EQ(f.text(48 + bext.size(), 4), "iXML");
    // Each chunk follows the previous one's counted body directly: no pad bytes.
    EXPECT_EQ(bext.size(), 8 + f.u32(52));
    EXPECT_EQ(ixml.size(), 8 + f.u32(48 + bext.size() + 4));
    EXPECT_EQ(bext.size() % 2 + ixml.size() % 2, 0u);
    EXPECT_EQ(f.le(f.bytes.size() - 6, 3), 4194303u); // 0.5 x 8388607, truncated
}

struct ConversionCase {
    BwfFileWriter::SampleFormat format;
    float input;
    int64_t stored; // the integer stored (sign-extended), or the float's bit pattern
};

TEST_F(BwfFileWriterTest, SamplesAreClampedScaledAndTruncated)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const ConversionCase cases[] = {
        {BwfFileWriter::Int16, 1.5f, 32767},
        {BwfFileWriter::Int16, -3.0f, -32767},
        {BwfFileWriter::Int16, 1.0f, 32767},
        {BwfFileWriter::Int16, -1.0f, -32767},
        {BwfFileWriter::Int16, 0.5f, 16383},   // 16383.5 truncated toward zero
        {BwfFileWriter::Int16, -0.5f, -16383},
        {BwfFileWriter::Int16, nan, 0},
        {BwfFileWriter::Int16, -inf, -32767},
        {BwfFileWriter::Int24, 1.0f, 8388607},
        {BwfFileWriter::Int24, -1.0f, -8388607},
        {BwfFileWriter::Int24, 0.25f, 2097151},
        {BwfFileWriter::Int24, -0.25f, -2097151},
        {BwfFileWriter::Int24, inf, 8388607},
        {BwfFileWriter::Int24, nan, 0},
        {BwfFileWriter::Int32, 1.0f, 2147483647},
        {BwfFileWriter::Int32, -1.0f, -2147483648LL},
        {BwfFileWriter::Int32, 2.0f, 2147483647},
        {BwfFileWriter::Int32, 0.5f, 1073741824},
        {BwfFileWriter::Int32, nan, 0},
        {BwfFileWriter::Float32, 2.0f, 0x40000000},
        {BwfFileWriter::Float32, -0.5f, 0xBF000000},
        {BwfFileWriter::Float32, nan, 0x7FC00000},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(::testing::Message() << "format " << c.format << ", input " << c.input);
        const std::string path = file("conversion.wav");
        BwfFileWriter writer;
        ASSERT_TRUE(writer.open(path, 48000, 1, c.format));
        ASSERT_TRUE(writer.writeFrames(&c.input, 1));
        ASSERT_TRUE(writer.close());
        const WrittenFile f = WrittenFile::load(path);
        const int width = BwfFileWriter::bytesPerSample(c.format);
        ASSERT_EQ(f.bytes.size(), kHeaderBytesWithoutMetadata + static_cast<size_t>(width));
        const uint64_t raw = f.le(kHeaderBytesWithoutMetadata, width);
        const uint64_t expected = static_cast<uint64_t>(c.stored) & (~uint64_t{0} >> (64 - 8 * width));
        EXPECT_EQ(raw, expected);
    }
}

// 24-bit blocks are converted four samples at a time: every value must come
// out as it does alone, in each of the four places and in the tail. Eleven
// values repeated over 47 samples put each value in every place.
TEST_F(BwfFileWriterTest, Int24BlocksStoreEveryValueAsASingleSampleDoes)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float inf = std::numeric_limits<float>::infinity();
    const std::pair<float, int32_t> values[] = {
        {1.0f, 8388607}, {-1.0f, -8388607}, {0.25f, 2097151}, {-0.25f, -2097151}, {inf, 8388607}, {-inf, -8388607},
        {nan, 0},        {1.5f, 8388607},   {-0.0f, 0},         {1e-9f, 0},          {0.5f, 4194303},
    };
    constexpr size_t kSamples = 47;
    std::vector<float> block(kSamples);
    for (size_t k = 0; k < kSamples; ++k)
        block[k] = values[k % std::size(values)].first;
    const std::string path = file("int24-block.wav");
    BwfFileWriter writer;
    ASSERT_TRUE(writer.open(path, 48000, 1, BwfFileWriter::Int24));
    ASSERT_TRUE(writer.writeFrames(block.data(), static_cast<int>(kSamples)));
    ASSERT_TRUE(writer.close());
    const WrittenFile f = WrittenFile::load(path);
    ASSERT_EQ(f.bytes.size(), kHeaderBytesWithoutMetadata + 3 * kSamples);
    for (size_t k = 0; k < kSamples; ++k) {
        const uint64_t expected = static_cast<uint32_t>(values[k % std::size(values)].second) & 0xFFFFFFu;
        EXPECT_EQ(f.le(kHeaderBytesWithoutMetadata + 3 * k, 3), expected) << "sample " << k;
    }
}

TEST_F(BwfFileWriterTest, WritesOutsideAnOpenFileFailAndChangeNothing)
{
    const float sample = 0.1f;
    BwfFileWriter writer;
    EXPECT_FALSE(writer.writeFrames(&sample, 1));
    EXPECT_FALSE(writer.lastError().empty());
    EXPECT_TRUE(writer.close()); // nothing open: nothing to do

    const std::string path = file("twice.wav");
    ASSERT_TRUE(writer.open(path, 48000, 1, BwfFileWriter::Int16));
    EXPECT_TRUE(writer.writeFrames(&sample, 0));
    EXPECT_FALSE(writer.writeFrames(&sample, -1));
    ASSERT_TRUE(writer.writeFrames(&sample, 1));
    ASSERT_TRUE(writer.close());
    const WrittenFile closedOnce = WrittenFile::load(path);
    EXPECT_TRUE(writer.close());
    EXPECT_FALSE(writer.writeFrames(&sample, 1));
    EXPECT_EQ(WrittenFile::load(path).bytes, closedOnce.bytes);
    EXPECT_EQ(closedOnce.u64(28), 2u);
}

TEST_F(BwfFileWriterTest, ReopeningOrDestroyingPatchesTheOpenFile)
{
    const std::vector<float> samples = ramp(100);
    const std::string first = file("first.wav");
    const std::string second = file("second.wav");
    {
        auto writer = std::make_unique<BwfFileWriter>();
        ASSERT_TRUE(writer->open(first, 48000, 2, BwfFileWriter::Int24));
        ASSERT_TRUE(writer->writeFrames(samples.data(), 50));
        ASSERT_TRUE(writer->open(second, 48000, 1, BwfFileWriter::Int16));
        EXPECT_EQ(writer->samplesWritten(), 0);
        EXPECT_EQ(WrittenFile::load(first).u64(36), 50u);
        ASSERT_TRUE(writer->writeFrames(samples.data(), 30));
    }
    const WrittenFile f = WrittenFile::load(second);
    EXPECT_EQ(f.u64(28), 60u);
    EXPECT_EQ(f.u64(36), 30u);
    EXPECT_EQ(f.u64(20), f.bytes.size() - 8);
}

struct RefusedFormat {
    int sampleRate;
    int channels;
    int format;
    const char* reasonPart;
};

TEST_F(BwfFileWriterTest, UnusableFormatsAreRefusedWithAReasonAndCreateNothing)
{
    const RefusedFormat cases[] = {
        {48000, 0, BwfFileWriter::Int24, "Channel count must be at least 1 (got 0)"},
        {48000, -2, BwfFileWriter::Int16, "Channel count"},
        {0, 2, BwfFileWriter::Int24, "Sample rate"},
        {48000, 20000, BwfFileWriter::Int32, "Too many channels"},
        {2000000000, 64, BwfFileWriter::Float32, "Sample rate too high"},
        {48000, 2, 7, "Unknown sample format"},
    };
    for (const RefusedFormat& c : cases) {
        SCOPED_TRACE(c.reasonPart);
        const std::string path = file("refused.wav");
        BwfFileWriter writer;
        EXPECT_FALSE(writer.open(path, c.sampleRate, c.channels, static_cast<BwfFileWriter::SampleFormat>(c.format)));
        EXPECT_NE(writer.lastError().find(c.reasonPart), std::string::npos) << writer.lastError();
        EXPECT_FALSE(writer.isOpen());
        EXPECT_FALSE(std::filesystem::exists(path));
        EXPECT_TRUE(writer.close());
    }
}

TEST_F(BwfFileWriterTest, CreateNewNeverOverwritesAnEarlierTake)
{
    const std::string path = file("take.wav");
    {
        std::ofstream earlier(path, std::ios::binary);
        earlier << "earlier take";
    }
    BwfFileWriter writer;
    EXPECT_FALSE(writer.open(path, 48000, 1, BwfFileWriter::Int24, BwfFileWriter::OpenMode::CreateNew));
    EXPECT_NE(writer.lastError().find("already exists"), std::string::npos) << writer.lastError();
    EXPECT_EQ(WrittenFile::load(path).text(0, 12), "earlier take");
    EXPECT_EQ(WrittenFile::load(path).bytes.size(), 12u);

    ASSERT_TRUE(writer.open(file("new.wav"), 48000, 1, BwfFileWriter::Int24, BwfFileWriter::OpenMode::CreateNew))
        << writer.lastError();
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(WrittenFile::load(file("new.wav")).bytes.size(), kHeaderBytesWithoutMetadata);

    // The default mode overwrites, as a layout conversion re-writing a file expects.
    ASSERT_TRUE(writer.open(path, 48000, 1, BwfFileWriter::Int24));
    ASSERT_TRUE(writer.close());
    EXPECT_EQ(WrittenFile::load(path).text(0, 4), "RF64");
}

TEST_F(BwfFileWriterTest, FilesThatCannotBeCreatedOrWrittenAreReported)
{
    BwfFileWriter writer;
    EXPECT_FALSE(writer.open(file("missing-folder/take.wav"), 48000, 1, BwfFileWriter::Int24));
    EXPECT_NE(writer.lastError().find("Cannot create"), std::string::npos) << writer.lastError();
    EXPECT_FALSE(writer.isOpen());

    if (std::filesystem::exists("/dev/full")) {
        // A full disk: the header write must be seen to fail, not reported as done.
        EXPECT_FALSE(writer.open("/dev/full", 48000, 1, BwfFileWriter::Int24));
        EXPECT_NE(writer.lastError().find("header"), std::string::npos) << writer.lastError();
        EXPECT_FALSE(writer.isOpen());
    }
}

} // namespace
