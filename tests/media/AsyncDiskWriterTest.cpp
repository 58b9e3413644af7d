// The block ring writer: ring sizes and log lines, the ring's exact room
// check and wrap-around, refused blocks, per-writer error flags, and a
// producer thread feeding two writers whose files libsndfile reads back
// frame for frame. Run under the tsan preset for the thread hand-offs.

#include "MediaTestFiles.h"
#include "media/AsyncDiskWriter.h"
#include "media/BwfFileWriter.h"
#include "support/ExternalTool.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

constexpr int kSampleRate = 48000;

bool logHas(const TempHome& home, const std::string& line)
{
    return home.logText().find(line) != std::string::npos;
}

// Sample s of a stream: distinct per writer, frame and channel, exact in float.
float streamSample(int stream, int64_t frame, int channel)
{
    return static_cast<float>((frame * 7 + channel * 3 + stream * 1000) % 4001 - 2000) / 2048.0f;
}

std::vector<float> streamBlock(int stream, int64_t firstFrame, int frames, int channels)
{
    std::vector<float> block(static_cast<size_t>(frames) * static_cast<size_t>(channels));
    for (int f = 0; f < frames; ++f) {
        for (int c = 0; c < channels; ++c)
            block[static_cast<size_t>(f * channels + c)] = streamSample(stream, firstFrame + f, c);
    }
    return block;
}

// Frames of the stream as libsndfile reads them back; -1 when a sample differs.
int64_t verifiedFrames(const std::string& path, int stream)
{
    const SndfileContent content = readWithSndfile(path);
    for (int64_t f = 0; f < content.frames; ++f) {
        for (int c = 0; c < content.channels; ++c) {
            if (content.samples[static_cast<size_t>(f * content.channels + c)] != streamSample(stream, f, c))
                return -1;
        }
    }
    return content.frames;
}

class AsyncDiskWriterTest : public TempHomeTest {
protected:
    std::string pathFor(const std::string& name) const { return home_.pathStd() + "/" + name; }

    std::unique_ptr<BwfFileWriter> openWriter(const std::string& name, int channels)
    {
        auto writer = std::make_unique<BwfFileWriter>();
        EXPECT_TRUE(writer->open(pathFor(name), kSampleRate, channels, BwfFileWriter::Float32)) << writer->lastError();
        return writer;
    }
};

TEST_F(AsyncDiskWriterTest, InitializeSizesTheRingAndLogsIt)
{
    struct Case {
        float seconds;
        int sampleRate;
        int channels;
        int frames;
        const char* line;
    };
    const Case kCases[] = {
        {30, 48000, 64, 512,
         "AsyncDiskWriter initialized: 64MB buffer, 48000Hz, 64 max channels, 512 max frames/block, "
         "readBuffer=32768 floats"},
        {1, 8000, 1, 256,
         "AsyncDiskWriter initialized: 4MB buffer, 8000Hz, 1 max channels, 256 max frames/block, readBuffer=256 floats"},
        {2, 48000, 8, 64,
         "AsyncDiskWriter initialized: 5MB buffer, 48000Hz, 8 max channels, 64 max frames/block, readBuffer=512 floats"},
    };
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.line);
        AsyncDiskWriter writer;
        EXPECT_EQ(writer.getBufferFillLevel(), 0.0f);
        writer.initialize(c.seconds, c.sampleRate, c.channels, c.frames);
        EXPECT_TRUE(logHas(home_, std::string(c.line) + "\n"));
        EXPECT_EQ(writer.getBufferFillLevel(), 0.0f);
        EXPECT_FALSE(writer.isRunning());
        EXPECT_EQ(writer.getDroppedSamples(), 0);
        EXPECT_EQ(writer.getWriteErrors(), 0);
    }
}

TEST_F(AsyncDiskWriterTest, RingRefusesABlockOneWordShortAndWrapsIntact)
{
    AudioRingBuffer ring(24);  // 23 usable words
    const std::vector<float> samples = streamBlock(1, 0, 10, 2);
    std::vector<float> out(64);
    AudioRingBuffer::BlockHeader header;
    // Move both indexes near the end so the next blocks wrap.
    ASSERT_TRUE(ring.pushBlock(5, samples.data(), 7, 1));
    ASSERT_EQ(ring.takeBlock(out.data(), out.size(), header), AudioRingBuffer::Take::Block);
    EXPECT_EQ(ring.freeWords(), 23u);

    EXPECT_FALSE(ring.pushBlock(1, samples.data(), 10, 2));  // 20 + 4 > 23
    EXPECT_TRUE(ring.pushBlock(1, samples.data(), 19, 1));   // 19 + 4 = 23: exactly the room
    EXPECT_EQ(ring.freeWords(), 0u);
    EXPECT_FALSE(ring.pushBlock(1, samples.data(), 1, 1));
    ASSERT_EQ(ring.takeBlock(out.data(), out.size(), header), AudioRingBuffer::Take::Block);
    EXPECT_EQ(header.writerId, 1);
    EXPECT_EQ(header.frames, 19);
    EXPECT_EQ(header.channels, 1);
    EXPECT_TRUE(std::equal(samples.begin(), samples.begin() + 19, out.begin()));
    EXPECT_EQ(ring.takeBlock(out.data(), out.size(), header), AudioRingBuffer::Take::None);

    // A block larger than the reader's buffer is passed over, header given.
    ASSERT_TRUE(ring.pushBlock(2, samples.data(), 8, 2));
    EXPECT_EQ(ring.takeBlock(out.data(), 15, header), AudioRingBuffer::Take::Skipped);
    EXPECT_EQ(header.frames, 8);
    EXPECT_EQ(ring.usedWords(), 0u);
    ASSERT_TRUE(ring.pushBlock(2, samples.data(), 3, 2));
    ASSERT_TRUE(ring.pushBlock(2, samples.data(), 2, 2));
    EXPECT_EQ(ring.discardAll(), 5);
}

TEST_F(AsyncDiskWriterTest, RegistersAtMostSixtyFourWriters)
{
    AsyncDiskWriter disk;
    BwfFileWriter writer;
    for (int i = 0; i < AsyncDiskWriter::kMaxWriters; ++i)
        ASSERT_EQ(disk.registerWriter(&writer), i);
    EXPECT_EQ(disk.registerWriter(&writer), -1);
    EXPECT_TRUE(logHas(home_, "AsyncDiskWriter: Maximum writers exceeded\n"));
    EXPECT_EQ(disk.registerWriter(&writer), -1);  // the count of ids stayed at 64
    disk.unregisterWriter(5);
    EXPECT_EQ(disk.registerWriter(&writer), -1);  // an emptied slot is not handed out again
    disk.clearWriters();
    EXPECT_EQ(disk.registerWriter(&writer), 0);
}

// Blocks that cannot be written are refused at push and counted; a producer
// learns of every one from the result.
TEST_F(AsyncDiskWriterTest, RefusedBlocksAreCountedAtPush)
{
    AsyncDiskWriter disk;
    auto file = openWriter("refused.wav", 2);
    const int id = disk.registerWriter(file.get());
    const std::vector<float> samples = streamBlock(0, 0, 300, 2);
    EXPECT_FALSE(disk.pushSamples(id, samples.data(), 10, 2));  // not running: nothing counted
    disk.initialize(1, 8000, 2, 128);
    disk.start();
    struct Case {
        const char* name;
        int writerId;
        int frames;
        int channels;
        int64_t counted;
    };
    const Case kCases[] = {
        {"larger than the read buffer", id, 129, 2, 129},
        {"no frames", id, 0, 2, 0},
        {"no channels", id, 10, 0, 0},
        {"negative frames", id, -5, 2, 0},
        {"writer id out of range", 70, 10, 2, 0},
        {"writer id without a writer", 7, 10, 2, 0},
    };
    int64_t expected = 0;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        EXPECT_FALSE(disk.pushSamples(c.writerId, samples.data(), c.frames, c.channels));
        expected += c.counted;
        EXPECT_EQ(disk.getDroppedSamples(), expected);
    }
    EXPECT_TRUE(disk.pushSamples(id, samples.data(), 64, 2));
    EXPECT_FALSE(disk.pushSamplesToWriters({id, 9}, samples.data(), 64, 2));  // the first still lands
    disk.stop(true);
    file->close();
    EXPECT_EQ(readWithSndfile(pathFor("refused.wav")).frames, 128);
    EXPECT_TRUE(logHas(home_, "AsyncDiskWriter stopped. Dropped samples: 129\n"));
}

TEST_F(AsyncDiskWriterTest, WriterErrorsAreFlaggedPerIdAndCleared)
{
    AsyncDiskWriter disk;
    BwfFileWriter closed;  // never opened
    auto stereo = openWriter("stereo.wav", 2);
    std::vector<int> ids;
    for (int i = 0; i < 3; ++i)
        ids.push_back(disk.registerWriter(stereo.get()));
    ids.push_back(disk.registerWriter(&closed));
    ASSERT_EQ(ids.back(), 3);
    disk.start();
    const std::vector<float> samples = streamBlock(0, 0, 32, 3);
    EXPECT_TRUE(disk.pushSamples(3, samples.data(), 32, 2));
    EXPECT_TRUE(disk.pushSamples(1, samples.data(), 32, 3));  // three channels for a stereo file
    const std::vector<float> stereoSamples = streamBlock(0, 0, 32, 2);
    EXPECT_TRUE(disk.pushSamples(0, stereoSamples.data(), 32, 2));
    disk.stop(true);

    EXPECT_EQ(disk.getWriteErrors(), 2);
    EXPECT_TRUE(disk.hasWriterErrors({3, 70}));
    EXPECT_TRUE(disk.hasWriterError(1));
    EXPECT_FALSE(disk.hasWriterErrors({0, 2, 70, -1}));
    EXPECT_FALSE(disk.hasWriterError(70));
    disk.clearWriterErrors({3, 70});
    EXPECT_FALSE(disk.hasWriterErrors({3, 70}));
    EXPECT_TRUE(disk.hasWriterError(1));
    EXPECT_EQ(disk.getWriteErrors(), 2);  // the counter only grows
    EXPECT_TRUE(logHas(home_, "ERROR: AsyncDiskWriter file not open! WriterId=3 errorCount=1 (drive removed or file closed?)\n"));
    EXPECT_TRUE(logHas(home_, "ERROR: AsyncDiskWriter write failed! WriterId=1 numSamples=32 numChannels=3 errorCount=2\n"));
    stereo->close();
    EXPECT_EQ(verifiedFrames(pathFor("stereo.wav"), 0), 32);
}

// One producer thread feeding two writers of different widths; stop(true)
// writes out what the ring still holds.
TEST_F(AsyncDiskWriterTest, ProducerThreadFeedsTwoWritersAndFlushWritesEveryFrame)
{
    constexpr int kBlocks = 400;
    constexpr int kFramesPerBlock = 256;
    AsyncDiskWriter disk;
    disk.initialize(2, kSampleRate, 8, kFramesPerBlock);
    auto stereo = openWriter("two.wav", 2);
    auto mono = openWriter("one.wav", 1);
    const int stereoId = disk.registerWriter(stereo.get());
    const int monoId = disk.registerWriter(mono.get());
    disk.start();
    EXPECT_TRUE(disk.isRunning());

    std::thread producer([&] {
        for (int b = 0; b < kBlocks; ++b) {
            const int64_t first = int64_t{b} * kFramesPerBlock;
            const std::vector<float> two = streamBlock(2, first, kFramesPerBlock, 2);
            const std::vector<float> one = streamBlock(1, first, kFramesPerBlock, 1);
            EXPECT_TRUE(disk.pushSamples(stereoId, two.data(), kFramesPerBlock, 2));
            EXPECT_TRUE(disk.pushSamples(monoId, one.data(), kFramesPerBlock, 1));
        }
    });
    producer.join();
    disk.stop(true);
    EXPECT_FALSE(disk.isRunning());
    EXPECT_EQ(disk.getDroppedSamples(), 0);
    EXPECT_EQ(disk.getWriteErrors(), 0);
    ASSERT_TRUE(stereo->close());
    ASSERT_TRUE(mono->close());

    const int64_t frames = int64_t{kBlocks} * kFramesPerBlock;
    EXPECT_EQ(verifiedFrames(pathFor("two.wav"), 2), frames);
    EXPECT_EQ(verifiedFrames(pathFor("one.wav"), 1), frames);
    if (!findTool("sndfile-info").isEmpty()) {
        for (const char* name : {"two.wav", "one.wav"}) {
            const ToolResult info = runTool(findTool("sndfile-info"), {QString::fromStdString(pathFor(name))});
            EXPECT_NE(info.standardOutput.toStdString().find("Frames      : " + std::to_string(frames)), std::string::npos)
                << info.standardOutput.toStdString();
        }
    }
    for (const char* line : {"AsyncDiskWriter started\n", "AsyncDiskWriter thread started\n",
                             "AsyncDiskWriter thread finished\n", "AsyncDiskWriter stopped. No samples dropped.\n"})
        EXPECT_TRUE(logHas(home_, line)) << line;
}

// Whatever stop(false) leaves in the ring is counted: every frame pushed is
// either in the file or in droppedSamples.
TEST_F(AsyncDiskWriterTest, StopWithoutFlushCountsWhatItLeaves)
{
    constexpr int kBlocks = 2000;
    constexpr int kFrames = 512;
    AsyncDiskWriter disk;
    disk.initialize(1, kSampleRate, 2, kFrames);
    auto stereo = openWriter("left.wav", 2);
    const int id = disk.registerWriter(stereo.get());
    disk.start();
    int64_t accepted = 0;
    const std::vector<float> block = streamBlock(0, 0, kFrames, 2);
    for (int b = 0; b < kBlocks; ++b) {
        if (disk.pushSamples(id, block.data(), kFrames, 2))
            accepted += kFrames;
    }
    const int64_t refusedAtPush = disk.getDroppedSamples();
    EXPECT_EQ(accepted + refusedAtPush, int64_t{kBlocks} * kFrames);
    disk.stop(false);
    ASSERT_TRUE(stereo->close());
    const int64_t written = readWithSndfile(pathFor("left.wav")).frames;
    EXPECT_EQ(written + disk.getDroppedSamples() - refusedAtPush, accepted);
    EXPECT_TRUE(logHas(home_, "AsyncDiskWriter thread finished\n"));
}

// unregisterWriter returns only when the thread no longer writes to that
// writer, so the owner may close it at once (TSan sees any overlap). Blocks
// still queued for it are counted as dropped.
TEST_F(AsyncDiskWriterTest, UnregisteredWriterIsNoLongerWritten)
{
    constexpr int kFrames = 256;
    AsyncDiskWriter disk;
    disk.initialize(1, kSampleRate, 2, kFrames);
    auto stereo = openWriter("gone.wav", 2);
    const int id = disk.registerWriter(stereo.get());
    disk.start();
    std::atomic<bool> stopProducer{false};
    std::atomic<int64_t> accepted{0};
    std::thread producer([&] {
        const std::vector<float> block = streamBlock(0, 0, kFrames, 2);
        while (!stopProducer.load()) {
            if (disk.pushSamples(id, block.data(), kFrames, 2))
                accepted += kFrames;
            else
                std::this_thread::yield();
            if (accepted.load() >= 200 * kFrames)
                break;
        }
    });
    while (accepted.load() < 100 * kFrames)
        std::this_thread::yield();
    disk.unregisterWriter(id);
    ASSERT_TRUE(stereo->close());  // the writer thread must not touch it any more
    stopProducer = true;
    producer.join();
    disk.stop(true);
    const int64_t written = readWithSndfile(pathFor("gone.wav")).frames;
    EXPECT_EQ(written + disk.getDroppedSamples(), accepted.load());
    EXPECT_EQ(disk.getWriteErrors(), 0);
}

} // namespace
