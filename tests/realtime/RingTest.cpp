// The two rings' contracts: the lossless ring hands every frame across
// threads in order (the thread sanitizer build checks the hand-over), the
// recording ring tells a lapped reader so.
#include "realtime/RecordingRing.h"
#include "realtime/SpscRing.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <thread>
#include <vector>

namespace {

// Producer and consumer on their own threads, with block sizes that do not
// divide the capacity, so every write and read straddles the wrap somewhere.
TEST(SpscRingTest, EveryFrameArrivesOnceAndInOrderAcrossThreads)
{
    constexpr uint64_t kFrames = 200'000;
    constexpr size_t kChannels = 3;
    SpscRing<float> ring;
    ring.allocate(kChannels, 1024);
    std::thread producer([&] {
        uint64_t next = 0;
        while (next < kFrames) {
            const uint64_t frames = std::min<uint64_t>({ring.freeFrames(), 97, kFrames - next});
            const uint64_t start = ring.writePosition();
            for (uint64_t i = 0; i < frames; ++i) {
                float* frame = ring.frameAt(start + i);
                for (size_t c = 0; c < kChannels; ++c)
                    frame[c] = static_cast<float>(next + i) + static_cast<float>(c) / 4.0f;
            }
            ring.publishWrite(frames);
            next += frames;
            if (frames == 0)
                std::this_thread::yield();
        }
    });
    uint64_t expected = 0;
    bool inOrder = true;
    while (expected < kFrames && inOrder) {
        const uint64_t frames = std::min<uint64_t>(ring.readableFrames(), 61);
        const uint64_t start = ring.readPosition();
        for (uint64_t i = 0; i < frames && inOrder; ++i) {
            const float* frame = ring.frameAt(start + i);
            for (size_t c = 0; c < kChannels; ++c)
                inOrder = inOrder && frame[c] == static_cast<float>(expected + i) + static_cast<float>(c) / 4.0f;
        }
        ring.publishRead(start + frames);
        expected += frames;
        if (frames == 0)
            std::this_thread::yield();
    }
    producer.join();
    EXPECT_TRUE(inOrder) << "near frame " << expected;
    EXPECT_EQ(ring.readableFrames(), 0u);
}

TEST(SpscRingTest, FullRingRefusesMoreAndASkipReleasesSlots)
{
    SpscRing<int> ring;
    ring.allocate(1, 8);
    EXPECT_EQ(ring.freeFrames(), 8u);
    for (uint64_t i = 0; i < 8; ++i)
        *ring.frameAt(i) = static_cast<int>(i);
    ring.publishWrite(8);
    EXPECT_EQ(ring.freeFrames(), 0u);
    EXPECT_EQ(ring.contiguousFramesAt(8), 8u);
    EXPECT_EQ(ring.contiguousFramesAt(13), 3u);
    // A consumer that skips to the newest frames frees everything before them.
    ring.publishRead(6);
    EXPECT_EQ(ring.freeFrames(), 6u);
    EXPECT_EQ(ring.readableFrames(), 2u);
    EXPECT_EQ(*ring.frameAt(7), 7);
}

TEST(RecordingRingTest, ReaderLearnsWhenTheWriterLappedIt)
{
    RecordingRing ring(2, 10);
    for (uint64_t p = 0; p < 25; ++p) {
        ring.frameAt(p)[0] = static_cast<float>(p);
        ring.frameAt(p)[1] = -static_cast<float>(p);
    }
    ring.publishWritePosition(25);
    EXPECT_EQ(ring.frameAt(24)[0], 24.0f);
    EXPECT_EQ(ring.frameAt(14)[1], -24.0f) << "position 14 shares its row with 24";
    const struct {
        uint64_t position;
        uint64_t margin;
        bool overwritten;
    } cases[] = {{15, 0, false}, {14, 0, true}, {16, 1, false}, {15, 1, true}};
    for (const auto& c : cases)
        EXPECT_EQ(ring.wasOverwritten(c.position, c.margin), c.overwritten) << c.position << " margin " << c.margin;
    EXPECT_EQ(ring.contiguousFramesAt(23), 7u);
}

}  // namespace
