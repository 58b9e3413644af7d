// The key=value lines of a take's Description: every key form, the edge
// cases of trimming and track numbers, and the round trip through the builder.

#include "media/BwfChunkBuilder.h"
#include "media/CantarMetadataParser.h"

#include <gtest/gtest.h>

namespace {

struct ParseCase {
    const char* name;
    const char* text;
    CantarMetadata expected;
};

CantarMetadata record(std::initializer_list<std::pair<std::string CantarMetadata::*, const char*>> texts,
                      std::vector<std::string> tracks = {}, bool dForm = false)
{
    CantarMetadata result;
    for (const auto& [member, value] : texts)
        result.*member = value;
    result.trackNames = std::move(tracks);
    result.dForm = dForm;
    return result;
}

void expectEqual(const CantarMetadata& actual, const CantarMetadata& expected)
{
    EXPECT_EQ(actual.userBits, expected.userBits);
    EXPECT_EQ(actual.scene, expected.scene);
    EXPECT_EQ(actual.take, expected.take);
    EXPECT_EQ(actual.tape, expected.tape);
    EXPECT_EQ(actual.speed, expected.speed);
    EXPECT_EQ(actual.tag, expected.tag);
    EXPECT_EQ(actual.note, expected.note);
    EXPECT_EQ(actual.trackNames, expected.trackNames);
    EXPECT_EQ(actual.dForm, expected.dForm);
}

using M = CantarMetadata;

TEST(CantarMetadataParserTest, ParsesEveryKeyFormAndEdgeCase)
{
    const ParseCase kCases[] = {
        {"empty text", "", {}},
        {"spaces around = and after the value", "ascene = 12A  ", record({{&M::scene, "12A"}})},
        {"plain key in any case", "SCENE=1\nScene=2", record({{&M::scene, "2"}})},
        {"a-form user bits", "aUBITS=$10203012", record({{&M::userBits, "$10203012"}})},
        {"TS user bits set dForm", "TS=$10203012", record({{&M::userBits, "$10203012"}}, {}, true)},
        {"dUBITS sets dForm", "dubits=1", record({{&M::userBits, "1"}}, {}, true)},
        {"dSCENE sets dForm", "dSCENE=4", record({{&M::scene, "4"}}, {}, true)},
        {"dTAKE does not set dForm", "dTAKE=7\ndTAPE=R2", record({{&M::take, "7"}, {&M::tape, "R2"}})},
        {"take and tape forms", "TAKE=1\naTAPE=R1", record({{&M::take, "1"}, {&M::tape, "R1"}})},
        {"speed with -ND", "aSPEED=025.000-ND", record({{&M::speed, "025.000"}})},
        {"frame rate with FF", "dFRAMERATE=23.976FF", record({{&M::speed, "23.976"}})},
        {"speed FF alone", "SPEED=FF", record({{&M::speed, ""}})},
        {"speed F", "SPEED=F", record({{&M::speed, "F"}})},
        {"tag and note", "TAG=Film\naNOTE=a=b", record({{&M::tag, "Film"}, {&M::note, "a=b"}})},
        {"track 3 on an empty record", "aTRK3=Boom", record({}, {"", "", "Boom"})},
        {"track forms", "dTRK1=Mix\nTRK2=Lav", record({}, {"Mix", "Lav"})},
        {"leading number is enough", "aTRK2b=Lav", record({}, {"", "Lav"})},
        {"track lines that change nothing", "aTRK0=X\naTRK=X\nTRK=X\naTRKx=X\naTRK2=", {}},
        {"track number above 65535 ignored", "aTRK2000000000=x\naTRK65536=y", {}},
        {"track 65535 kept", "aTRK65535=z", [] {
             CantarMetadata m;
             m.trackNames.resize(65535);
             m.trackNames.back() = "z";
             return m;
         }()},
        {"line without = and empty lines", "hello\n\n\naSCENE=9", record({{&M::scene, "9"}})},
        {"line starting with =", "=5", {}},
        {"empty value clears", "aSCENE=1\naSCENE=", record({{&M::scene, ""}})},
        {"CR LF lines", "aSCENE=1\r\naTAKE=2\r\n", record({{&M::scene, "1"}, {&M::take, "2"}})},
        {"no line feed is one line", "aSCENE=1 aTAKE=2", record({{&M::scene, "1 aTAKE=2"}})},
        {"unknown keys ignored", "FOO=1\naFOO=2", {}},
        {"later lines overwrite", "aTAKE=1\naTAKE=2", record({{&M::take, "2"}})},
    };
    for (const ParseCase& testCase : kCases) {
        SCOPED_TRACE(testCase.name);
        expectEqual(CantarMetadataParser::parseDescription(testCase.text), testCase.expected);
    }
}

TEST(CantarMetadataParserTest, BuildsEachLineUnderItsCondition)
{
    struct BuildCase {
        const char* name;
        CantarMetadata record;
        double frameRate;
        const char* expected;
    };
    CantarMetadata full = record({{&M::userBits, "$01020304"},
                                  {&M::scene, "12A"},
                                  {&M::take, "3"},
                                  {&M::tape, "R01"},
                                  {&M::speed, "30"},
                                  {&M::tag, "Film"},
                                  {&M::note, "wind"}},
                                 {"", "Boom", ""});
    CantarMetadata dFull = full;
    dFull.dForm = true;
    const BuildCase kCases[] = {
        {"empty record, no rate", {}, 0.0, ""},
        {"a form", full, 25.0,
         "aUBITS=$01020304\naSCENE=12A\naTAKE=3\naTAPE=R01\naSPEED=25.000-ND\naTAG=Film\naNOTE=wind\naTRK2=Boom\n"},
        {"d form", dFull, 23.976,
         "TS=$01020304\ndSCENE=12A\ndTAKE=3\ndTAPE=R01\ndFRAMERATE=23.976FF\naTAG=Film\naNOTE=wind\ndTRK2=Boom\n"},
        {"speed text without a rate", record({{&M::speed, "29.97"}}), 0.0, "aSPEED=29.97-ND\n"},
        {"line breaks folded", record({{&M::note, "Lav\nboom\r\naSCENE=X"}}), 0.0, "aNOTE=Lav boom  aSCENE=X\n"},
    };
    for (const BuildCase& testCase : kCases) {
        SCOPED_TRACE(testCase.name);
        EXPECT_EQ(CantarMetadataParser::buildDescription(testCase.record, testCase.frameRate), testCase.expected);
    }
}

TEST(CantarMetadataParserTest, BuiltTextParsesBack)
{
    for (const bool dForm : {false, true}) {
        SCOPED_TRACE(dForm ? "d form" : "a form");
        CantarMetadata original = record({{&M::userBits, "$10203012"},
                                          {&M::scene, "12A"},
                                          {&M::take, "3"},
                                          {&M::tape, "R01"},
                                          {&M::tag, "Night & Day"},
                                          {&M::note, "plane <over>"}},
                                         {"Mix", "", "Boom"}, dForm);
        const CantarMetadata parsed =
            CantarMetadataParser::parseDescription(CantarMetadataParser::buildDescription(original, 25.0));
        CantarMetadata expected = original;
        expected.speed = "25.000";
        expectEqual(parsed, expected);
    }
}

// The take writer composes its Description with the same keys; its zero-padded
// speed reads as the same rate.
TEST(CantarMetadataParserTest, ReadsTheTakeWritersDescription)
{
    BwfFileWriter::BextChunk chunk;
    chunk.scene = "7";
    chunk.take = "2";
    chunk.tape = "R9";
    chunk.project = "Doc";
    chunk.note = "one\ntwo";
    chunk.frameRate = 25.0;
    chunk.trackNames = {"MIX", "Boom"};
    const CantarMetadata parsed = CantarMetadataParser::parseDescription(BwfChunkBuilder::composeDescription(chunk));
    EXPECT_EQ(parsed.scene, "7");
    EXPECT_EQ(parsed.take, "2");
    EXPECT_EQ(parsed.tape, "R9");
    EXPECT_EQ(parsed.tag, "Doc");
    EXPECT_EQ(parsed.note, "one two");
    EXPECT_EQ(parsed.speed, "025.000");
    EXPECT_EQ(parsed.trackNames, (std::vector<std::string>{"MIX", "Boom"}));
    EXPECT_FALSE(parsed.dForm);
}

} // namespace
