// A recording that never reached close must stay recognisable as unclosed:
// ds64 sizes of zero, 32-bit sizes of 0xFFFFFFFF, samples on disk. These
// tests run the writer in a real child process and end it the hard way.

#include "media/BwfFileWriter.h"
#include "support/ChildProcess.h"
#include "support/TempHome.h"
#include "WrittenFile.h"

#include <gtest/gtest.h>


#include <vector>

namespace {

constexpr int kChannels = 2;
constexpr int kFramesPerBlock = 4096;
// Enough blocks to pass the writer's flush threshold several times over.
constexpr int kBlocksBeforeKill = 20;
constexpr size_t kHeaderBytes = 80;

class BwfFileWriterProcessTest : public TempHomeTest {
protected:
    std::string path() const { return home_.pathStd() + "/unclosed.wav"; }
};

// dataChunkOffset 0: the file has metadata chunks and the data chunk is not checked.
void expectUnclosedHeader(const WrittenFile& f, size_t dataChunkOffset)
{
    ASSERT_GE(f.bytes.size(), kHeaderBytes);
    EXPECT_EQ(f.text(0, 4), "RF64");
    EXPECT_EQ(f.u32(4), 0xFFFFFFFFu);
    EXPECT_EQ(f.text(12, 4), "ds64");
    EXPECT_EQ(f.u64(20), 0u) << "riffSize";
    EXPECT_EQ(f.u64(28), 0u) << "dataSize";
    EXPECT_EQ(f.u64(36), 0u) << "sampleCount";
    if (dataChunkOffset != 0) {
        EXPECT_EQ(f.text(dataChunkOffset, 4), "data");
        EXPECT_EQ(f.u32(dataChunkOffset + 4), 0xFFFFFFFFu);
    }
}

// Child: writes blocks and tells the parent whether all went well. The writer
// is never destroyed, so the file is still open when the process is killed.
char writeBlocksAndKeepTheFileOpen(const std::string& path)
{
    auto* writer = new BwfFileWriter;
    BwfFileWriter::BextChunk record;
    record.scene = "1";
    writer->setBextChunk(record);
    bool ok = writer->open(path, 48000, kChannels, BwfFileWriter::Int24);
    const std::vector<float> block(kFramesPerBlock * kChannels, 0.25f);
    for (int i = 0; ok && i < kBlocksBeforeKill; ++i)
        ok = writer->writeFrames(block.data(), kFramesPerBlock);
    return ok ? 'y' : 'n';
}

TEST_F(BwfFileWriterProcessTest, WriterKilledBeforeCloseLeavesDs64SizesAtZero)
{
    const KilledChild child = runChildThenKill([this] { return writeBlocksAndKeepTheFileOpen(path()); });
    ASSERT_TRUE(child.reported);
    ASSERT_EQ(child.verdict, 'y');
    ASSERT_TRUE(child.killedBySigkill);

    const WrittenFile f = WrittenFile::load(path());
    expectUnclosedHeader(f, 0);
    EXPECT_EQ(f.text(48, 4), "bext");
    // Whatever passed the last flush is on disk: at least 100,000 sample bytes.
    EXPECT_GE(f.bytes.size(), 100000u);
}

// A write that fails part-way (here: the file-size limit, as a full disk would)
// must be reported and must leave the file looking unclosed, not closed short.
TEST_F(BwfFileWriterProcessTest, FailedWriteIsReportedAndKeepsDs64SizesAtZero)
{
    const int exitCode = runChildWithFileSizeLimit(200000, [this] {
        BwfFileWriter writer;
        if (!writer.open(path(), 48000, kChannels, BwfFileWriter::Int24))
            return 11;
        const std::vector<float> block(kFramesPerBlock * kChannels, 0.25f);
        int blocks = 0;
        while (blocks < 100 && writer.writeFrames(block.data(), kFramesPerBlock))
            ++blocks;
        if (blocks == 100 || writer.lastError().empty())
            return 12;
        if (writer.writeFrames(block.data(), 1))
            return 13; // a stream in error must keep refusing
        return writer.close() ? 14 : 0;
    });
    ASSERT_EQ(exitCode, 0) << "11 open, 12 no failure seen, 13 write after failure, 14 close claimed success";
    expectUnclosedHeader(WrittenFile::load(path()), kHeaderBytes - 8);
}

} // namespace
