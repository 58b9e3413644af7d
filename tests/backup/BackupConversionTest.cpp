// The layout conversions, checked from outside: every sample code of the
// result equals the source's as libsndfile reads them (16-, 24-, 32-bit and
// float, full scale and the smallest values), bext fields by ffprobe, iXML
// fields by xmllint; the mono files of one take are gathered by track field
// and nothing else joins them.
#include "BackupTestSupport.h"

#include "media/BwfFileWriter.h"
#include "support/ExternalTool.h"
#include "support/TempHome.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr int kFrames = 10000;  // more than two conversion blocks, not a multiple of one

struct FormatCase {
    const char* name;
    BwfFileWriter::SampleFormat format;
    int bits;
};
const FormatCase kFormats[] = {
    {"16-bit", BwfFileWriter::Int16, 16},
    {"24-bit", BwfFileWriter::Int24, 24},
    {"32-bit", BwfFileWriter::Int32, 32},
    {"float", BwfFileWriter::Float32, 32},
};

// The code of channel c at frame k: the extremes and the smallest steps
// first, then a pattern that differs per channel.
int64_t integerCode(int bits, int channel, int frame)
{
    const int64_t max = (int64_t{1} << (bits - 1)) - 1;
    const int64_t min = -max - 1;
    const int64_t special[] = {max, min, 1, -1, 0, max - 1, min + 1, 2, -2};
    const int count = static_cast<int>(std::size(special));
    if (frame < count)
        return special[(frame + channel) % count];
    const uint64_t mixed = (static_cast<uint64_t>(frame) * 2654435761u) ^ (static_cast<uint64_t>(channel) * 40503u);
    return static_cast<int64_t>(mixed % static_cast<uint64_t>(max)) * ((frame & 1) ? -1 : 1);
}

float floatValue(int channel, int frame)
{
    const float special[] = {1.0f, -1.0f, 1e-30f, -1e-30f, 1.4e-45f, 0.0f, 0.99999994f, -0.5f};
    const int count = static_cast<int>(std::size(special));
    if (frame < count)
        return special[(frame + channel) % count];
    return static_cast<float>((frame * 7919 + channel * 104729) % 20001 - 10000) / 10007.0f;
}

// The encoded little-endian bytes of one sample.
void encode(const FormatCase& f, int channel, int frame, uint8_t* out)
{
    if (f.format == BwfFileWriter::Float32) {
        const float value = floatValue(channel, frame);
        std::memcpy(out, &value, 4);
        return;
    }
    const uint64_t code = static_cast<uint64_t>(integerCode(f.bits, channel, frame));
    for (int b = 0; b < f.bits / 8; ++b)
        out[b] = static_cast<uint8_t>(code >> (8 * b));
}

BwfFileWriter::BextChunk takeBext(std::vector<std::string> trackNames)
{
    BwfFileWriter::BextChunk bext;
    bext.originator = "Tonvale";
    bext.originatorReference = "REF42";
    bext.originationDate = "2026-12-10";
    bext.originationTime = "18:30:05";
    bext.timeReference = 2937600000ull;
    bext.project = "Harbour";
    bext.scene = "12A";
    bext.take = "3";
    bext.tape = "001";
    bext.note = "wind & rain";
    bext.circled = true;
    bext.frameRate = 25.0;
    bext.timestampSampleRate = 48000;
    bext.trackNames = std::move(trackNames);
    return bext;
}

// A file of `channels` channels; channel c of it is channel `firstChannel` + c of the pattern.
void writeTakeFile(const std::string& path, const FormatCase& f, int channels, int frames,
                   const BwfFileWriter::BextChunk& bext, int firstChannel = 0)
{
    BwfFileWriter writer;
    writer.setBextChunk(bext);
    ASSERT_TRUE(writer.open(path, 48000, channels, f.format)) << writer.lastError();
    const int sampleBytes = f.bits / 8;
    std::vector<uint8_t> bytes(static_cast<size_t>(frames * channels * sampleBytes));
    for (int k = 0; k < frames; ++k)
        for (int c = 0; c < channels; ++c)
            encode(f, firstChannel + c, k, bytes.data() + (static_cast<size_t>(k) * channels + c) * sampleBytes);
    ASSERT_TRUE(writer.writeEncodedFrames(bytes.data(), frames));
    ASSERT_TRUE(writer.close());
}

// Checks with libsndfile that channel c of the file holds pattern channel
// `firstChannel` + c at every frame, code for code.
void expectPatternCodes(const std::string& path, const FormatCase& f, int channels, int frames, int firstChannel = 0)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    ASSERT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    ASSERT_EQ(info.channels, channels);
    ASSERT_EQ(info.frames, frames);
    int mismatches = 0;
    if (f.format == BwfFileWriter::Float32) {
        std::vector<float> samples(static_cast<size_t>(frames * channels));
        ASSERT_EQ(sf_readf_float(file, samples.data(), frames), frames);
        for (int k = 0; k < frames; ++k)
            for (int c = 0; c < channels; ++c) {
                const float expected = floatValue(firstChannel + c, k);
                mismatches += std::memcmp(&samples[static_cast<size_t>(k * channels + c)], &expected, 4) != 0;
            }
    } else {
        std::vector<int> samples(static_cast<size_t>(frames * channels));
        ASSERT_EQ(sf_readf_int(file, samples.data(), frames), frames);
        for (int k = 0; k < frames; ++k)
            for (int c = 0; c < channels; ++c)
                mismatches += (samples[static_cast<size_t>(k * channels + c)] >> (32 - f.bits))
                              != integerCode(f.bits, firstChannel + c, k);
    }
    sf_close(file);
    EXPECT_EQ(mismatches, 0) << path;
}

QJsonObject ffprobeTags(const std::string& path)
{
    const ToolResult r =
        runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_format", QString::fromStdString(path)});
    EXPECT_EQ(r.exitCode, 0) << r.standardError.toStdString();
    return QJsonDocument::fromJson(r.standardOutput.toUtf8()).object()["format"].toObject()["tags"].toObject();
}

// One value of a file's iXML chunk, read by xmllint.
std::string ixml(const std::string& path, const std::string& xpath)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t begin = bytes.find("<?xml");
    const size_t end = bytes.find("</BWFXML>");
    if (begin == std::string::npos || end == std::string::npos)
        return "(no iXML)";
    const std::string scratch = path + ".ixml.xml";
    std::ofstream(scratch, std::ios::binary) << bytes.substr(begin, end + 9 - begin);
    const ToolResult r = runTool(findTool("xmllint"), {"--xpath", QString::fromStdString("string(" + xpath + ")"),
                                                       QString::fromStdString(scratch)});
    fs::remove(scratch);
    return r.standardOutput.trimmed().toStdString();
}

void expectTakeMetadata(const std::string& path, const std::vector<std::string>& trackNames)
{
    SCOPED_TRACE(path);
    const QJsonObject tags = ffprobeTags(path);
    EXPECT_EQ(tags["time_reference"].toString().toStdString(), "2937600000");
    EXPECT_EQ(tags["encoded_by"].toString().toStdString(), "Tonvale");
    EXPECT_EQ(tags["date"].toString().toStdString(), "2026-12-10");
    EXPECT_EQ(tags["creation_time"].toString().toStdString(), "18:30:05");
    EXPECT_EQ(ixml(path, "/BWFXML/PROJECT"), "Harbour");
    EXPECT_EQ(ixml(path, "/BWFXML/SCENE"), "12A");
    EXPECT_EQ(ixml(path, "/BWFXML/TAKE"), "3");
    EXPECT_EQ(ixml(path, "/BWFXML/TAPE"), "001");
    EXPECT_EQ(ixml(path, "/BWFXML/NOTE"), "wind & rain");
    EXPECT_EQ(ixml(path, "/BWFXML/CIRCLED"), "TRUE");
    for (size_t i = 0; i < trackNames.size(); ++i)
        EXPECT_EQ(ixml(path, "/BWFXML/TRACK_LIST/TRACK[" + std::to_string(i + 1) + "]/NAME"), trackNames[i]);
}

class BackupConversionTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        root_ = home_.pathStd() + "/drive";
        take_ = home_.pathStd() + "/take";
        fs::create_directories(root_);
        fs::create_directories(take_);
        done_.attach(queue_);
    }
    void TearDown() override { queue_.stop(); }
    std::string destination() const { return root_ + "/Tonvale/Harbour/001"; }
    BackupCopyQueue::CopyJob run(const std::string& path, int sourceFormat, int destinationFormat)
    {
        const size_t before = done_.jobs().size();
        EXPECT_TRUE(queue_.tryQueueCopy(path, destination(), sourceFormat, destinationFormat, nullptr, root_));
        queue_.start();
        EXPECT_TRUE(done_.waitFor(before + 1));
        return done_.jobs().back();
    }

    std::string root_;
    std::string take_;
    BackupCopyQueue queue_;
    CompletedJobs done_;
};

TEST_F(BackupConversionTest, PolyphonicToMonoAndBackCarryEveryCodeAndTheMetadata)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    TONVALE_REQUIRE_TOOL("xmllint");
    for (const FormatCase& f : kFormats) {
        SCOPED_TRACE(f.name);
        const std::string poly = take_ + "/A001_Harbour_001_12A_T3.wav";
        writeTakeFile(poly, f, 3, kFrames, takeBext({"MIX", "Boom", "Lav"}));
        auto job = run(poly, 0, 1);
        ASSERT_FALSE(job.failed) << job.errorMessage;
        const std::vector<std::string> monoNames = {"A001_Harbour_001_12A_T3_MIX.wav", "A001_Harbour_001_12A_T3_T01.wav",
                                                    "A001_Harbour_001_12A_T3_T02.wav"};
        EXPECT_EQ(fileNamesIn(destination()), monoNames);
        const std::vector<std::string> names = {"MIX", "Boom", "Lav"};
        for (int c = 0; c < 3; ++c) {
            const std::string path = destination() + "/" + monoNames[static_cast<size_t>(c)];
            expectPatternCodes(path, f, 1, kFrames, c);
            expectTakeMetadata(path, {names[static_cast<size_t>(c)]});
        }
        fs::remove_all(root_ + "/Tonvale");

        // The recorder's own mono names, joined back into one file.
        fs::remove(poly);
        for (int c = 0; c < 3; ++c) {
            const std::string field = std::string("0") + std::to_string(c) + "_" + names[static_cast<size_t>(c)];
            writeTakeFile(take_ + "/A001_Harbour_001_12A_T3_" + field + ".wav", f, 1, kFrames,
                          takeBext({names[static_cast<size_t>(c)]}), c);
        }
        job = run(take_ + "/A001_Harbour_001_12A_T3_01_Boom.wav", 1, 0);
        ASSERT_FALSE(job.failed) << job.errorMessage;
        EXPECT_EQ(fileNamesIn(destination()), std::vector<std::string>{"A001_Harbour_001_12A_T3.wav"});
        expectPatternCodes(destination() + "/A001_Harbour_001_12A_T3.wav", f, 3, kFrames);
        expectTakeMetadata(destination() + "/A001_Harbour_001_12A_T3.wav", names);
        fs::remove_all(root_ + "/Tonvale");
        for (const auto& entry : fs::directory_iterator(take_))
            fs::remove(entry.path());
    }
}

// Bitbucket Mode: a take without a mix has no MIX file after the split.
TEST_F(BackupConversionTest, APolyphonicTakeWithoutMixNumbersFromT01)
{
    const FormatCase& f = kFormats[1];
    const std::string poly = take_ + "/A002.wav";
    writeTakeFile(poly, f, 12, 100, takeBext({"Boom", "Lav", "", "", "", "", "", "", "", "", "", "Amb"}));
    const auto job = run(poly, 0, 1);
    ASSERT_FALSE(job.failed) << job.errorMessage;
    const auto names = fileNamesIn(destination());
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names.front(), "A002_T01.wav");
    EXPECT_EQ(names.back(), "A002_T12.wav");
    expectPatternCodes(destination() + "/A002_T01.wav", f, 1, 100, 0);
    expectPatternCodes(destination() + "/A002_T12.wav", f, 1, 100, 11);
    if (!findTool("xmllint").isEmpty()) {
        EXPECT_EQ(ixml(destination() + "/A002_T03.wav", "/BWFXML/TRACK_LIST/TRACK[1]/NAME"), "T03");
        EXPECT_EQ(ixml(destination() + "/A002_T12.wav", "/BWFXML/TRACK_LIST/TRACK[1]/NAME"), "Amb");
    }
}

// Only this take's .wav files become channels, in track-field order: a
// sidecar and another take that reused the scene and take number stay out.
TEST_F(BackupConversionTest, MonoToPolyphonicGathersOnlyThisTakeByTrackField)
{
    const FormatCase& f = kFormats[0];
    // Names whose byte order differs from the track order.
    writeTakeFile(take_ + "/B9_S1_T2_02_Alpha.wav", f, 1, 500, takeBext({"Alpha"}), 2);
    writeTakeFile(take_ + "/B9_S1_T2_00_MIX.wav", f, 1, 500, takeBext({"MIX"}), 0);
    writeTakeFile(take_ + "/A1_S1_T2_01_Zulu.wav", f, 1, 500, takeBext({"Zulu"}), 1);
    writeBytes(take_ + "/B9_S1_T2_01_Zulu.txt", {'n', 'o', 't', 'e'});
    BwfFileWriter::BextChunk older = takeBext({"Old"});
    older.originationTime = "09:00:00";
    writeTakeFile(take_ + "/C1_S1_T2_03_Old.wav", f, 1, 500, older, 5);
    const auto job = run(take_ + "/B9_S1_T2_00_MIX.wav", 1, 0);
    ASSERT_FALSE(job.failed) << job.errorMessage;
    expectPatternCodes(destination() + "/B9_S1_T2.wav", f, 3, 500);

    // Two files claiming one track field would mix takes: refused.
    writeTakeFile(take_ + "/D1_S1_T2_02_Other.wav", f, 1, 500, takeBext({"Other"}), 4);
    const auto clash = run(take_ + "/B9_S1_T2_00_MIX.wav", 1, 0);
    EXPECT_TRUE(clash.failed);
    EXPECT_EQ(clash.errorMessage.rfind("Two mono files share track field 02: ", 0), 0u) << clash.errorMessage;
}

TEST_F(BackupConversionTest, MonoFilesOfUnequalLengthOrRateOrFormat)
{
    const FormatCase& f = kFormats[1];
    writeTakeFile(take_ + "/A_S1_T1_00_MIX.wav", f, 1, 1000, takeBext({"MIX"}), 0);
    writeTakeFile(take_ + "/A_S1_T1_01_Boom.wav", f, 1, 990, takeBext({"Boom"}), 1);
    auto job = run(take_ + "/A_S1_T1_00_MIX.wav", 1, 0);
    ASSERT_FALSE(job.failed) << job.errorMessage;
    expectPatternCodes(destination() + "/A_S1_T1.wav", f, 2, 990);
    EXPECT_NE(home_.logText().find("BackupCopyQueue: WARNING - Frame count mismatch: " + take_ + "/A_S1_T1_01_Boom.wav"),
              std::string::npos);

    writeTakeFile(take_ + "/A_S1_T1_02_Lav.wav", kFormats[0], 1, 1000, takeBext({"Lav"}), 2);
    job = run(take_ + "/A_S1_T1_00_MIX.wav", 1, 0);
    EXPECT_EQ(job.errorMessage, "Sample format mismatch in mono files: " + take_ + "/A_S1_T1_02_Lav.wav");
    writeTakeFile(take_ + "/A_S1_T1_02_Lav.wav", kFormats[2], 2, 1000, takeBext({"Lav"}), 2);
    job = run(take_ + "/A_S1_T1_00_MIX.wav", 1, 0);
    EXPECT_EQ(job.errorMessage, "Expected mono file but got 2 channels: " + take_ + "/A_S1_T1_02_Lav.wav");
    {
        BwfFileWriter writer;
        writer.setBextChunk(takeBext({"Lav"}));
        ASSERT_TRUE(writer.open(take_ + "/A_S1_T1_02_Lav.wav", 44100, 1, f.format));
        ASSERT_TRUE(writer.close());
    }
    job = run(take_ + "/A_S1_T1_00_MIX.wav", 1, 0);
    EXPECT_EQ(job.errorMessage, "Sample rate mismatch in mono files");
    EXPECT_EQ(fileNamesIn(destination()), std::vector<std::string>{"A_S1_T1.wav"});  // only the first result
}

TEST_F(BackupConversionTest, AConversionOntoAFullDriveFailsAndLeavesNoPartial)
{
    TmpfsDrive small(home_.pathStd() + "/small", 256 * 1024);
    if (!small.ok())
        GTEST_SKIP() << "SKIPPED: " << small.reason();
    root_ = small.path();
    const std::string poly = take_ + "/A003.wav";
    writeTakeFile(poly, kFormats[1], 4, 48000, takeBext({"MIX", "A", "B", "C"}));
    for (int destinationFormat : {1, 0}) {
        const auto job = run(poly, 0, destinationFormat);
        EXPECT_TRUE(job.failed);
        EXPECT_EQ(job.errorMessage.rfind("Write failed", 0), 0u) << job.errorMessage;
        EXPECT_TRUE(fileNamesIn(destination()).empty());
    }
}

}  // namespace
