// Files we write, read back by tools nobody here wrote: ffprobe, libsndfile
// (its API and sndfile-info), mediainfo and xmllint.

#include "media/BwfChunkBuilder.h"
#include "media/BwfFileWriter.h"
#include "media/WavFileReader.h"
#include "media/SampleFormatConverter.h"
#include "support/ExternalTool.h"
#include "support/TempHome.h"
#include "WrittenFile.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonArray>

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>
#include <set>
#include <vector>

namespace {

constexpr int kChannels = 3;
constexpr int kSampleRate = 48000;
constexpr int kFrames = 12345; // 0.2571875 s: an odd count that no block size divides
constexpr int kFramesPerBlock = 4096;
constexpr uint64_t kTimeReference = 1787063040; // 10:20:30:12 at 25 fps

struct FormatCase {
    BwfFileWriter::SampleFormat format;
    const char* ffprobeCodec;
    int sndfileSubtype;
    const char* mediainfoFormat;
    int bits;
};

const FormatCase kFormats[] = {
    {BwfFileWriter::Int16, "pcm_s16le", SF_FORMAT_PCM_16, "PCM", 16},
    {BwfFileWriter::Int24, "pcm_s24le", SF_FORMAT_PCM_24, "PCM", 24},
    {BwfFileWriter::Int32, "pcm_s32le", SF_FORMAT_PCM_32, "PCM", 32},
    {BwfFileWriter::Float32, "pcm_f32le", SF_FORMAT_FLOAT, "PCM", 32},
};

BwfFileWriter::BextChunk takeRecord()
{
    BwfFileWriter::BextChunk record;
    record.originator = "Tonvale";
    record.originatorReference = "TVL0001";
    record.originationDate = "2026-01-02";
    record.originationTime = "03:04:05";
    record.timeReference = kTimeReference;
    record.frameRate = 25.0;
    record.timestampSampleRate = kSampleRate;
    record.project = "Night & Day";
    record.scene = "12A";
    record.take = "3";
    record.tape = "R01";
    record.note = "<plane> overhead & \"wind\" 'gusts'";
    record.trackNames = {"MIX", "Boom <1>", ""};
    return record;
}

// Distinct, partly out-of-range values: sample s of frame f in channel c.
float sampleAt(int frame, int channel)
{
    return static_cast<float>(1.2 * std::sin(0.01 * frame + channel));
}

class BwfFileWriterToolsTest : public TempHomeTest {
protected:
    std::string writeTake(BwfFileWriter::SampleFormat format)
    {
        const std::string path = home_.pathStd() + "/take.wav";
        BwfFileWriter writer;
        writer.setBextChunk(takeRecord());
        EXPECT_TRUE(writer.open(path, kSampleRate, kChannels, format)) << writer.lastError();
        std::vector<float> block;
        for (int start = 0; start < kFrames; start += kFramesPerBlock) {
            const int frames = std::min(kFramesPerBlock, kFrames - start);
            block.clear();
            for (int f = start; f < start + frames; ++f) {
                for (int c = 0; c < kChannels; ++c)
                    block.push_back(sampleAt(f, c));
            }
            EXPECT_TRUE(writer.writeFrames(block.data(), frames));
        }
        EXPECT_TRUE(writer.close()) << writer.lastError();
        return path;
    }

    static QJsonObject runJson(const QString& tool, const QStringList& arguments)
    {
        const ToolResult result = runTool(findTool(tool), arguments);
        EXPECT_TRUE(result.started);
        EXPECT_EQ(result.exitCode, 0) << result.standardError.toStdString();
        return QJsonDocument::fromJson(result.standardOutput.toUtf8()).object();
    }
};

std::string text(const QJsonValue& value)
{
    return value.toString().toStdString();
}

TEST_F(BwfFileWriterToolsTest, FfprobeReadsFormatDurationAndBextTags)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(c.ffprobeCodec);
        const std::string path = writeTake(c.format);
        const QJsonObject probe = runJson(
            "ffprobe", {"-v", "error", "-print_format", "json", "-show_streams", "-show_format", QString::fromStdString(path)});
        const QJsonObject stream = probe["streams"].toArray().at(0).toObject();
        EXPECT_EQ(text(stream["codec_name"]), c.ffprobeCodec);
        EXPECT_EQ(stream["channels"].toInt(), kChannels);
        EXPECT_EQ(text(stream["sample_rate"]), "48000");
        EXPECT_EQ(stream["bits_per_sample"].toInt(), c.bits);
        EXPECT_EQ(stream["duration_ts"].toInteger(), kFrames);
        EXPECT_NEAR(stream["duration"].toString().toDouble(), double(kFrames) / kSampleRate, 1e-6);

        const QJsonObject tags = probe["format"].toObject()["tags"].toObject();
        EXPECT_EQ(text(tags["comment"]),
                  "aUBITS=$10203012\naSCENE=12A\naTAKE=3\naTAPE=R01\naSPEED=025.000-ND\naTAG=Night & Day\n"
                  "aNOTE=<plane> overhead & \"wind\" 'gusts'\naTRK1=MIX\naTRK2=Boom <1>\n");
        EXPECT_EQ(text(tags["encoded_by"]), "Tonvale");
        EXPECT_EQ(text(tags["originator_reference"]), "TVL0001");
        EXPECT_EQ(text(tags["date"]), "2026-01-02");
        EXPECT_EQ(text(tags["creation_time"]), "03:04:05");
        EXPECT_EQ(text(tags["time_reference"]), std::to_string(kTimeReference));
        EXPECT_EQ(text(tags["coding_history"]),
                  "A=PCM,F=48000,W=" + std::to_string(c.bits) + ",M=multi,R=48000,T=3 Ch\r\n");
    }
}

int32_t expectedSndfileInt(BwfFileWriter::SampleFormat format, float sample)
{
    // libsndfile hands integer samples back left-justified in 32 bits.
    switch (format) {
    case BwfFileWriter::Int16: return static_cast<int32_t>(static_cast<uint32_t>(SampleFormatConverter::toInt16(sample)) << 16);
    case BwfFileWriter::Int24: return static_cast<int32_t>(static_cast<uint32_t>(SampleFormatConverter::toInt24(sample)) << 8);
    case BwfFileWriter::Int32: return SampleFormatConverter::toInt32(sample);
    case BwfFileWriter::Float32: break;
    }
    return 0;
}

void expectSamplesReadBack(SNDFILE* file, BwfFileWriter::SampleFormat format)
{
    std::vector<float> floats(static_cast<size_t>(kFrames) * kChannels);
    std::vector<int32_t> ints(floats.size());
    if (format == BwfFileWriter::Float32)
        ASSERT_EQ(sf_readf_float(file, floats.data(), kFrames), kFrames);
    else
        ASSERT_EQ(sf_readf_int(file, ints.data(), kFrames), kFrames);
    int mismatches = 0;
    for (int f = 0; f < kFrames; ++f) {
        for (int c = 0; c < kChannels; ++c) {
            const size_t i = static_cast<size_t>(f) * kChannels + static_cast<size_t>(c);
            const bool same = format == BwfFileWriter::Float32 ? floats[i] == sampleAt(f, c)
                                                                : ints[i] == expectedSndfileInt(format, sampleAt(f, c));
            if (!same && ++mismatches <= 3)
                ADD_FAILURE() << "frame " << f << " channel " << c;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST_F(BwfFileWriterToolsTest, LibsndfileReadsFramesFormatBroadcastInfoAndSamples)
{
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(c.ffprobeCodec);
        const std::string path = writeTake(c.format);
        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.frames, kFrames);
        EXPECT_EQ(info.channels, kChannels);
        EXPECT_EQ(info.samplerate, kSampleRate);
        EXPECT_EQ(info.format, SF_FORMAT_RF64 | c.sndfileSubtype);

        SF_BROADCAST_INFO bext{};
        ASSERT_EQ(sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
        EXPECT_EQ(std::string(bext.description, strnlen(bext.description, sizeof bext.description)),
                  "aUBITS=$10203012\naSCENE=12A\naTAKE=3\naTAPE=R01\naSPEED=025.000-ND\naTAG=Night & Day\n"
                  "aNOTE=<plane> overhead & \"wind\" 'gusts'\naTRK1=MIX\naTRK2=Boom <1>\n");
        EXPECT_EQ(std::string(bext.originator, strnlen(bext.originator, 32)), "Tonvale");
        EXPECT_EQ(std::string(bext.originator_reference, strnlen(bext.originator_reference, 32)), "TVL0001");
        EXPECT_EQ(std::string(bext.origination_date, 10), "2026-01-02");
        EXPECT_EQ(std::string(bext.origination_time, 8), "03:04:05");
        EXPECT_EQ(bext.time_reference_low, static_cast<uint32_t>(kTimeReference));
        EXPECT_EQ(bext.time_reference_high, 0u);
        EXPECT_EQ(bext.version, 1);
        EXPECT_EQ(std::string(bext.coding_history, bext.coding_history_size).c_str(),
                  "A=PCM,F=48000,W=" + std::to_string(c.bits) + ",M=multi,R=48000,T=3 Ch\r\n");

        expectSamplesReadBack(file, c.format);
        sf_close(file);
    }
}

TEST_F(BwfFileWriterToolsTest, SndfileInfoSeesTheClosedSizes)
{
    TONVALE_REQUIRE_TOOL("sndfile-info");
    const std::string path = writeTake(BwfFileWriter::Int24);
    const ToolResult result = runTool(findTool("sndfile-info"), {QString::fromStdString(path)});
    ASSERT_EQ(result.exitCode, 0) << result.standardError.toStdString();
    const std::string out = result.standardOutput.toStdString();
    const size_t dataBytes = size_t{kFrames} * kChannels * 3;
    EXPECT_NE(out.find("Data size : " + std::to_string(dataBytes)), std::string::npos) << out;
    EXPECT_NE(out.find("Frames    : " + std::to_string(kFrames)), std::string::npos) << out;
    EXPECT_NE(out.find("Frames      : " + std::to_string(kFrames)), std::string::npos) << out;
    EXPECT_NE(out.find("Bit Width     : 24"), std::string::npos) << out;
}

TEST_F(BwfFileWriterToolsTest, MediainfoSeesRf64WaveWithBext)
{
    TONVALE_REQUIRE_TOOL("mediainfo");
    for (const FormatCase& c : kFormats) {
        SCOPED_TRACE(c.ffprobeCodec);
        const std::string path = writeTake(c.format);
        const QJsonArray tracks =
            runJson("mediainfo", {"--Output=JSON", QString::fromStdString(path)})["media"].toObject()["track"].toArray();
        ASSERT_GE(tracks.size(), 2);
        const QJsonObject general = tracks.at(0).toObject();
        const QJsonObject audio = tracks.at(1).toObject();
        EXPECT_EQ(text(general["Format"]), "Wave");
        EXPECT_EQ(text(general["Format_Profile"]), "RF64");
        EXPECT_EQ(text(general["Producer"]), "Tonvale");
        EXPECT_EQ(text(general["extra"].toObject()["bext_Present"]), "Yes");
        EXPECT_NE(text(general["Description"]).find("aSCENE=12A"), std::string::npos);
        EXPECT_EQ(text(audio["Format"]), c.mediainfoFormat);
        EXPECT_EQ(text(audio["Channels"]), "3");
        EXPECT_EQ(text(audio["SamplingRate"]), "48000");
        EXPECT_EQ(text(audio["SamplingCount"]), std::to_string(kFrames));
        EXPECT_EQ(text(audio["BitDepth"]), std::to_string(c.bits));
        EXPECT_NEAR(audio["Delay"].toString().toDouble(), double(kTimeReference) / kSampleRate, 1e-3);
    }
}

// The iXML chunk follows the bext chunk; its document is checked as XML and
// its NOTE read back through xmllint, which undoes the escaping.
TEST_F(BwfFileWriterToolsTest, IxmlChunkIsWellFormedAndCarriesTheTextsUnchanged)
{
    TONVALE_REQUIRE_TOOL("xmllint");
    BwfFileWriter::BextChunk record = takeRecord();
    record.scene = "A&B<C>";
    record.note += "\x01\x1f end";
    const std::string path = home_.pathStd() + "/markup.wav";
    BwfFileWriter writer;
    writer.setBextChunk(record);
    ASSERT_TRUE(writer.open(path, kSampleRate, 1, BwfFileWriter::Int24));
    ASSERT_TRUE(writer.close());

    const WrittenFile f = WrittenFile::load(path);
    ASSERT_EQ(f.text(48, 4), "bext");
    const size_t bextBytes = 8 + f.u32(52);
    const size_t ixml = 48 + bextBytes + bextBytes % 2;
    ASSERT_EQ(f.text(ixml, 4), "iXML");
    const std::string xmlPath = home_.pathStd() + "/take.xml";
    std::ofstream(xmlPath, std::ios::binary) << f.text(ixml + 8, f.u32(ixml + 4));

    const QString xmllint = findTool("xmllint");
    const ToolResult check = runTool(xmllint, {"--noout", QString::fromStdString(xmlPath)});
    EXPECT_EQ(check.exitCode, 0) << check.standardError.toStdString();

    const std::pair<const char*, std::string> fields[] = {
        {"string(/BWFXML/SCENE)", "A&B<C>"},
        {"string(/BWFXML/NOTE)", "<plane> overhead & \"wind\" 'gusts' end"},
        {"string(/BWFXML/PROJECT)", "Night & Day"},
        {"string(/BWFXML/TRACK_LIST/TRACK[2]/NAME)", "Boom <1>"},
        {"string(/BWFXML/SPEED/TIMECODE_RATE)", "25/1"},
        {"string(/BWFXML/BEXT/BWF_TIME_REFERENCE_LOW)", std::to_string(kTimeReference)},
    };
    for (const auto& [xpath, expected] : fields) {
        const ToolResult read = runTool(xmllint, {"--xpath", xpath, QString::fromStdString(xmlPath)});
        EXPECT_EQ(read.standardOutput.toStdString(), expected + "\n") << xpath;
    }
}

// Whether the bext body and the iXML document would have an odd length
// without the writer's evening-out decides whether a pad byte would follow
// them; libsndfile 1.2.0 does not skip such a pad byte in RF64 and then finds
// no "data". The cases cover all four combinations.
struct MetadataParityCase {
    const char* name;
    int channels;
    BwfFileWriter::SampleFormat format;
    const char* note;
};

const MetadataParityCase kParityCases[] = {
    {"mono_odd_bext_odd_ixml", 1, BwfFileWriter::Int24, ""},
    {"mono_odd_bext_even_ixml", 1, BwfFileWriter::Int24, "x"},
    {"stereo_even_bext_odd_ixml", 2, BwfFileWriter::Float32, ""},
    {"stereo_even_bext_even_ixml", 2, BwfFileWriter::Int24, "x"},
    {"poly33_odd_bext_odd_ixml", 33, BwfFileWriter::Int16, ""},
};

constexpr int kParityFrames = 1001;

BwfFileWriter::BextChunk parityRecord(const MetadataParityCase& c)
{
    BwfFileWriter::BextChunk record;
    record.originationDate = "2026-01-02";
    record.originationTime = "03:04:05";
    record.scene = "7";
    record.note = c.note;
    return record;
}

std::pair<bool, bool> naturalParity(const MetadataParityCase& c)
{
    const BwfFileWriter::BextChunk record = parityRecord(c);
    const int bits = BwfFileWriter::bitsPerSample(c.format);
    const size_t bextBody = 602 + BwfChunkBuilder::composeCodingHistory({kSampleRate, bits, c.channels}).size() + 1;
    const std::string document = BwfChunkBuilder::composeIxmlDocument(record);
    const size_t ixmlBody = document.rfind("</BWFXML>\n") + 10;
    return {bextBody % 2 != 0, ixmlBody % 2 != 0};
}

// The metadata chunks of a file we wrote, found by walking from ds64.
struct MetadataChunks {
    size_t bext = 0;
    size_t ixml = 0;
    size_t fmt = 0;
};

MetadataChunks walkMetadataChunks(const WrittenFile& f)
{
    MetadataChunks chunks;
    chunks.bext = 48;
    EXPECT_EQ(f.text(chunks.bext, 4), "bext");
    EXPECT_EQ(f.u32(chunks.bext + 4) % 2, 0u) << "bext body must be even: no pad byte";
    chunks.ixml = chunks.bext + 8 + f.u32(chunks.bext + 4);
    EXPECT_EQ(f.text(chunks.ixml, 4), "iXML") << "iXML must follow the counted bext body directly";
    EXPECT_EQ(f.u32(chunks.ixml + 4) % 2, 0u) << "iXML body must be even: no pad byte";
    chunks.fmt = chunks.ixml + 8 + f.u32(chunks.ixml + 4);
    EXPECT_EQ(f.text(chunks.fmt, 4), "fmt ") << "fmt must follow the counted iXML body directly";
    return chunks;
}

class MetadataParityTest : public BwfFileWriterToolsTest {
protected:
    std::string writeParityTake(const MetadataParityCase& c)
    {
        const std::string path = home_.pathStd() + "/" + c.name + ".wav";
        BwfFileWriter writer;
        writer.setBextChunk(parityRecord(c));
        EXPECT_TRUE(writer.open(path, kSampleRate, c.channels, c.format)) << writer.lastError();
        std::vector<float> samples(static_cast<size_t>(kParityFrames) * c.channels);
        for (size_t i = 0; i < samples.size(); ++i)
            samples[i] = static_cast<float>(std::sin(0.003 * static_cast<double>(i)));
        EXPECT_TRUE(writer.writeFrames(samples.data(), kParityFrames));
        EXPECT_TRUE(writer.close()) << writer.lastError();
        return path;
    }
};

TEST_F(MetadataParityTest, EveryMetadataLengthOpensInLibsndfileAndOurReader)
{
    std::set<std::pair<bool, bool>> parities;
    for (const MetadataParityCase& c : kParityCases) {
        SCOPED_TRACE(c.name);
        parities.insert(naturalParity(c));
        const std::string path = writeParityTake(c);
        const WrittenFile f = WrittenFile::load(path);
        walkMetadataChunks(f);

        SF_INFO info{};
        SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
        ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
        EXPECT_EQ(info.frames, kParityFrames);
        EXPECT_EQ(info.channels, c.channels);
        SF_BROADCAST_INFO bext{};
        ASSERT_EQ(sf_command(file, SFC_GET_BROADCAST_INFO, &bext, sizeof bext), SF_TRUE);
        const int bits = BwfFileWriter::bitsPerSample(c.format);
        EXPECT_EQ(std::string(bext.coding_history, strnlen(bext.coding_history, bext.coding_history_size)),
                  BwfChunkBuilder::composeCodingHistory({kSampleRate, bits, c.channels}));
        EXPECT_EQ(std::string(bext.description, strnlen(bext.description, sizeof bext.description)),
                  std::string("aSCENE=7\n") + (*c.note ? "aNOTE=x\n" : ""));
        sf_close(file);

        WavFileReader reader;
        ASSERT_TRUE(reader.open(path)) << reader.getLastError();
        EXPECT_EQ(reader.getTotalFrames(), kParityFrames);
        EXPECT_EQ(reader.getChannels(), c.channels);
        EXPECT_EQ(static_cast<size_t>(reader.getDataStartOffset()), walkMetadataChunks(f).fmt + 24 + 8);
    }
    EXPECT_EQ(parities.size(), 4u) << "the cases must cover odd and even bext and iXML lengths";
}

TEST_F(MetadataParityTest, EveryMetadataLengthReadsInSndfileInfoFfprobeMediainfoAndXmllint)
{
    TONVALE_REQUIRE_TOOL("sndfile-info");
    TONVALE_REQUIRE_TOOL("ffprobe");
    TONVALE_REQUIRE_TOOL("mediainfo");
    TONVALE_REQUIRE_TOOL("xmllint");
    for (const MetadataParityCase& c : kParityCases) {
        SCOPED_TRACE(c.name);
        const std::string path = writeParityTake(c);
        const QString qpath = QString::fromStdString(path);

        const ToolResult info = runTool(findTool("sndfile-info"), {qpath});
        EXPECT_EQ(info.exitCode, 0) << info.standardError.toStdString();
        const std::string infoText = info.standardOutput.toStdString();
        EXPECT_EQ(infoText.find("Error"), std::string::npos) << infoText;
        EXPECT_NE(infoText.find("Frames      : " + std::to_string(kParityFrames)), std::string::npos) << infoText;

        const QJsonObject probe = runJson("ffprobe", {"-v", "error", "-print_format", "json", "-show_streams", qpath});
        const QJsonObject stream = probe["streams"].toArray().at(0).toObject();
        EXPECT_EQ(stream["channels"].toInt(), c.channels);
        EXPECT_EQ(stream["duration_ts"].toInteger(), kParityFrames);

        const QJsonArray tracks = runJson("mediainfo", {"--Output=JSON", qpath})["media"].toObject()["track"].toArray();
        ASSERT_GE(tracks.size(), 2);
        EXPECT_EQ(text(tracks.at(1).toObject()["SamplingCount"]), std::to_string(kParityFrames));
        EXPECT_EQ(text(tracks.at(0).toObject()["extra"].toObject()["bext_Present"]), "Yes");

        const WrittenFile f = WrittenFile::load(path);
        const MetadataChunks chunks = walkMetadataChunks(f);
        const std::string xmlPath = home_.pathStd() + "/" + c.name + ".xml";
        std::ofstream(xmlPath, std::ios::binary) << f.text(chunks.ixml + 8, f.u32(chunks.ixml + 4));
        const ToolResult lint = runTool(findTool("xmllint"), {"--xpath", "string(/BWFXML/SCENE)", QString::fromStdString(xmlPath)});
        EXPECT_EQ(lint.exitCode, 0) << lint.standardError.toStdString();
        EXPECT_EQ(lint.standardOutput.toStdString(), "7\n");
    }
}

} // namespace
