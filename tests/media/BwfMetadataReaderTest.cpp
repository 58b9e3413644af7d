// The metadata reader on takes our writer made (checked against libsndfile
// and ffprobe) and on hand-built files for the precedence rules between bext,
// iXML and the Description, and for damaged chunk sizes.

#include "MediaTestFiles.h"
#include "MetadataTestFiles.h"
#include "WavBytes.h"
#include "media/BextFields.h"
#include "media/BwfChunkBuilder.h"
#include "media/BwfMetadataReader.h"
#include "media/CantarMetadataParser.h"
#include "media/Ds64Chunk.h"
#include "media/LittleEndianBytes.h"
#include "support/ExternalTool.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <ctime>
#include <functional>
#include <iostream>
#include <filesystem>

namespace {

constexpr int kSampleRate = 48000;
constexpr uint64_t kTimeReference = 1787063040;  // 10:20:30:12 at 25 fps

class BwfMetadataReaderTest : public ::testing::Test {
protected:
    std::string pathFor(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }

    BwfMetadata readBytes(const std::vector<uint8_t>& bytes)
    {
        const std::string path = pathFor("fixture.wav");
        EXPECT_TRUE(writeFileBytes(path, bytes));
        return BwfMetadataReader::readMetadata(path);
    }

    QTemporaryDir dir_;
};

// ---------------------------------------------------------------- our takes

struct TimecodeCase {
    const char* name;
    uint64_t timeReference;
    double frameRate;
    bool dropFrame;
    uint32_t timestampSampleRate;
    double expectedFrameRate;  // as the iXML rate text gives it back
};

const TimecodeCase kTimecodes[] = {
    {"no timecode", 0, 0.0, false, 0, 0.0},
    {"25 fps", kTimeReference, 25.0, false, kSampleRate, 25.0},
    {"29.97 drop frame", kTimeReference, 29.97, true, 48048, 30000.0 / 1001.0},
};

struct LayoutCase {
    const char* name;
    int channels;
    std::vector<std::string> trackNames;
};

const LayoutCase kLayouts[] = {
    {"polyphonic", 3, {"MIX", "Boom & <1>", "Lav"}},
    {"mono", 1, {"Boom"}},
};

const BwfFileWriter::SampleFormat kSampleFormats[] = {BwfFileWriter::Int16, BwfFileWriter::Int24,
                                                      BwfFileWriter::Int32, BwfFileWriter::Float32};

BwfFileWriter::BextChunk takeRecord(const TimecodeCase& timecode, const LayoutCase& layout)
{
    BwfFileWriter::BextChunk record;
    record.originatorReference = "TVL0001";
    record.originationDate = "2026-01-02";
    record.originationTime = "03:04:05";
    record.timeReference = timecode.timeReference;
    record.frameRate = timecode.frameRate;
    record.dropFrame = timecode.dropFrame;
    record.timestampSampleRate = timecode.timestampSampleRate;
    record.project = "Night & Day";
    record.scene = "12A";
    record.take = "3";
    record.tape = "R01";
    record.note = "Lav & boom <off>";
    record.circled = true;
    record.trackNames = layout.trackNames;
    return record;
}

void expectTake(const BwfMetadata& read, const BwfFileWriter::BextChunk& record, const TimecodeCase& timecode,
                const LayoutCase& layout, BwfFileWriter::SampleFormat format, const std::string& path)
{
    const int bits = BwfFileWriter::bitsPerSample(format);
    EXPECT_EQ(read.sampleRate, uint32_t{kSampleRate});
    EXPECT_EQ(read.channels, layout.channels);
    EXPECT_EQ(read.bitsPerSample, bits);
    EXPECT_TRUE(read.isRF64);
    EXPECT_EQ(read.timeReference, timecode.timeReference);
    EXPECT_EQ(read.timestampSampleRate, timecode.timestampSampleRate);
    EXPECT_NEAR(read.frameRate, timecode.expectedFrameRate, 1e-9);
    EXPECT_EQ(read.dropFrame, timecode.dropFrame);
    EXPECT_EQ(read.description, BwfChunkBuilder::composeDescription(record).substr(0, 255));
    EXPECT_EQ(read.originator, "Tonvale");
    EXPECT_EQ(read.originatorReference, "TVL0001");
    EXPECT_EQ(read.originationDate, "2026-01-02");
    EXPECT_EQ(read.originationTime, "03:04:05");
    EXPECT_EQ(read.bextVersion, 1);
    EXPECT_EQ(read.umid, std::string(128, '0'));
    EXPECT_EQ(read.codingHistory,
              BwfChunkBuilder::composeCodingHistory({kSampleRate, bits, layout.channels}));
    // The take writer puts user bits only in the Description.
    EXPECT_EQ(read.userBits, CantarMetadataParser::parseDescription(read.description).userBits);
    EXPECT_EQ(read.userBits.empty(), timecode.timeReference == 0);
    EXPECT_TRUE(read.circled);
    EXPECT_FALSE(read.wildTrack);
    EXPECT_EQ(read.scene, "12A");
    EXPECT_EQ(read.project, "Night & Day");
    EXPECT_EQ(read.tape, "R01");
    EXPECT_EQ(read.take, "3");
    EXPECT_EQ(read.note, "Lav & boom <off>");
    ASSERT_EQ(read.tracks.size(), layout.trackNames.size());
    for (size_t i = 0; i < read.tracks.size(); ++i) {
        EXPECT_EQ(read.tracks[i].channelIndex, static_cast<int>(i) + 1);
        EXPECT_EQ(read.tracks[i].name, layout.trackNames[i]);
        EXPECT_EQ(read.tracks[i].function, layout.trackNames[i] == "MIX" ? "Mix" : "Single");
    }
    EXPECT_DOUBLE_EQ(read.durationSeconds, double(kMetadataTakeFrames) / kSampleRate);
    EXPECT_EQ(read.fileName, std::filesystem::path(path).filename().string());
    EXPECT_EQ(read.fileSize, std::filesystem::file_size(path));
}

// libsndfile and ffprobe read the same bext fields as we do.
void expectToolsAgree(const BwfMetadata& read, const std::string& path)
{
    const SndfileBext sndfile = readSndfileBext(path);
    ASSERT_TRUE(sndfile.read);
    EXPECT_EQ(sndfile.description, read.description);
    EXPECT_EQ(sndfile.originator, read.originator);
    EXPECT_EQ(sndfile.originatorReference, read.originatorReference);
    EXPECT_EQ(sndfile.originationDate, read.originationDate);
    EXPECT_EQ(sndfile.originationTime, read.originationTime);
    EXPECT_EQ(sndfile.timeReference, read.timeReference);
    EXPECT_EQ(sndfile.version, read.bextVersion);
    EXPECT_EQ(sndfile.codingHistory, read.codingHistory);
    if (findTool("ffprobe").isEmpty())
        return;
    const FfprobeTags tags = readFfprobeTags(path);
    ASSERT_TRUE(tags.read);
    EXPECT_EQ(tags.comment, read.description);
    EXPECT_EQ(tags.encodedBy, read.originator);
    EXPECT_EQ(tags.originatorReference, read.originatorReference);
    EXPECT_EQ(tags.date, read.originationDate);
    EXPECT_EQ(tags.creationTime, read.originationTime);
    EXPECT_EQ(tags.timeReference, std::to_string(read.timeReference));
    EXPECT_EQ(tags.codingHistory, read.codingHistory);
}

TEST_F(BwfMetadataReaderTest, OurTakesReadBackAsWrittenAndAsToolsSeeThem)
{
    if (findTool("ffprobe").isEmpty())
        std::cout << "[ NOTE ] ffprobe is not installed; only libsndfile checks the bext fields\n";
    for (const LayoutCase& layout : kLayouts) {
        for (const TimecodeCase& timecode : kTimecodes) {
            for (const BwfFileWriter::SampleFormat format : kSampleFormats) {
                SCOPED_TRACE(std::string(layout.name) + ", " + timecode.name + ", format " + std::to_string(format));
                const std::string path = pathFor("take.wav");
                const BwfFileWriter::BextChunk record = takeRecord(timecode, layout);
                ASSERT_TRUE(writeMetadataTake(path, record, kSampleRate, layout.channels, format));
                const BwfMetadata read = BwfMetadataReader::readMetadata(path);
                expectTake(read, record, timecode, layout, format, path);
                expectToolsAgree(read, path);
            }
        }
    }
}

TEST_F(BwfMetadataReaderTest, MissingPathThrowsTheFileSystemError)
{
    EXPECT_THROW(BwfMetadataReader::readMetadata(pathFor("absent.wav")), std::filesystem::filesystem_error);
}

// ---------------------------------------------------------- byte fixtures

struct BextFixture {
    std::string description = "aSCENE=D1\naTAKE=D2\naTAPE=D3\naNOTE=D4\naTRK1=DescTrack\n";
    std::string originationTime = "10:00:00";
    uint64_t timeReference = 480000;
    std::string umid;  // raw bytes; empty: zeros
    std::string codingHistory;
};

std::string bextBody(const BextFixture& fixture)
{
    std::vector<uint8_t> bytes;
    LittleEndianBytes::appendFixedText(bytes, fixture.description, 256);
    LittleEndianBytes::appendFixedText(bytes, "Other", 32);
    LittleEndianBytes::appendFixedText(bytes, "REF", 32);
    LittleEndianBytes::appendFixedText(bytes, "2025-05-06", 10);
    LittleEndianBytes::appendFixedText(bytes, fixture.originationTime, 8);
    LittleEndianBytes::append64(bytes, fixture.timeReference);
    LittleEndianBytes::append16(bytes, 2);
    LittleEndianBytes::appendFixedText(bytes, fixture.umid, 64);
    bytes.resize(bytes.size() + 190, 0);
    LittleEndianBytes::appendText(bytes, fixture.codingHistory);
    return std::string(bytes.begin(), bytes.end());
}

// A RIFF file with the given bext and iXML bodies (either may be absent).
std::vector<uint8_t> wavWith(const std::string* bext, const std::string* ixml, bool rf64 = false)
{
    WavBytes wav = WavBytes::form(rf64, 48 * 2);
    if (bext)
        wav.chunk("bext", *bext);
    if (ixml)
        wav.chunk("iXML", *ixml);
    wav.fmt(1, 2, kSampleRate, 16).id("data").u32(rf64 ? 0xFFFFFFFFu : 48 * 2).raw(std::vector<uint8_t>(48 * 2, 7));
    return wav.bytes;
}

std::string document(const std::string& inner)
{
    return "<?xml version=\"1.0\"?>\n<BWFXML>\n" + inner + "</BWFXML>\n";
}

TEST_F(BwfMetadataReaderTest, PrecedenceAndEdgeCasesOfBextIxmlAndDescription)
{
    const std::string speedZero =
        "<SPEED><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>0</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"
        "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>0</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED>";
    const std::string speedPair =
        "<SPEED><TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>1</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>"
        "<TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>5</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO></SPEED>";
    const std::string bextZero =
        "<BEXT><BWF_TIME_REFERENCE_HIGH>0</BWF_TIME_REFERENCE_HIGH><BWF_TIME_REFERENCE_LOW>0</BWF_TIME_REFERENCE_LOW></BEXT>";
    const std::string bextPair = "<BEXT><BWF_TIME_REFERENCE_LOW>777</BWF_TIME_REFERENCE_LOW></BEXT>";
    std::vector<std::pair<std::string, std::function<void(const BwfMetadata&)>>> ixmlCases = {
        {speedZero, [](const BwfMetadata& m) { EXPECT_EQ(m.timeReference, 0u); }},
        {bextZero, [](const BwfMetadata& m) { EXPECT_EQ(m.timeReference, 480000u); }},
        {speedPair, [](const BwfMetadata& m) { EXPECT_EQ(m.timeReference, (1ull << 32) | 5); }},
        {speedPair + bextPair, [](const BwfMetadata& m) { EXPECT_EQ(m.timeReference, 777u); }},
        {"<SPEED><TIMECODE_RATE>24000/1001</TIMECODE_RATE></SPEED>",
         [](const BwfMetadata& m) {
             EXPECT_NEAR(m.frameRate, 24000.0 / 1001.0, 1e-12);
             EXPECT_EQ(m.timestampSampleRate, 48048u);
         }},
        {"<SPEED><TIMECODE_RATE>25</TIMECODE_RATE></SPEED>",
         [](const BwfMetadata& m) {
             EXPECT_EQ(m.frameRate, 25.0);
             EXPECT_EQ(m.timestampSampleRate, 0u);
         }},
        {"<SPEED><TIMECODE_RATE>25/0</TIMECODE_RATE></SPEED>", [](const BwfMetadata& m) { EXPECT_EQ(m.frameRate, 0.0); }},
        {"<SPEED><TIMESTAMP_SAMPLE_RATE>48000</TIMESTAMP_SAMPLE_RATE><TIMECODE_RATE>30000/1001</TIMECODE_RATE></SPEED>",
         [](const BwfMetadata& m) { EXPECT_EQ(m.timestampSampleRate, 48000u); }},
        {"<SPEED><TIMECODE_FLAG>DF</TIMECODE_FLAG></SPEED>", [](const BwfMetadata& m) { EXPECT_TRUE(m.dropFrame); }},
        {"<SPEED><TIMECODE_FLAG>df</TIMECODE_FLAG></SPEED>", [](const BwfMetadata& m) { EXPECT_TRUE(m.dropFrame); }},
        {"<SPEED><TIMECODE_FLAG>Df</TIMECODE_FLAG></SPEED>", [](const BwfMetadata& m) { EXPECT_FALSE(m.dropFrame); }},
        {"<SPEED><TIMECODE_FLAG>drop</TIMECODE_FLAG></SPEED>", [](const BwfMetadata& m) { EXPECT_FALSE(m.dropFrame); }},
        {"<SPEED><TIMECODE_FLAG>NDF</TIMECODE_FLAG></SPEED>", [](const BwfMetadata& m) { EXPECT_FALSE(m.dropFrame); }},
        {"<CIRCLED>true</CIRCLED>", [](const BwfMetadata& m) { EXPECT_TRUE(m.circled); }},
        {"<CIRCLED>True</CIRCLED>", [](const BwfMetadata& m) { EXPECT_TRUE(m.circled); }},
        {"<CIRCLED>1</CIRCLED><WILD_TRACK>TRUE</WILD_TRACK>",
         [](const BwfMetadata& m) {
             EXPECT_TRUE(m.circled);
             EXPECT_TRUE(m.wildTrack);
         }},
        {"<CIRCLED>YES</CIRCLED>", [](const BwfMetadata& m) { EXPECT_FALSE(m.circled); }},
        {"<CIRCLED></CIRCLED>", [](const BwfMetadata& m) { EXPECT_FALSE(m.circled); }},
        {"<SPEED><NOTE></NOTE></SPEED><NOTE>later</NOTE>", [](const BwfMetadata& m) { EXPECT_EQ(m.note, "D4"); }},
        {"<SCENE>X1</SCENE><TAKE>X2</TAKE><TAPE>X3</TAPE><NOTE>  X4\n</NOTE><PROJECT>P</PROJECT><UBITS>01020304</UBITS>",
         [](const BwfMetadata& m) {
             EXPECT_EQ(m.scene, "X1");
             EXPECT_EQ(m.take, "X2");
             EXPECT_EQ(m.tape, "X3");
             EXPECT_EQ(m.note, "X4");
             EXPECT_EQ(m.project, "P");
             EXPECT_EQ(m.userBits, "$01020304");
         }},
        {"<scene>lower</scene><Take>mixed</Take>",
         [](const BwfMetadata& m) {
             EXPECT_EQ(m.scene, "lower");
             EXPECT_EQ(m.take, "D2");  // mixed-case names are not matched
         }},
        {"<NOTE>Lav &amp; boom &lt;off&gt; &#38;&#x3C;&quot;&apos;&#233; &bogus; &#0; &</NOTE>",
         [](const BwfMetadata& m) { EXPECT_EQ(m.note, "Lav & boom <off> &<\"'\xC3\xA9 &bogus; &#0; &"); }},
        {"<TRACK_LIST><TRACK><NAME>A</NAME></TRACK><TRACK><NAME>B</NAME></TRACK>"
         "<TRACK><CHANNEL_INDEX>7</CHANNEL_INDEX><NAME>C</NAME><FUNCTION>Lav</FUNCTION></TRACK></TRACK_LIST>",
         // A TRACK's fields come from that TRACK, never from a later one.
         [](const BwfMetadata& m) {
             ASSERT_EQ(m.tracks.size(), 3u);
             EXPECT_EQ(m.tracks[0].channelIndex, 1);
             EXPECT_EQ(m.tracks[1].channelIndex, 2);
             EXPECT_EQ(m.tracks[1].name, "B");
             EXPECT_EQ(m.tracks[1].function, "");
             EXPECT_EQ(m.tracks[2].channelIndex, 7);
             EXPECT_EQ(m.tracks[2].function, "Lav");
         }},
        {"<TRACK_LIST><TRACK><NAME>A</NAME></TRACK>",
         [](const BwfMetadata& m) {
             ASSERT_EQ(m.tracks.size(), 1u);
             EXPECT_EQ(m.tracks[0].name, "DescTrack");
             EXPECT_TRUE(m.tracks[0].function.empty());
         }},
        {"<TrackList><TRACK><NAME>T</NAME></TRACK></TrackList>",
         [](const BwfMetadata& m) {
             ASSERT_EQ(m.tracks.size(), 1u);
             EXPECT_EQ(m.tracks[0].name, "T");
         }},
        {"<TrackList><Track><NAME>T</NAME></Track></TrackList>",
         [](const BwfMetadata& m) {
             ASSERT_EQ(m.tracks.size(), 1u);
             EXPECT_EQ(m.tracks[0].name, "DescTrack");
         }},
        {"", [](const BwfMetadata& m) {
             EXPECT_EQ(m.scene, "D1");
             EXPECT_EQ(m.take, "D2");
             EXPECT_EQ(m.tape, "D3");
             EXPECT_EQ(m.note, "D4");
         }},
    };
    for (size_t i = 0; i < ixmlCases.size(); ++i) {
        SCOPED_TRACE(ixmlCases[i].first);
        const std::string bext = bextBody(BextFixture{});
        const std::string ixml = document(ixmlCases[i].first);
        ixmlCases[i].second(readBytes(wavWith(&bext, &ixml)));
    }
}

TEST_F(BwfMetadataReaderTest, BextFieldsAndTheirLimits)
{
    {
        SCOPED_TRACE("origination time with dashes: bext refuses, iXML fills");
        BextFixture fixture;
        fixture.originationTime = "12-30-00";
        const std::string bext = bextBody(fixture);
        const std::string ixml = document("<BEXT><BWF_ORIGINATION_TIME>12-30-00</BWF_ORIGINATION_TIME></BEXT>");
        EXPECT_EQ(readBytes(wavWith(&bext, nullptr)).originationTime, "");
        EXPECT_EQ(readBytes(wavWith(&bext, &ixml)).originationTime, "12:30:00");
    }
    {
        SCOPED_TRACE("bext time reference above the limit ignored; iXML time only fills an empty one");
        BextFixture fixture;
        fixture.timeReference = 25'000'000'000ull;
        const std::string bext = bextBody(fixture);
        const std::string ixml = document("<BEXT><BWF_ORIGINATION_TIME>11:11:11</BWF_ORIGINATION_TIME></BEXT>");
        const BwfMetadata read = readBytes(wavWith(&bext, &ixml));
        EXPECT_EQ(read.timeReference, 0u);
        EXPECT_EQ(read.originationTime, "10:00:00");
    }
    {
        SCOPED_TRACE("umid bytes, coding history up to its NUL, other fields");
        BextFixture fixture;
        fixture.umid = std::string("\x01\xAB\xff", 3);
        fixture.codingHistory = std::string("A=PCM,F=48000\r\n") + '\0';
        const std::string bext = bextBody(fixture);
        const BwfMetadata read = readBytes(wavWith(&bext, nullptr));
        EXPECT_EQ(read.umid, "01abff" + std::string(122, '0'));
        EXPECT_EQ(read.codingHistory, "A=PCM,F=48000\r\n");
        EXPECT_EQ(read.originator, "Other");
        EXPECT_EQ(read.originatorReference, "REF");
        EXPECT_EQ(read.originationDate, "2025-05-06");
        EXPECT_EQ(read.bextVersion, 2);
        EXPECT_EQ(read.timeReference, 480000u);
        EXPECT_EQ(read.description, BextFixture{}.description);
        // Without iXML the Description fills nothing.
        EXPECT_EQ(read.scene, "");
        EXPECT_TRUE(read.tracks.empty());
    }
    {
        SCOPED_TRACE("no bext: empty umid");
        const std::string ixml = document("<SCENE>S</SCENE>");
        const BwfMetadata read = readBytes(wavWith(nullptr, &ixml));
        EXPECT_EQ(read.umid, "");
        EXPECT_EQ(read.scene, "S");
        EXPECT_EQ(read.channels, 2);
        EXPECT_DOUBLE_EQ(read.durationSeconds, 24.0 / kSampleRate);  // 96 bytes of 16-bit stereo
        EXPECT_FALSE(read.isRF64);
    }
}

// Without a rate in iXML the Description's speed gives it, and its d-form the
// timestamp rate; takes written by builds that formatted the speed in the
// user's comma locale read as the same rate.
TEST_F(BwfMetadataReaderTest, DescriptionSpeedGivesTheRateAndInDFormTheTimestampRate)
{
    struct Case {
        const char* speedLine;
        uint32_t expectedTimestampRate;
        double expectedFrameRate;
    };
    const Case kCases[] = {{"dSCENE=1\ndFRAMERATE=23.976FF\n", 48048, 23.976},
                           {"dSCENE=1\ndFRAMERATE=23,976FF\n", 48048, 23.976},
                           {"TS=$01020304\ndFRAMERATE=25.000FF\n", 48000, 25.0},
                           {"aSCENE=1\naSPEED=29.970-ND\n", 0, 29.97},
                           {"aSCENE=1\naSPEED=023,976-ND\n", 0, 23.976}};
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.speedLine);
        BextFixture fixture;
        fixture.description = c.speedLine;
        const std::string bext = bextBody(fixture);
        const std::string ixml = document("");
        const BwfMetadata read = readBytes(wavWith(&bext, &ixml));
        EXPECT_EQ(read.timestampSampleRate, c.expectedTimestampRate);
        EXPECT_DOUBLE_EQ(read.frameRate, c.expectedFrameRate);
    }
}

// Damaged sizes: the reader takes no more than the file holds and never reads
// the next chunk as a field of a short one.
TEST_F(BwfMetadataReaderTest, DamagedChunkSizesStayInsideTheirBodies)
{
    {
        SCOPED_TRACE("bext shorter than its fixed fields");
        const std::string shortBext = bextBody(BextFixture{}).substr(0, 300);
        const std::string ixml = document("<SCENE>S</SCENE>");
        const BwfMetadata read = readBytes(wavWith(&shortBext, &ixml));
        EXPECT_EQ(read.description, BextFixture{}.description);
        EXPECT_EQ(read.originator, "Other");
        EXPECT_EQ(read.originationTime, "");
        EXPECT_EQ(read.timeReference, 0u);
        EXPECT_EQ(read.umid, "");
        EXPECT_EQ(read.scene, "S");
    }
    {
        SCOPED_TRACE("iXML claiming 2 GiB at the end of a small file");
        std::vector<uint8_t> bytes = WavBytes::form(false).fmt(1, 1, kSampleRate, 16).id("data").u32(2).u16(0).bytes;
        const std::string ixml = document("<SCENE>cut</SCENE>");
        WavBytes tail;
        tail.chunk("iXML", ixml, 0x7FFFFFFF);
        bytes.insert(bytes.end(), tail.bytes.begin(), tail.bytes.end());
        EXPECT_EQ(readBytes(bytes).scene, "cut");
    }
    {
        SCOPED_TRACE("unclosed RF64: ds64 sizes 0");
        const std::string bext = bextBody(BextFixture{});
        const std::string ixml = document("<SCENE>S</SCENE>");
        std::vector<uint8_t> bytes = wavWith(&bext, &ixml, true);
        Ds64Chunk::store(bytes.data() + Ds64Chunk::kSizesOffset, {});
        const BwfMetadata read = readBytes(bytes);
        EXPECT_TRUE(read.isRF64);
        EXPECT_EQ(read.durationSeconds, 0.0);
        EXPECT_EQ(read.scene, "S");
        EXPECT_EQ(read.timeReference, 480000u);
        EXPECT_EQ(read.sampleRate, uint32_t{kSampleRate});
    }
    {
        SCOPED_TRACE("not a WAVE file");
        std::vector<uint8_t> bytes = wavWith(nullptr, nullptr);
        bytes[8] = 'X';
        const BwfMetadata read = readBytes(bytes);
        EXPECT_EQ(read.sampleRate, 0u);
        EXPECT_EQ(read.fileSize, bytes.size());
        EXPECT_EQ(read.fileName, "fixture.wav");
    }
}

// An RF64 take above 4 GiB with an iXML chunk after its audio: the walk skips
// the audio by its ds64 size. A 32-bit walk would land inside the samples,
// where this file holds a decoy chunk header.
TEST_F(BwfMetadataReaderTest, Rf64AboveFourGibSkipsTheAudioByItsDs64Size)
{
    constexpr uint64_t kDataBytes = (5ull << 30) + 4;
    std::vector<uint8_t> head = WavBytes::form(true, kDataBytes).fmt(1, 2, kSampleRate, 16).id("data").u32(0xFFFFFFFFu).bytes;
    const uint64_t dataBody = head.size();
    WavBytes decoy;
    decoy.chunk("iXML", document("<SCENE>audio read as a chunk</SCENE>"));
    WavBytes real;
    real.chunk("iXML", document("<SCENE>after the audio</SCENE>"));

    const std::string path = pathFor("big.wav");
    const int fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    auto put = [fd](const std::vector<uint8_t>& bytes, uint64_t offset) {
        return ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) ==
               static_cast<ssize_t>(bytes.size());
    };
    const bool written = put(head, 0) && put(decoy.bytes, dataBody + 0xFFFFFFFFull + 1) &&
                         put(real.bytes, dataBody + kDataBytes);
    ::close(fd);
    if (!written) {
        std::filesystem::remove(path);
        GTEST_SKIP() << "SKIPPED: this file system cannot hold a sparse 5 GiB file";
    }
    const BwfMetadata read = BwfMetadataReader::readMetadata(path);
    EXPECT_EQ(read.scene, "after the audio");
    EXPECT_NEAR(read.durationSeconds, double(kDataBytes / 4) / kSampleRate, 1e-9);

    // Without a ds64 data size the audio's end is unknown: nothing after it is read.
    std::vector<uint8_t> unclosed = head;
    Ds64Chunk::store(unclosed.data() + Ds64Chunk::kSizesOffset, {});
    const int again = ::open(path.c_str(), O_WRONLY);
    ASSERT_GE(again, 0);
    EXPECT_EQ(::pwrite(again, unclosed.data(), unclosed.size(), 0), static_cast<ssize_t>(unclosed.size()));
    ::close(again);
    EXPECT_EQ(BwfMetadataReader::readMetadata(path).scene, "");
    std::filesystem::remove(path);
}

// A card whose iXML lists many flat TRACK elements: every track is read, in
// order, and the parse grows with the document (the timing target is in the
// metadata reader bench; the bound here only catches a parse that went
// quadratic, which took tens of seconds of CPU for this document).
TEST_F(BwfMetadataReaderTest, ManyFlatTracksAreAllReadInOneLinearPass)
{
    constexpr int kTracks = 40'000;
    std::string inner = "<TRACK_LIST>\n";
    for (int i = 1; i <= kTracks; ++i) {
        const std::string index = std::to_string(i);
        // Every fifth track has no CHANNEL_INDEX and no NAME: it must not
        // take the next track's.
        if (i % 5 == 0)
            inner += "<TRACK><FUNCTION>F" + index + "</FUNCTION></TRACK>\n";
        else
            inner += "<TRACK><CHANNEL_INDEX>" + index + "</CHANNEL_INDEX><NAME>N" + index + "</NAME></TRACK>\n";
    }
    inner += "</TRACK_LIST>\n";
    const std::string ixml = document(inner);

    timespec start{};
    timespec end{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &start);
    BwfMetadata read;
    BwfMetadataReader::parseIxml(ixml, read);
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &end);
    const double cpuSeconds = double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) * 1e-9;
    EXPECT_LT(cpuSeconds, 5.0);

    ASSERT_EQ(read.tracks.size(), size_t{kTracks});
    for (const int i : {1, 4, 5, 39'999, 40'000}) {
        SCOPED_TRACE(i);
        const BwfMetadata::TrackInfo& track = read.tracks[static_cast<size_t>(i - 1)];
        EXPECT_EQ(track.channelIndex, i);
        EXPECT_EQ(track.name, i % 5 == 0 ? "" : "N" + std::to_string(i));
        EXPECT_EQ(track.function, i % 5 == 0 ? "F" + std::to_string(i) : "");
    }
    // The same document through a file, as the playback dialog reads it.
    const std::vector<uint8_t> bytes = wavWith(nullptr, &ixml);
    EXPECT_EQ(readBytes(bytes).tracks.size(), size_t{kTracks});
}

// A sample rate no converter can raise by 1001/1000 within 32 bits gives an
// unknown timestamp rate (0), on both paths that derive it; real rates still
// derive theirs.
TEST_F(BwfMetadataReaderTest, PulledDownRatesOfAbsurdSampleRatesAreUnknown)
{
    struct Case {
        const char* name;
        uint32_t sampleRate;
        bool fromDescription;  // else from the iXML TIMECODE_RATE
        uint32_t expected;
    };
    const Case kCases[] = {
        {"iXML x/1001, 48 kHz", 48000, false, 48048},
        {"iXML x/1001, rate 0xFFFFFFFF", 0xFFFFFFFFu, false, 0},
        {"iXML x/1001, highest rate that fits", 4290672328u, false, 4294963000u},
        {"d-form Description, 48 kHz", 48000, true, 48048},
        {"d-form Description, rate 0xFFFFFFFF", 0xFFFFFFFFu, true, 0},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        BextFixture fixture;
        fixture.description = "dSCENE=1\ndFRAMERATE=29.970FF\n";
        const std::string bext = bextBody(fixture);
        const std::string ixml =
            document(c.fromDescription ? "" : "<SPEED><TIMECODE_RATE>30000/1001</TIMECODE_RATE></SPEED>");
        WavBytes wav = WavBytes::form(false);
        wav.chunk("bext", bext).chunk("iXML", ixml);
        wav.id("fmt ").u32(16).u16(1).u16(1).u32(c.sampleRate).u32(0).u16(2).u16(16).id("data").u32(2).u16(0);
        const BwfMetadata read = readBytes(wav.bytes);
        EXPECT_EQ(read.sampleRate, c.sampleRate);
        EXPECT_EQ(read.timestampSampleRate, c.expected);
    }
}

// The duration counts what the file holds, whatever its sizes claim.
TEST_F(BwfMetadataReaderTest, DurationIsClampedToTheSamplesInTheFile)
{
    struct Case {
        const char* name;
        bool rf64;
        uint64_t ds64DataSize;
        uint32_t dataSize;
        size_t samplesInFile;  // 16-bit mono
        double expectedSeconds;
    };
    const Case kCases[] = {
        {"RIFF claiming 5 MB in a 1 KB file", false, 0, 5'000'000, 500, 500.0 / 48000},
        {"RF64 whose ds64 says 2^64 - 2", true, ~uint64_t{1}, 0xFFFFFFFFu, 500, 500.0 / 48000},
        {"RF64 whose ds64 says 2^40", true, uint64_t{1} << 40, 0xFFFFFFFFu, 4800, 0.1},
        {"honest RIFF", false, 0, 9600, 4800, 0.1},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = WavBytes::form(c.rf64, c.ds64DataSize)
                                               .fmt(1, 1, kSampleRate, 16)
                                               .id("data")
                                               .u32(c.dataSize)
                                               .raw(std::vector<uint8_t>(c.samplesInFile * 2, 1))
                                               .bytes;
        EXPECT_DOUBLE_EQ(readBytes(bytes).durationSeconds, c.expectedSeconds);
    }
}

} // namespace
