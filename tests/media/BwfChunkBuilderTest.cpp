#include "media/BwfChunkBuilder.h"
#include "WrittenFile.h"

#include <gtest/gtest.h>

#include <cctype>
#include <functional>
#include <set>
#include <string>

namespace {

using Record = BwfFileWriter::BextChunk;

// bext offsets from the chunk start.
constexpr size_t kDescription = 8;
constexpr size_t kOriginator = 264;
constexpr size_t kOriginatorReference = 296;
constexpr size_t kOriginationDate = 328;
constexpr size_t kOriginationTime = 338;
constexpr size_t kTimeReference = 346;
constexpr size_t kVersion = 354;
constexpr size_t kUmid = 356;
constexpr size_t kCodingHistory = 610;

// 10:20:30 and 12 frames at 25 fps, 48 kHz.
constexpr uint64_t kTimeReference102030 = 1787063040;

// True when text has pattern's shape: '9' stands for any digit, other characters for themselves.
bool hasShape(const std::string& text, const std::string& pattern)
{
    if (text.size() != pattern.size())
        return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool ok = pattern[i] == '9' ? std::isdigit(static_cast<unsigned char>(text[i])) != 0 : text[i] == pattern[i];
        if (!ok)
            return false;
    }
    return true;
}

WrittenFile bextOf(const Record& record, BwfChunkBuilder::FileFormat format = {48000, 24, 33})
{
    return {BwfChunkBuilder::buildBextChunk(record, format)};
}

struct DescriptionCase {
    const char* name;
    std::function<void(Record&)> fill;
    const char* expected;
};

TEST(BwfChunkBuilderTest, DescriptionHoldsOneKeyValueLinePerFieldSet)
{
    const DescriptionCase cases[] = {
        {"empty", [](Record&) {}, ""},
        {"full",
         [](Record& r) {
             r.timeReference = kTimeReference102030;
             r.frameRate = 25.0;
             r.timestampSampleRate = 48000;
             r.scene = "12A";
             r.take = "3";
             r.tape = "R01";
             r.project = "Feature";
             r.note = "plane";
             r.trackNames = {"MIX", "", "Boom"};
         },
         "aUBITS=$10203012\naSCENE=12A\naTAKE=3\naTAPE=R01\naSPEED=025.000-ND\naTAG=Feature\naNOTE=plane\n"
         "aTRK1=MIX\naTRK3=Boom\n"},
        {"midnight start has no user bits",
         [](Record& r) {
             r.frameRate = 23.976;
             r.timestampSampleRate = 48000;
         },
         "aSPEED=023.976-ND\n"},
        {"drop frame still says ND",
         [](Record& r) {
             r.frameRate = 29.97;
             r.dropFrame = true;
         },
         "aSPEED=029.970-ND\n"},
        {"no timestamp rate, no user bits",
         [](Record& r) {
             r.timeReference = kTimeReference102030;
             r.frameRate = 25.0;
         },
         "aSPEED=025.000-ND\n"},
        {"line breaks inside a value cannot forge a line",
         [](Record& r) { r.note = "rain\naSCENE=99\r"; },
         "aNOTE=rain aSCENE=99 \n"},
        {"markup is kept as typed",
         [](Record& r) { r.note = "<wind> & rain"; },
         "aNOTE=<wind> & rain\n"},
    };
    for (const DescriptionCase& c : cases) {
        SCOPED_TRACE(c.name);
        Record record;
        c.fill(record);
        EXPECT_EQ(BwfChunkBuilder::composeDescription(record), c.expected);
        const WrittenFile bext = bextOf(record);
        const std::string expected = c.expected;
        EXPECT_EQ(bext.text(kDescription, expected.size()), expected);
        EXPECT_EQ(bext.text(kDescription + expected.size(), 256 - expected.size()),
                  std::string(256 - expected.size(), '\0'));
    }
}

TEST(BwfChunkBuilderTest, LongDescriptionIsCutTo255BytesAndEndsInNul)
{
    Record record;
    record.note = std::string(300, 'n');
    const WrittenFile bext = bextOf(record);
    EXPECT_EQ(bext.text(kDescription, 255), ("aNOTE=" + record.note).substr(0, 255));
    EXPECT_EQ(bext.bytes[kDescription + 255], 0);
}

TEST(BwfChunkBuilderTest, FixedFieldsFollowTheRecordOrTheirDefaults)
{
    const WrittenFile empty = bextOf(Record{});
    EXPECT_EQ(empty.text(0, 4), "bext");
    EXPECT_EQ(empty.text(kOriginator, 32), "Tonvale" + std::string(25, '\0'));
    EXPECT_EQ(empty.text(kOriginatorReference, 32), std::string(32, '\0'));
    const std::string date = empty.text(kOriginationDate, 10);
    const std::string time = empty.text(kOriginationTime, 8);
    EXPECT_TRUE(hasShape(date, "9999-99-99")) << date;
    EXPECT_TRUE(hasShape(time, "99:99:99")) << time;
    EXPECT_LT(std::stoi(time.substr(0, 2)), 24) << time;
    EXPECT_EQ(empty.u64(kTimeReference), 0u);
    EXPECT_EQ(empty.u16(kVersion), 1u);
    EXPECT_EQ(empty.text(kUmid, 64 + 190), std::string(254, '\0'));

    Record record;
    record.originator = std::string(32, 'o');
    record.originatorReference = std::string(40, 'r');
    record.originationDate = "2026-01-02extra";
    record.originationTime = "03:04:05";
    record.timeReference = 0x123456789ULL;
    record.version = 2;
    const WrittenFile full = bextOf(record);
    EXPECT_EQ(full.text(kOriginator, 32), record.originator); // exactly 32: no NUL left
    EXPECT_EQ(full.text(kOriginatorReference, 32), std::string(32, 'r'));
    EXPECT_EQ(full.text(kOriginationDate, 10), "2026-01-02");
    EXPECT_EQ(full.text(kOriginationTime, 8), "03:04:05");
    EXPECT_EQ(full.u32(kTimeReference), 0x23456789u); // low half first
    EXPECT_EQ(full.u32(kTimeReference + 4), 1u);
    EXPECT_EQ(full.u16(kVersion), 2u);
}

struct CodingHistoryCase {
    BwfChunkBuilder::FileFormat format;
    const char* history;
};

// Chunk bodies are kept even so that no pad byte follows them: libsndfile
// 1.2.0 cannot open an RF64 file with a padded chunk before "data".
TEST(BwfChunkBuilderTest, CodingHistoryDescribesTheFileAndTheBodyStaysEven)
{
    const CodingHistoryCase cases[] = {
        {{48000, 24, 33}, "A=PCM,F=48000,W=24,M=multi,R=48000,T=33 Ch\r\n"}, // 44 bytes: one NUL would leave it odd
        {{48000, 16, 1}, "A=PCM,F=48000,W=16,M=mono,R=48000,T=1 Ch\r\n"},    // 42 bytes: odd too
        {{48000, 24, 2}, "A=PCM,F=48000,W=24,M=multi,R=48000,T=2 Ch\r\n"},   // 43 bytes: one NUL makes it even
        {{192000, 32, 2}, "A=PCM,F=192000,W=32,M=multi,R=192000,T=2 Ch\r\n"},
    };
    for (const CodingHistoryCase& c : cases) {
        SCOPED_TRACE(c.history);
        const WrittenFile bext = bextOf(Record{}, c.format);
        const std::string history = c.history;
        const uint32_t withOneNul = 602 + static_cast<uint32_t>(history.size()) + 1;
        const uint32_t size = withOneNul + withOneNul % 2;
        EXPECT_EQ(bext.u32(4), size);
        EXPECT_EQ(bext.bytes.size(), 8 + size) << "no pad byte after the counted body";
        EXPECT_EQ(bext.text(kCodingHistory, size - 602), history + std::string(size - 602 - history.size(), '\0'));
    }
}

TEST(BwfChunkBuilderTest, EmptyRecordGivesTheMinimalIxmlDocument)
{
    EXPECT_EQ(BwfChunkBuilder::composeIxmlDocument(Record{}),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<BWFXML>\n"
              "  <IXML_VERSION>2.01</IXML_VERSION>\n"
              "  <TAKE_TYPE>TAKE</TAKE_TYPE>\n"
              "  <CIRCLED>FALSE</CIRCLED>\n"
              "  <BEXT>\n"
              "    <BWF_ORIGINATION_DATE></BWF_ORIGINATION_DATE>\n"
              "    <BWF_ORIGINATION_TIME></BWF_ORIGINATION_TIME>\n"
              "  </BEXT>\n"
              "</BWFXML>\n");
}

TEST(BwfChunkBuilderTest, FullRecordGivesEveryIxmlElementInOrder)
{
    Record r;
    r.project = "Feature";
    r.scene = "12A";
    r.take = "3";
    r.tape = "R01";
    r.circled = true;
    r.note = "plane";
    r.frameRate = 29.97;
    r.dropFrame = true;
    r.timestampSampleRate = 48000;
    r.timeReference = (uint64_t{2} << 32) + 5;
    r.originationDate = "2026-01-02";
    r.originationTime = "03:04:05";
    r.trackNames = {"MIX", "", "Mix", "MIX 2"};
    std::string tracks;
    const char* names[] = {"MIX", "", "Mix", "MIX 2"};
    const char* functions[] = {"Mix", "Single", "Single", "Single"};
    for (int i = 0; i < 4; ++i) {
        const std::string n = std::to_string(i + 1);
        tracks += "    <TRACK>\n      <CHANNEL_INDEX>" + n + "</CHANNEL_INDEX>\n      <INTERLEAVE_INDEX>" + n +
                  "</INTERLEAVE_INDEX>\n      <NAME>" + names[i] + "</NAME>\n      <FUNCTION>" + functions[i] +
                  "</FUNCTION>\n    </TRACK>\n";
    }
    EXPECT_EQ(BwfChunkBuilder::composeIxmlDocument(r),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
              "<BWFXML>\n"
              "  <IXML_VERSION>2.01</IXML_VERSION>\n"
              "  <PROJECT>Feature</PROJECT>\n"
              "  <SCENE>12A</SCENE>\n"
              "  <TAKE>3</TAKE>\n"
              "  <TAKE_TYPE>TAKE</TAKE_TYPE>\n"
              "  <TAPE>R01</TAPE>\n"
              "  <CIRCLED>TRUE</CIRCLED>\n"
              "  <NOTE>plane</NOTE>\n"
              "  <SPEED>\n"
              "    <NOTE></NOTE>\n"
              "    <MASTER_SPEED>30000/1001</MASTER_SPEED>\n"
              "    <CURRENT_SPEED></CURRENT_SPEED>\n"
              "    <TIMECODE_FLAG>DF</TIMECODE_FLAG>\n"
              "    <TIMECODE_RATE>30000/1001</TIMECODE_RATE>\n"
              "    <TIMESTAMP_SAMPLE_RATE>48000</TIMESTAMP_SAMPLE_RATE>\n"
              "    <TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>2</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_HI>\n"
              "    <TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>5</TIMESTAMP_SAMPLES_SINCE_MIDNIGHT_LO>\n"
              "  </SPEED>\n"
              "  <BEXT>\n"
              "    <BWF_ORIGINATION_DATE>2026-01-02</BWF_ORIGINATION_DATE>\n"
              "    <BWF_ORIGINATION_TIME>03:04:05</BWF_ORIGINATION_TIME>\n"
              "    <BWF_TIME_REFERENCE_HIGH>2</BWF_TIME_REFERENCE_HIGH>\n"
              "    <BWF_TIME_REFERENCE_LOW>5</BWF_TIME_REFERENCE_LOW>\n"
              "  </BEXT>\n"
              "  <TRACK_LIST>\n" +
                  tracks +
                  "  </TRACK_LIST>\n"
                  "</BWFXML>\n"
                  "\n"); // one line feed more keeps this document's length even
}

TEST(BwfChunkBuilderTest, SpeedWithOnlyATimestampRateHoldsNoteAndRate)
{
    Record r;
    r.timestampSampleRate = 48000;
    const std::string document = BwfChunkBuilder::composeIxmlDocument(r);
    EXPECT_NE(document.find("  <SPEED>\n    <NOTE></NOTE>\n    <TIMESTAMP_SAMPLE_RATE>48000</TIMESTAMP_SAMPLE_RATE>\n"
                            "  </SPEED>\n"),
              std::string::npos)
        << document;
}

TEST(BwfChunkBuilderTest, FrameRatesGetTheirIxmlRateText)
{
    const std::pair<double, const char*> cases[] = {
        {23.976, "24000/1001"}, {24.0, "24/1"},  {25.0, "25/1"},  {29.97, "30000/1001"}, {30.0, "30/1"},
        {59.94, "60000/1001"},  {48.0, "48/1"},  {47.952, "48/1"}, {50.0, "50/1"},       {60.0, "60/1"},
        {23.5, "24/1"},         {24.05, "24/1"}, {12.5, "13/1"},
    };
    for (const auto& [rate, text] : cases)
        EXPECT_EQ(BwfChunkBuilder::ixmlRateText(rate), text) << rate;
}

TEST(BwfChunkBuilderTest, IxmlTextIsEscapedSoTheDocumentStaysWellFormed)
{
    Record r;
    r.scene = "A&B";
    r.note = "<wind> \"gusts\" & 'rain'\x01";
    r.trackNames = {"Boom <1>"};
    const std::string document = BwfChunkBuilder::composeIxmlDocument(r);
    EXPECT_NE(document.find("<SCENE>A&amp;B</SCENE>"), std::string::npos);
    EXPECT_NE(document.find("<NOTE>&lt;wind&gt; \"gusts\" &amp; 'rain'</NOTE>"), std::string::npos) << document;
    EXPECT_NE(document.find("<NAME>Boom &lt;1&gt;</NAME>"), std::string::npos);
}

TEST(BwfChunkBuilderTest, IxmlDocumentIsPaddedWithALineFeedInsteadOfAPadByte)
{
    // An empty note and a one-letter note give documents of both parities
    // before the even-length rule.
    std::set<size_t> parities;
    for (const char* note : {"", "x"}) {
        Record r;
        r.note = note;
        const std::string document = BwfChunkBuilder::composeIxmlDocument(r);
        const WrittenFile chunk{BwfChunkBuilder::buildIxmlChunk(r)};
        SCOPED_TRACE(document.size());
        const size_t rootEnd = document.rfind("</BWFXML>\n");
        ASSERT_NE(rootEnd, std::string::npos);
        const std::string after = document.substr(rootEnd + 10);
        EXPECT_TRUE(after.empty() || after == "\n") << "only a line feed may follow the root element";
        parities.insert((rootEnd + 10) % 2);
        EXPECT_EQ(document.size() % 2, 0u);
        EXPECT_EQ(chunk.text(0, 4), "iXML");
        // The document, then at least 2 KiB of NULs as room for later edits;
        // the chunk stays even, so no pad byte.
        const size_t spare = chunk.u32(4) - document.size();
        EXPECT_GE(spare, 2048u);
        EXPECT_EQ(chunk.u32(4) % 2, 0u);
        EXPECT_EQ(chunk.text(8, document.size()), document);
        EXPECT_EQ(chunk.text(8 + document.size(), spare), std::string(spare, '\0'));
        EXPECT_EQ(chunk.bytes.size(), 8 + chunk.u32(4)) << "no pad byte";
    }
    EXPECT_EQ(parities.size(), 2u) << "the cases must cover an odd and an even document";
}

} // namespace
