// The in-place metadata editor: a table of edits on a take whose iXML has
// room to spare, each checked byte by byte against the file before it and
// read back by libsndfile, ffprobe, xmllint and our reader; edits that cannot
// be taken leave the file byte-identical.

#include "MediaTestFiles.h"
#include "MetadataTestFiles.h"
#include "WavBytes.h"
#include "media/BextFields.h"
#include "media/BwfMetadataReader.h"
#include "media/BwfMetadataWriter.h"
#include "support/ChildProcess.h"
#include "support/ExternalTool.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <functional>

namespace {

constexpr int kSampleRate = 48000;
constexpr uint64_t kTimeReference = 1787063040;
constexpr uint32_t kSpareIxmlBytes = 512;

BwfFileWriter::BextChunk takeRecord()
{
    BwfFileWriter::BextChunk record;
    record.originatorReference = "TVL0001";
    record.originationDate = "2026-01-02";
    record.originationTime = "03:04:05";
    record.timeReference = kTimeReference;
    record.frameRate = 25.0;
    record.timestampSampleRate = kSampleRate;
    record.scene = "12A";
    record.take = "3";
    record.tape = "R01";
    record.trackNames = {"MIX", "Boom", "Lav"};
    return record;
}

// Where an edit may write: the bodies of the bext and iXML chunks.
struct EditableSpans {
    ChunkSpan bext;
    ChunkSpan ixml;

    bool contains(size_t offset) const
    {
        auto inside = [offset](const ChunkSpan& span) {
            return span.found && offset >= span.bodyOffset && offset < span.bodyOffset + span.size;
        };
        return inside(bext) || inside(ixml);
    }
};

EditableSpans spansOf(const std::vector<uint8_t>& bytes)
{
    return {findChunkSpan(bytes, "bext"), findChunkSpan(bytes, "iXML")};
}

// Offsets of bytes that differ and lie outside the editable bodies.
std::vector<size_t> changesOutside(const std::vector<uint8_t>& before, const std::vector<uint8_t>& after)
{
    std::vector<size_t> outside;
    const EditableSpans spans = spansOf(before);
    for (size_t i = 0; i < std::min(before.size(), after.size()); ++i) {
        if (before[i] != after[i] && !spans.contains(i))
            outside.push_back(i);
    }
    return outside;
}

uint64_t dataChecksum(const std::vector<uint8_t>& bytes)
{
    const ChunkSpan fmt = findChunkSpan(bytes, "fmt ");
    const size_t dataStart = fmt.bodyOffset + fmt.size + 8;  // our takes: data right after fmt
    uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (size_t i = dataStart; i < bytes.size(); ++i)
        hash = (hash ^ bytes[i]) * 1099511628211ull;
    return hash;
}

std::string ixmlDocument(const std::vector<uint8_t>& bytes)
{
    const ChunkSpan span = findChunkSpan(bytes, "iXML");
    std::string document(bytes.begin() + static_cast<std::ptrdiff_t>(span.bodyOffset),
                         bytes.begin() + static_cast<std::ptrdiff_t>(span.bodyOffset + span.size));
    return document.substr(0, document.find('\0'));
}

class BwfMetadataWriterTest : public ::testing::Test {
protected:
    std::string pathFor(const std::string& name) const { return dir_.path().toStdString() + "/" + name; }

    // Our take with exactly spareBytes NULs after its iXML document.
    std::string makeTake(uint32_t spareBytes, const BwfFileWriter::BextChunk& record = takeRecord())
    {
        const std::string path = pathFor("take.wav");
        EXPECT_TRUE(writeMetadataTake(path, record, kSampleRate, 3, BwfFileWriter::Int24));
        EXPECT_TRUE(writeFileBytes(path, withSpareBytes(readFileBytes(path), "iXML", spareBytes)));
        return path;
    }

    void expectXmllintAccepts(const std::string& document)
    {
        if (findTool("xmllint").isEmpty())
            return;
        const std::string xmlPath = pathFor("ixml.xml");
        ASSERT_TRUE(writeFileBytes(xmlPath, std::vector<uint8_t>(document.begin(), document.end())));
        const ToolResult check = runTool(findTool("xmllint"), {"--noout", QString::fromStdString(xmlPath)});
        EXPECT_EQ(check.exitCode, 0) << check.standardError.toStdString() << document;
    }

    QTemporaryDir dir_;
};

void expectReadBack(const BwfMetadata& read, const BwfMetadata& wanted)
{
    EXPECT_EQ(read.scene, wanted.scene);
    EXPECT_EQ(read.take, wanted.take);
    EXPECT_EQ(read.tape, wanted.tape);
    EXPECT_EQ(read.note, wanted.note);
    EXPECT_EQ(read.project, wanted.project);
    EXPECT_EQ(read.circled, wanted.circled);
    EXPECT_EQ(read.wildTrack, wanted.wildTrack);
    EXPECT_EQ(read.timeReference, wanted.timeReference);
    ASSERT_EQ(read.tracks.size(), wanted.tracks.size());
    for (size_t i = 0; i < read.tracks.size(); ++i) {
        EXPECT_EQ(read.tracks[i].name, wanted.tracks[i].name);
        EXPECT_EQ(read.tracks[i].function, wanted.tracks[i].function);
    }
}

TEST_F(BwfMetadataWriterTest, EditsLandInTheirBodiesAndReadBackEverywhere)
{
    struct Edit {
        const char* name;
        std::function<void(BwfMetadata&)> apply;
    };
    const Edit kEdits[] = {
        {"longer scene", [](BwfMetadata& m) { m.scene = "12A-pickup-after-lunch"; }},
        {"note with & and <", [](BwfMetadata& m) { m.note = "Lav & boom <off>"; }},
        {"project inserted", [](BwfMetadata& m) { m.project = "Night & Day"; }},
        {"circled", [](BwfMetadata& m) { m.circled = true; }},
        {"wild track on", [](BwfMetadata& m) { m.wildTrack = true; }},
        {"wild track off", [](BwfMetadata& m) { m.wildTrack = false; }},
        {"track name 40 characters longer",
         [](BwfMetadata& m) {
             m.tracks[1].name = "Boom" + std::string(40, 'x');
             m.tracks[1].function = "Boom pole";
         }},
        {"time reference", [](BwfMetadata& m) { m.timeReference = 2'000'000'000; }},
        {"shorter scene, take and tape", [](BwfMetadata& m) {
             m.scene = "1";
             m.take = "9";
             m.tape = "R2";
         }},
    };
    const std::string path = makeTake(kSpareIxmlBytes);
    for (const Edit& edit : kEdits) {
        SCOPED_TRACE(edit.name);
        const std::vector<uint8_t> before = readFileBytes(path);
        BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
        edit.apply(wanted);
        std::string reason;
        ASSERT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted, reason)) << reason;
        EXPECT_TRUE(reason.empty());

        const std::vector<uint8_t> after = readFileBytes(path);
        ASSERT_EQ(after.size(), before.size());
        EXPECT_EQ(dataChecksum(after), dataChecksum(before));
        EXPECT_TRUE(changesOutside(before, after).empty());
        EXPECT_NE(after, before);
        expectXmllintAccepts(ixmlDocument(after));

        const BwfMetadata read = BwfMetadataReader::readMetadata(path);
        expectReadBack(read, wanted);
        const SndfileBext sndfile = readSndfileBext(path);
        EXPECT_EQ(sndfile.description, read.description);
        EXPECT_EQ(sndfile.timeReference, wanted.timeReference);
        EXPECT_EQ(readWithSndfile(path).frames, kMetadataTakeFrames);
        if (!findTool("ffprobe").isEmpty()) {
            const FfprobeTags tags = readFfprobeTags(path);
            EXPECT_EQ(tags.comment, read.description);
            EXPECT_EQ(tags.timeReference, std::to_string(wanted.timeReference));
        }
    }
    const BwfMetadata final = BwfMetadataReader::readMetadata(path);
    EXPECT_NE(final.description.find("aTAG=Night & Day\n"), std::string::npos) << final.description;
    EXPECT_NE(final.description.find("aNOTE=Lav & boom <off>\n"), std::string::npos);
    EXPECT_NE(final.description.find("aSCENE=1\naTAKE=9\naTAPE=R2\n"), std::string::npos);
}

TEST_F(BwfMetadataWriterTest, GrowingEditWithoutSpareBytesWritesNothing)
{
    const std::string path = makeTake(0);
    const std::vector<uint8_t> before = readFileBytes(path);
    BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
    wanted.scene = "12A-longer";
    std::string reason;
    EXPECT_FALSE(BwfMetadataWriter::writeMetadata(path, wanted, reason));
    EXPECT_NE(reason.find("iXML"), std::string::npos) << reason;
    EXPECT_EQ(readFileBytes(path), before);
    EXPECT_EQ(BwfMetadataReader::readMetadata(path).scene, "12A");

    // A shorter value fits and leaves NULs at the chunk's end.
    wanted.scene = "12";
    ASSERT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted, reason)) << reason;
    const std::vector<uint8_t> after = readFileBytes(path);
    const ChunkSpan ixml = findChunkSpan(after, "iXML");
    EXPECT_EQ(after[ixml.bodyOffset + ixml.size - 1], 0);
    EXPECT_EQ(BwfMetadataReader::readMetadata(path).scene, "12");
}

// A take as the recorder writes it, with no scene and no note, can be given a
// scene, a take, a long note and longer track names afterwards, and outside
// tools read the edited take.
TEST_F(BwfMetadataWriterTest, AFreshTakeHasRoomForTheFieldsAddedLater)
{
    BwfFileWriter::BextChunk record = takeRecord();
    record.scene.clear();
    record.note.clear();
    record.trackNames = {"MIX", "Track_1", "Track_2"};
    const std::string path = pathFor("fresh.wav");
    ASSERT_TRUE(writeMetadataTake(path, record, kSampleRate, 3, BwfFileWriter::Int24));
    BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
    wanted.scene = "12A pickup after the rain";
    wanted.take = "14";
    wanted.note = std::string(600, 'n') + " & <plane overhead>";
    for (size_t t = 1; t < wanted.tracks.size(); ++t)
        wanted.tracks[t].name = "Lav " + std::to_string(t) + " " + std::string(60, 'x');
    std::string reason;
    ASSERT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted, reason)) << reason;
    expectReadBack(BwfMetadataReader::readMetadata(path), wanted);
    expectXmllintAccepts(ixmlDocument(readFileBytes(path)));

    EXPECT_EQ(readWithSndfile(path).frames, kMetadataTakeFrames);
    const QString file = QString::fromStdString(path);
    for (const char* tool : {"sndfile-info", "ffprobe", "mediainfo"}) {
        if (findTool(tool).isEmpty())
            continue;
        SCOPED_TRACE(tool);
        const ToolResult result = runTool(findTool(tool), std::string(tool) == "ffprobe"
                                                              ? QStringList{"-v", "warning", file}
                                                              : QStringList{file});
        EXPECT_EQ(result.exitCode, 0) << result.standardError.toStdString();
        for (const char* warning : {"should be", "Warning", "WARNING", "rror"})
            EXPECT_FALSE((result.standardOutput + result.standardError).contains(warning))
                << (result.standardOutput + result.standardError).toStdString();
    }
}

TEST_F(BwfMetadataWriterTest, NothingNewWritesNothing)
{
    const std::string path = makeTake(0);
    const std::vector<uint8_t> before = readFileBytes(path);
    const BwfMetadata current = BwfMetadataReader::readMetadata(path);
    BwfMetadata empty;
    empty.circled = current.circled;
    empty.wildTrack = current.wildTrack;
    for (const BwfMetadata& wanted : {current, empty}) {
        std::string reason;
        EXPECT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted, reason)) << reason;
        EXPECT_EQ(readFileBytes(path), before);
    }
}

TEST_F(BwfMetadataWriterTest, TimeReferenceAloneChangesEightBytesWhenIxmlHasNone)
{
    BwfFileWriter::BextChunk record = takeRecord();
    record.timeReference = 0;
    const std::string path = makeTake(0, record);
    const std::vector<uint8_t> before = readFileBytes(path);
    BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
    wanted.timeReference = 123456789;
    ASSERT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted));
    const std::vector<uint8_t> after = readFileBytes(path);
    const size_t field = findChunkSpan(before, "bext").bodyOffset + BextFields::kTimeReferenceOffset;
    for (size_t i = 0; i < before.size(); ++i) {
        if (i < field || i >= field + 8) {
            ASSERT_EQ(after[i], before[i]) << "offset " << i;
        }
    }
    EXPECT_EQ(BwfMetadataReader::readMetadata(path).timeReference, 123456789u);
}

TEST_F(BwfMetadataWriterTest, SceneChangeRebuildsTheWholeDescription)
{
    BwfFileWriter::BextChunk record = takeRecord();
    record.trackNames = {"MIX", "Boom", "Lav", std::string(60, 'a'), std::string(60, 'b'), std::string(60, 'c')};
    const std::string path = makeTake(kSpareIxmlBytes, record);
    BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
    wanted.scene = "14ABCD";
    ASSERT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted));
    const std::string description = BwfMetadataReader::readMetadata(path).description;
    EXPECT_EQ(description.rfind("aUBITS=$10203012\naSCENE=14ABCD\naTAKE=3\naTAPE=R01\naSPEED=25.000-ND\naTRK1=MIX\n", 0), 0u)
        << description;
    EXPECT_EQ(description.size(), 255u);
}

TEST_F(BwfMetadataWriterTest, ClearingWildTrackLeavesItsIndentation)
{
    const std::string ixml = "<BWFXML>\n  <WILD_TRACK>TRUE</WILD_TRACK>\n  <NOTE>n</NOTE>\n</BWFXML>\n";
    const std::vector<uint8_t> bytes =
        WavBytes::form(false).chunk("iXML", ixml).fmt(1, 1, kSampleRate, 16).id("data").u32(4).u32(0).bytes;
    const std::string path = pathFor("wild.wav");
    ASSERT_TRUE(writeFileBytes(path, bytes));
    BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
    ASSERT_TRUE(wanted.wildTrack);
    wanted.wildTrack = false;
    ASSERT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted));
    EXPECT_EQ(ixmlDocument(readFileBytes(path)), "<BWFXML>\n  \n  <NOTE>n</NOTE>\n</BWFXML>\n");
    EXPECT_FALSE(BwfMetadataReader::readMetadata(path).wildTrack);

    // A WILD_TRACK holding another value becomes TRUE.
    const std::string falseIxml = "<BWFXML>\n  <WILD_TRACK>FALSE</WILD_TRACK>\n</BWFXML>\n";
    ASSERT_TRUE(writeFileBytes(
        path, WavBytes::form(false).chunk("iXML", falseIxml).fmt(1, 1, kSampleRate, 16).id("data").u32(0).bytes));
    wanted = BwfMetadataReader::readMetadata(path);
    wanted.wildTrack = true;
    ASSERT_TRUE(BwfMetadataWriter::writeMetadata(path, wanted));
    EXPECT_TRUE(BwfMetadataReader::readMetadata(path).wildTrack);
}

// Edits a chunk cannot take: nothing at all is written, the reason says why.
TEST_F(BwfMetadataWriterTest, RefusedEditsLeaveTheFileByteIdentical)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::function<void(BwfMetadata&)> apply;
        const char* reasonPart;
    };
    std::vector<uint8_t> shortBext(300, 0);
    const std::string ixml = "<BWFXML>\n  <SCENE>1</SCENE>\n</BWFXML>\n" + std::string(64, '\0');
    const std::string noEndTag = "<BWFXML>\n  <SCENE>1</SCENE>\n" + std::string(64, '\0');
    auto file = [](const std::string* bextBody, const std::string& ixmlBody) {
        WavBytes wav = WavBytes::form(false);
        if (bextBody)
            wav.chunk("bext", *bextBody);
        if (!ixmlBody.empty())
            wav.chunk("iXML", ixmlBody);
        return wav.fmt(1, 1, kSampleRate, 16).id("data").u32(4).u32(0x12345678).bytes;
    };
    const std::string shortBextBody(300, '\0');
    const Case kCases[] = {
        {"time reference into a bext shorter than its fields", file(&shortBextBody, ixml),
         [](BwfMetadata& m) { m.timeReference = 1000; }, "bext"},
        {"scene change whose insertion has no end tag", file(nullptr, noEndTag),
         [](BwfMetadata& m) { m.note = "n"; }, "</BWFXML>"},
        {"no bext and no iXML", file(nullptr, ""), [](BwfMetadata& m) { m.scene = "2"; }, "no bext or iXML"},
        {"iXML chunk running past the end of the file",
         [&] {
             std::vector<uint8_t> bytes = WavBytes::form(false).fmt(1, 1, kSampleRate, 16).chunk("iXML", ixml, 4096).bytes;
             return bytes;
         }(),
         [](BwfMetadata& m) { m.scene = "2"; }, "past the end"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string path = pathFor("refused.wav");
        ASSERT_TRUE(writeFileBytes(path, c.bytes));
        BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
        c.apply(wanted);
        std::string reason;
        EXPECT_FALSE(BwfMetadataWriter::writeMetadata(path, wanted, reason));
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
        EXPECT_EQ(readFileBytes(path), c.bytes);
    }
}

// Fields a file has no place for (no iXML chunk, one the walk cannot reach,
// no element for a track) are refused by name and nothing is written, also
// when the Description could have taken part of the edit; the same edit on
// a file that can hold it is stored and reads back.
TEST_F(BwfMetadataWriterTest, FieldsTheFileCannotHoldAreRefusedByName)
{
    std::string bextBody(602, '\0');
    bextBody.replace(0, 16, "aSCENE=1\naTRK1=A");
    const std::string ixml = "<BWFXML>\n  <SCENE>1</SCENE>\n</BWFXML>\n" + std::string(256, '\0');
    const std::string ixmlWithTrack = "<BWFXML>\n  <SCENE>1</SCENE>\n  <TRACK_LIST><TRACK><CHANNEL_INDEX>1"
                                      "</CHANNEL_INDEX><NAME>A</NAME></TRACK></TRACK_LIST>\n</BWFXML>\n" +
                                      std::string(256, '\0');
    auto file = [&](const std::string* ixmlBody, bool padded) {
        WavBytes wav = WavBytes::form(false);
        wav.chunk("bext", bextBody);
        // An odd chunk, without its pad byte when `padded` is false.
        wav.id("junk").u32(3).raw({1, 2, 3});
        if (padded)
            wav.raw({0});
        if (ixmlBody)
            wav.chunk("iXML", *ixmlBody);
        return wav.fmt(1, 1, kSampleRate, 16).id("data").u32(4).u32(0x12345678).bytes;
    };
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        std::function<void(BwfMetadata&)> apply;
        const char* reasonPart;  // nullptr: the edit is stored
    };
    const Case kCases[] = {
        {"no iXML: flags", file(nullptr, true), [](BwfMetadata& m) { m.circled = m.wildTrack = true; },
         "circled, wild track"},
        {"no iXML: texts the Description would take", file(nullptr, true),
         [](BwfMetadata& m) { m.scene = "2"; m.note = "n"; }, "has no place for scene, note;"},
        {"no iXML: a track name", file(nullptr, true), [](BwfMetadata& m) { m.tracks = {{1, "Boom", ""}}; },
         "track 1"},
        {"iXML behind an odd chunk without its pad byte", file(&ixml, false),
         [](BwfMetadata& m) { m.scene = "2"; m.circled = true; }, "scene, circled"},
        {"iXML without the track's element", file(&ixml, true), [](BwfMetadata& m) { m.tracks = {{1, "Boom", ""}}; },
         "track 1"},
        {"iXML with room for everything", file(&ixmlWithTrack, true),
         [](BwfMetadata& m) {
             m.scene = "2";
             m.note = "n";
             m.circled = m.wildTrack = true;
             m.tracks = {{1, "Boom", ""}};
         },
         nullptr},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        const std::string path = pathFor("holds.wav");
        ASSERT_TRUE(writeFileBytes(path, c.bytes));
        BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
        c.apply(wanted);
        std::string reason;
        const bool stored = BwfMetadataWriter::writeMetadata(path, wanted, reason);
        if (!c.reasonPart) {
            ASSERT_TRUE(stored) << reason;
            expectReadBack(BwfMetadataReader::readMetadata(path), wanted);
            continue;
        }
        EXPECT_FALSE(stored);
        EXPECT_NE(reason.find(c.reasonPart), std::string::npos) << reason;
        EXPECT_EQ(readFileBytes(path), c.bytes);
    }
}

// The disk refuses writes beyond a point below the iXML chunk: the call
// fails, and nothing outside the bext and iXML bodies changed.
TEST_F(BwfMetadataWriterTest, WriteFailingHalfWayReportsFailure)
{
    const std::string path = makeTake(kSpareIxmlBytes);
    const std::vector<uint8_t> before = readFileBytes(path);
    const ChunkSpan ixml = findChunkSpan(before, "iXML");
    BwfMetadata wanted = BwfMetadataReader::readMetadata(path);
    wanted.scene = "99";
    const int exitCode = runChildWithFileSizeLimit(static_cast<int64_t>(ixml.headerOffset), [&] {
        return BwfMetadataWriter::writeMetadata(path, wanted) ? 0 : 1;
    });
    EXPECT_EQ(exitCode, 1);
    const std::vector<uint8_t> after = readFileBytes(path);
    ASSERT_EQ(after.size(), before.size());
    EXPECT_TRUE(changesOutside(before, after).empty());
    EXPECT_EQ(ixmlDocument(after), ixmlDocument(before));
    EXPECT_EQ(readWithSndfile(path).frames, kMetadataTakeFrames);
}

} // namespace
