// The reader against files made by sox, libsndfile and ffmpeg (decoded by
// libsndfile as the oracle), against hand-built headers, and through the
// prefetch thread with seeks.

#include "MediaTestFiles.h"
#include "WavBytes.h"
#include "media/WavFileReader.h"
#include "support/ExternalTool.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <thread>

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kDeadline = std::chrono::seconds(30);

uint32_t bitsOf(float value)
{
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// Reads the whole file synchronously in odd-sized blocks.
std::vector<float> readAll(WavFileReader& reader, int outChannels, int blockFrames = 1000)
{
    const int outCount = (outChannels >= 1 && outChannels <= reader.getChannels()) ? outChannels : reader.getChannels();
    std::vector<float> all;
    std::vector<float> block(static_cast<size_t>(blockFrames) * outCount);
    for (;;) {
        const int got = reader.readFrames(block.data(), blockFrames, outChannels);
        if (got == 0)
            break;
        all.insert(all.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(got) * outCount);
    }
    return all;
}

// Frame `frame`, channels [0, count) of the oracle.
std::vector<float> oracleFrames(const SndfileContent& oracle, int64_t firstFrame, int64_t frames, int count)
{
    std::vector<float> out;
    for (int64_t frame = firstFrame; frame < firstFrame + frames; ++frame)
        for (int channel = 0; channel < count; ++channel)
            out.push_back(oracle.samples[static_cast<size_t>(frame * oracle.channels + channel)]);
    return out;
}

void expectBitExact(const std::vector<float>& actual, const std::vector<float>& expected)
{
    ASSERT_EQ(actual.size(), expected.size());
    for (size_t i = 0; i < actual.size(); ++i) {
        if (bitsOf(actual[i]) != bitsOf(expected[i])) {
            FAIL() << "sample " << i << ": " << actual[i] << " != " << expected[i];
        }
    }
}

struct ToolCase {
    const char* name;
    const char* tool;  // how the file is made from sox's plain source
    int channels;
    int bits;
    bool isFloat;
    bool expectRF64;
};

const ToolCase kToolCases[] = {
    {"sox_pcm16_stereo", "sox", 2, 16, false, false},
    {"sox_pcm24_5ch", "sox", 5, 24, false, false},
    {"sox_pcm32_mono", "sox", 1, 32, false, false},
    {"sox_float_stereo", "sox", 2, 32, true, false},
    {"sox_extensible24_64ch", "sox-extensible", 64, 24, false, false},
    {"sndfile_rf64_pcm16_mono", "sndfile-convert", 1, 16, false, true},
    {"sndfile_rf64_pcm24_8ch", "sndfile-convert", 8, 24, false, true},
    {"sndfile_rf64_pcm32_3ch", "sndfile-convert", 3, 32, false, true},
    {"sndfile_rf64_float_stereo", "sndfile-convert", 2, 32, true, true},
    {"ffmpeg_rf64_pcm16_stereo", "ffmpeg", 2, 16, false, true},
    {"ffmpeg_rf64_pcm24_4ch", "ffmpeg", 4, 24, false, true},
    {"ffmpeg_rf64_float_mono", "ffmpeg", 1, 32, true, true},
};

// Makes the fixture of a case with the tools; empty on failure.
QString makeToolFixture(const QString& folder, const ToolCase& c, int64_t frames)
{
    const QString source = folder + "/" + c.name + "-source.wav";
    const QString encoding = c.isFloat ? "floating-point" : "signed-integer";
    // Noise at full level reaches the extreme codes of every format.
    ToolResult made = runTool("sox", {"-R", "-n", "-r", "48000", "-c", QString::number(c.channels), "-b",
                                      QString::number(c.bits), "-e", encoding, "-t", "wavpcm", source, "synth",
                                      QString::number(frames) + "s", "whitenoise", "vol", "1.2"});
    if (made.exitCode != 0)
        return {};
    const QString tool = c.tool;
    const QString target = folder + "/" + c.name + (tool == "sndfile-convert" ? ".rf64" : ".wav");
    const QString subtype = c.isFloat ? "float32" : "pcm" + QString::number(c.bits);
    if (tool == "sox")
        return source;
    if (tool == "sox-extensible")
        made = runTool("sox", {"-R", source, "-t", "wav", target});
    else if (tool == "sndfile-convert")
        made = runTool("sndfile-convert", {"-" + subtype, source, target});
    else
        made = runTool("ffmpeg", {"-loglevel", "error", "-y", "-i", source, "-c:a",
                                  c.isFloat ? QString("pcm_f32le") : "pcm_s" + QString::number(c.bits) + "le",
                                  "-rf64", "always", target});
    return made.exitCode == 0 ? target : QString();
}

TEST(WavFileReaderTest, ToolMadeFilesReadBitExactWithChannelSubsets)
{
    TONVALE_REQUIRE_TOOL("sox");
    TONVALE_REQUIRE_TOOL("sndfile-convert");
    TONVALE_REQUIRE_TOOL("ffmpeg");
    QTemporaryDir dir;
    constexpr int64_t kFrames = 10007;
    for (const ToolCase& c : kToolCases) {
        SCOPED_TRACE(c.name);
        const QString path = makeToolFixture(dir.path(), c, kFrames);
        ASSERT_FALSE(path.isEmpty());
        const SndfileContent oracle = readWithSndfile(path.toStdString());
        ASSERT_EQ(oracle.frames, kFrames);
        ASSERT_EQ((oracle.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_RF64, c.expectRF64);

        WavFileReader reader;
        ASSERT_TRUE(reader.open(path.toStdString())) << reader.getLastError();
        EXPECT_EQ(reader.isRF64(), c.expectRF64);
        EXPECT_EQ(reader.getChannels(), c.channels);
        EXPECT_EQ(reader.getBitsPerSample(), c.bits);
        EXPECT_EQ(reader.getFormatTag(), c.isFloat ? 3 : 1);
        EXPECT_EQ(reader.getSampleRate(), 48000);
        EXPECT_EQ(reader.getTotalFrames(), kFrames);
        EXPECT_DOUBLE_EQ(reader.getDuration(), kFrames / 48000.0);

        expectBitExact(readAll(reader, 0), oracle.samples);
        EXPECT_TRUE(reader.isAtEnd());

        // A subset gives the first channels; more than the file has gives all.
        reader.setPosition(0);
        expectBitExact(readAll(reader, 1, 4096), oracleFrames(oracle, 0, kFrames, 1));
        reader.setPosition(kFrames - 10);
        expectBitExact(readAll(reader, c.channels + 3, 3), oracleFrames(oracle, kFrames - 10, 10, c.channels));
    }
}

struct HeaderCase {
    const char* name;
    WavBytes wav;
    int64_t totalFrames;
    std::vector<float> firstSamples;
};

TEST(WavFileReaderTest, HandBuiltHeadersAndSampleCodes)
{
    const std::vector<uint8_t> extremes24 = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0x01, 0x00, 0x00};
    const std::vector<uint8_t> extremes16 = {0x00, 0x80, 0xFF, 0x7F};
    const std::vector<uint8_t> extremes32 = {0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF, 0x7F};
    std::vector<uint8_t> floats(8);
    const float floatValues[2] = {2.0f, -3.5f};
    std::memcpy(floats.data(), floatValues, sizeof floatValues);
    const std::vector<HeaderCase> cases = {
        {"int24_extremes", WavBytes::form(false).fmt(1, 1, 48000, 24).id("data").u32(9).raw(extremes24), 3,
         {-1.0f, 8388607.0f / 8388608.0f, 1.0f / 8388608.0f}},
        {"int16_extremes", WavBytes::form(false).fmt(1, 1, 48000, 16).id("data").u32(4).raw(extremes16), 2,
         {-1.0f, 32767.0f / 32768.0f}},
        {"int32_extremes", WavBytes::form(false).fmt(1, 1, 48000, 32).id("data").u32(8).raw(extremes32), 2,
         {-1.0f, 1.0f}},
        {"float_unclamped", WavBytes::form(false).fmt(3, 2, 48000, 32).id("data").u32(8).raw(floats), 1,
         {2.0f, -3.5f}},
        {"odd_list_before_fmt",
         WavBytes::form(false).chunk("LIST", "abcde").fmt(1, 1, 48000, 16).id("data").u32(4).raw(extremes16), 2,
         {-1.0f, 32767.0f / 32768.0f}},
        {"rf64_size_from_ds64", WavBytes::form(true, 4).fmt(1, 1, 48000, 16).id("data").u32(0xFFFFFFFFu).raw(extremes16),
         2, {-1.0f, 32767.0f / 32768.0f}},
        {"rf64_real_data_size", WavBytes::form(true, 0).fmt(1, 1, 48000, 16).id("data").u32(2).raw(extremes16), 1,
         {-1.0f}},
        {"rf64_unclosed_reads_nothing",
         WavBytes::form(true, 0).fmt(1, 1, 48000, 16).id("data").u32(0xFFFFFFFFu).raw(extremes16), 0, {}},
        // A copy cut short keeps the frames that are there.
        {"data_size_beyond_file", WavBytes::form(false).fmt(1, 1, 48000, 16).id("data").u32(400).raw(extremes16), 2,
         {-1.0f, 32767.0f / 32768.0f}},
        {"odd_data_size_whole_frames_only",
         WavBytes::form(false).fmt(1, 2, 48000, 16).id("data").u32(3).raw({0x00, 0x80, 0x00}), 0, {}},
        {"fmt_with_cb_size", WavBytes::form(false).id("fmt ").u32(18).u16(1).u16(1).u32(48000).u32(96000).u16(2).u16(16)
                                 .u16(0).id("data").u32(4).raw(extremes16),
         2, {-1.0f, 32767.0f / 32768.0f}},
    };
    QTemporaryDir dir;
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.path().toStdString() + "/" + c.name + ".wav";
        ASSERT_TRUE(writeFileBytes(path, c.wav.bytes));
        WavFileReader reader;
        ASSERT_TRUE(reader.open(path)) << reader.getLastError();
        EXPECT_EQ(reader.getTotalFrames(), c.totalFrames);
        EXPECT_EQ(reader.isAtEnd(), c.totalFrames == 0);
        expectBitExact(readAll(reader, 0), c.firstSamples);
    }
}

struct RefusalCase {
    const char* name;
    std::vector<uint8_t> bytes;
    const char* reason;
};

std::vector<uint8_t> cut(std::vector<uint8_t> bytes, size_t length)
{
    bytes.resize(length);
    return bytes;
}

TEST(WavFileReaderTest, UntrustedHeadersAreRefusedWithAReason)
{
    const WavBytes good = WavBytes::form(false).fmt(1, 1, 48000, 16).id("data").u32(2).u16(0);
    const WavBytes goodRF64 = WavBytes::form(true, 2).fmt(1, 1, 48000, 16).id("data").u32(0xFFFFFFFFu).u16(0);
    WavBytes extensibleAdpcm = WavBytes::form(false);
    extensibleAdpcm.id("fmt ").u32(40).u16(0xFFFE).u16(2).u32(48000).u32(192000).u16(4).u16(16).u16(22).u16(16)
        .u32(3).u16(2).raw({0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        .id("data").u32(0);
    // A fmt chunk whose block align is given, not derived.
    const auto alignedAs = [](int tag, int channels, int bits, int align) {
        return WavBytes::form(false).id("fmt ").u32(16).u16(tag).u16(channels).u32(48000).u32(48000u * static_cast<uint32_t>(align))
            .u16(align).u16(bits).id("data").u32(16).u64(0).u64(0).bytes;
    };
    // 24 valid bits in 4-byte containers, stereo, but frames of 6 bytes.
    WavBytes extensibleShortFrames = WavBytes::form(false);
    extensibleShortFrames.id("fmt ").u32(40).u16(0xFFFE).u16(2).u32(48000).u32(288000).u16(6).u16(32).u16(22).u16(24)
        .u32(3).u16(1).raw({0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71})
        .id("data").u32(12).u32(0).u64(0);
    // A LIST of 3 bytes without its pad byte: fmt starts one byte early.
    const std::vector<uint8_t> unpadded =
        WavBytes::form(false).id("LIST").u32(3).raw({'a', 'b', 'c'}).fmt(1, 1, 48000, 16).id("data").u32(2).u16(0).bytes;
    const std::vector<RefusalCase> cases = {
        {"empty", {}, "too short"},
        {"truncated_form", cut(good.bytes, 11), "too short"},
        {"truncated_in_fmt", cut(good.bytes, 30), "fmt chunk runs past"},
        {"truncated_in_fmt_header", cut(good.bytes, 16), "No fmt chunk"},
        {"truncated_before_data", cut(good.bytes, 36), "No data chunk"},
        {"not_riff", WavBytes().id("RIFX").u32(0).id("WAVE").fmt(1, 1, 48000, 16).bytes, "Not a RIFF"},
        {"not_wave", WavBytes().id("RIFF").u32(0).id("AVI ").fmt(1, 1, 48000, 16).bytes, "Not a WAVE"},
        {"chunk_larger_than_file", WavBytes::form(false).id("LIST").u32(0x7FFFFFF0u).u32(0).bytes, "more than the file"},
        {"fmt_larger_than_file", WavBytes::form(false).id("fmt ").u32(1000).u16(1).u16(1).bytes, "fmt chunk runs past"},
        {"fmt_too_short", WavBytes::form(false).id("fmt ").u32(14).u16(1).u16(1).u32(48000).u32(96000).u16(2).bytes,
         "shorter than 16"},
        {"float_16_bits", WavBytes::form(false).fmt(3, 1, 48000, 16).id("data").u32(2).u16(0).bytes, "Float samples"},
        {"float_24_bits", WavBytes::form(false).fmt(3, 1, 48000, 24).id("data").u32(3).u16(0).u16(0).bytes,
         "Float samples"},
        {"channels_0", WavBytes::form(false).fmt(1, 0, 48000, 16).id("data").u32(0).bytes, "Channel count 0"},
        {"channels_65", WavBytes::form(false).fmt(1, 65, 48000, 16).id("data").u32(0).bytes, "Channel count 65"},
        {"bits_8", WavBytes::form(false).fmt(1, 1, 48000, 8).id("data").u32(0).bytes, "bits per sample 8"},
        {"bits_20", WavBytes::form(false).fmt(1, 1, 48000, 20).id("data").u32(0).bytes, "bits per sample 20"},
        {"tag_adpcm", WavBytes::form(false).fmt(2, 1, 48000, 16).id("data").u32(0).bytes, "format tag 2"},
        {"extensible_adpcm", extensibleAdpcm.bytes, "extensible sub-format"},
        {"rate_0", WavBytes::form(false).fmt(1, 1, 0, 16).id("data").u32(0).bytes, "Sample rate 0"},
        {"rf64_without_ds64", WavBytes().id("RF64").u32(0xFFFFFFFFu).id("WAVE").fmt(1, 1, 48000, 16).bytes, "no ds64"},
        {"rf64_short_ds64", WavBytes().id("RF64").u32(0).id("WAVE").id("ds64").u32(8).u64(0).bytes, "ds64 chunk is shorter"},
        {"rf64_ds64_past_end", cut(goodRF64.bytes, 40), "ds64 chunk runs past"},
        {"block_align_0", alignedAs(1, 1, 16, 0), "Block align 0 does not match"},
        {"block_align_65535", alignedAs(1, 2, 16, 0xFFFF), "Block align 65535 does not match"},
        {"24_bit_stereo_in_8_byte_frames", alignedAs(1, 2, 24, 8), "Block align 8 does not match 2 channels of 24 bits"},
        {"float_stereo_in_4_byte_frames", alignedAs(3, 2, 32, 4), "Block align 4 does not match"},
        {"extensible_frames_short_of_containers", extensibleShortFrames.bytes, "Block align 6 does not match"},
        {"odd_chunk_without_pad_byte", unpadded, "Chunk 'LIST' at offset 12 has an odd size (3 bytes) and no pad byte"},
    };
    QTemporaryDir dir;
    for (const RefusalCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = dir.path().toStdString() + "/" + c.name + ".wav";
        ASSERT_TRUE(writeFileBytes(path, c.bytes));
        WavFileReader reader;
        EXPECT_FALSE(reader.open(path));
        EXPECT_NE(reader.getLastError().find(c.reason), std::string::npos) << reader.getLastError();
        EXPECT_FALSE(reader.isOpen());
        float sample[4];
        EXPECT_EQ(reader.readFrames(sample, 1, 1), 0);
    }
    WavFileReader reader;
    EXPECT_FALSE(reader.open(dir.path().toStdString() + "/missing.wav"));
    EXPECT_NE(reader.getLastError().find("Cannot open"), std::string::npos);
}

// A 16-bit stereo file whose two channels spell the frame number, so any
// delivered frame says where it came from.
constexpr int kNumberedFrames = 300'000;

std::string writeNumberedFile(const QTemporaryDir& dir)
{
    std::vector<uint8_t> samples;
    for (int frame = 0; frame < kNumberedFrames; ++frame) {
        for (const int part : {frame & 0x7FFF, frame >> 15}) {
            samples.push_back(static_cast<uint8_t>(part));
            samples.push_back(static_cast<uint8_t>(part >> 8));
        }
    }
    const WavBytes wav = WavBytes::form(true, samples.size()).fmt(1, 2, 48000, 16).id("data").u32(0xFFFFFFFFu).raw(samples);
    const std::string path = dir.path().toStdString() + "/numbered.wav";
    writeFileBytes(path, wav.bytes);
    return path;
}

int frameNumber(const float* frame)
{
    return static_cast<int>(std::lround(frame[0] * 32768.0f)) | static_cast<int>(std::lround(frame[1] * 32768.0f)) << 15;
}

// Reads until `frames` frames arrived (or the deadline passed); a read that
// returns 0 means the prefetch thread has not caught up yet.
std::vector<float> readFromRing(WavFileReader& reader, int frames, int outChannels, int blockFrames = 517)
{
    std::vector<float> all;
    std::vector<float> block(static_cast<size_t>(blockFrames) * outChannels);
    const auto deadline = Clock::now() + kDeadline;
    while (static_cast<int>(all.size()) < frames * outChannels && Clock::now() < deadline) {
        const int wanted = std::min(blockFrames, frames - static_cast<int>(all.size()) / outChannels);
        const int got = reader.readFrames(block.data(), wanted, outChannels);
        if (got == 0)
            std::this_thread::yield();
        all.insert(all.end(), block.begin(), block.begin() + static_cast<ptrdiff_t>(got) * outChannels);
    }
    return all;
}

TEST(WavFileReaderTest, PrefetchDeliversTheFileAcrossRingWrapsAndSeeks)
{
    QTemporaryDir dir;
    WavFileReader reader;
    ASSERT_TRUE(reader.open(writeNumberedFile(dir)));
    reader.startPrefetch(2);
    ASSERT_TRUE(reader.isPrefetching());

    // Four times the ring, so the ring wraps while the reader follows.
    std::vector<float> frames = readFromRing(reader, kNumberedFrames, 2);
    ASSERT_EQ(frames.size(), static_cast<size_t>(kNumberedFrames) * 2);
    for (int frame = 0; frame < kNumberedFrames; ++frame)
        ASSERT_EQ(frameNumber(&frames[static_cast<size_t>(frame) * 2]), frame);
    EXPECT_TRUE(reader.isAtEnd());

    struct SeekCase {
        double seconds;
        int expectedFirstFrame;
    };
    for (const SeekCase& seek : {SeekCase{1.0, 48000}, SeekCase{0.25, 12000}, SeekCase{-2.0, 0}}) {
        SCOPED_TRACE(seek.seconds);
        reader.seekSeconds(seek.seconds);
        EXPECT_FALSE(reader.isAtEnd());
        frames = readFromRing(reader, 70'000, 2, 4000);
        ASSERT_EQ(frames.size(), 140'000u);
        for (int frame = 0; frame < 70'000; ++frame)
            ASSERT_EQ(frameNumber(&frames[static_cast<size_t>(frame) * 2]), seek.expectedFirstFrame + frame);
    }

    // Beyond the end: clamped, at the end, and nothing more to read.
    reader.seekSeconds(1000.0);
    EXPECT_TRUE(reader.isAtEnd());
    float sample[2];
    for (int i = 0; i < 100; ++i)
        EXPECT_EQ(reader.readFrames(sample, 1, 2), 0);
    reader.close();
    EXPECT_FALSE(reader.isPrefetching());
}

TEST(WavFileReaderTest, PrefetchRingOfFewerChannelsPadsWithZeros)
{
    QTemporaryDir dir;
    WavFileReader reader;
    ASSERT_TRUE(reader.open(writeNumberedFile(dir)));
    reader.setPosition(100);
    reader.startPrefetch(1);
    const std::vector<float> frames = readFromRing(reader, 10, 2);
    ASSERT_EQ(frames.size(), 20u);
    for (int frame = 0; frame < 10; ++frame) {
        EXPECT_EQ(std::lround(frames[static_cast<size_t>(frame) * 2] * 32768.0f), 100 + frame);
        EXPECT_EQ(frames[static_cast<size_t>(frame) * 2 + 1], 0.0f);
    }
}

// The reading side on its own thread (as the audio thread would be) while
// the owner seeks: after every seek the frames jump once, to the target,
// and run on contiguously; no frame from before a seek follows it.
TEST(WavFileReaderTest, SeeksFromTheOwnerWhileAnotherThreadReads)
{
    QTemporaryDir dir;
    WavFileReader reader;
    ASSERT_TRUE(reader.open(writeNumberedFile(dir)));
    reader.startPrefetch(2);

    std::atomic<bool> stop{false};
    std::atomic<int> lastJumpTarget{-1};
    std::atomic<int> contiguityFaults{0};
    std::thread audio([&] {
        std::vector<float> block(256 * 2);
        int expectedNext = 0;
        while (!stop.load(std::memory_order_acquire)) {
            const int got = reader.readFrames(block.data(), 256, 2);
            for (int k = 0; k < got; ++k) {
                const int frame = frameNumber(&block[static_cast<size_t>(k) * 2]);
                if (frame != expectedNext) {
                    if (k != 0)
                        contiguityFaults.fetch_add(1);
                    lastJumpTarget.store(frame, std::memory_order_release);
                }
                expectedNext = frame + 1;
            }
            if (got == 0)
                std::this_thread::yield();
        }
    });

    // Descending targets: each lies behind anything the reader can have
    // reached since the previous seek, so each shows as one jump.
    for (int target = kNumberedFrames - 7001; target > 1000; target -= 5003) {
        reader.setPosition(target);
        const auto deadline = Clock::now() + kDeadline;
        while (lastJumpTarget.load(std::memory_order_acquire) != target && Clock::now() < deadline)
            std::this_thread::yield();
        if (lastJumpTarget.load() != target) {
            ADD_FAILURE() << "the seek to " << target << " never reached the reading thread";
            break;
        }
    }
    stop.store(true, std::memory_order_release);
    audio.join();
    EXPECT_EQ(contiguityFaults.load(), 0);
}

TEST(WavFileReaderTest, SyncSeeksClampAndReopenResets)
{
    QTemporaryDir dir;
    WavFileReader reader;
    const std::string path = writeNumberedFile(dir);
    ASSERT_TRUE(reader.open(path));
    float frame[2];
    reader.seekSeconds(2.5);
    ASSERT_EQ(reader.readFrames(frame, 1, 2), 1);
    EXPECT_EQ(frameNumber(frame), 120000);
    reader.seekSeconds(1e300);
    EXPECT_TRUE(reader.isAtEnd());
    EXPECT_EQ(reader.readFrames(frame, 1, 2), 0);
    reader.seekSeconds(std::nan(""));
    EXPECT_TRUE(reader.isAtEnd());
    EXPECT_EQ(reader.readFrames(frame, 0, 2), 0);
    EXPECT_EQ(reader.readFrames(frame, -5, 2), 0);

    ASSERT_TRUE(reader.open(path));
    ASSERT_EQ(reader.readFrames(frame, 1, 2), 1);
    EXPECT_EQ(frameNumber(frame), 0);
}

} // namespace
