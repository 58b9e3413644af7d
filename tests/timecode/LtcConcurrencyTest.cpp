// Audio thread against GUI thread, for the ThreadSanitizer build as much as
// for the checks themselves.
#include "LtcTestSignals.h"

#include "support/TempHome.h"
#include "timecode/LtcDecoder.h"
#include "timecode/LtcEncoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <tuple>
#include <thread>

using namespace ltctest;

namespace {

class LtcConcurrencyTest : public TempHomeTest {};

constexpr int64_t kBasePosition = 3'000'000'000;
constexpr int kFramesPerPass = 250;
constexpr int kPasses = 4;
constexpr int kAudioBlock = 64;

} // namespace

// One thread decodes while another reads snapshots: each snapshot read is one
// frame's time with that same frame's position, never a mixture of two.
TEST_F(LtcConcurrencyTest, SnapshotsAreNeverTorn)
{
    const RateCase rate = allRates()[1]; // 25 fps: frame k starts near k x 1920
    std::vector<int64_t> starts;
    const std::vector<float> pass = plainEncode(rate, 0, 0, 0, 0, kFramesPerPass, &starts);
    const int64_t passLength = static_cast<int64_t>(pass.size());

    LtcDecoder decoder;
    ASSERT_TRUE(decoder.initialize(kSampleRate));
    std::atomic<bool> writerDone{false};
    std::atomic<int64_t> changesSeen{0};

    // The writer goes on past kPasses until the reader has seen the snapshot
    // change a few times, so a reader starved by a busy machine still races it.
    std::thread writer([&] {
        int64_t position = kBasePosition;
        constexpr int kMaxPasses = 100 * kPasses;
        for (int p = 0; p < kMaxPasses && (p < kPasses || changesSeen.load(std::memory_order_relaxed) < 3); ++p) {
            for (int64_t offset = 0; offset < passLength; offset += kAudioBlock) {
                const int n = static_cast<int>(std::min<int64_t>(kAudioBlock, passLength - offset));
                decoder.processAudio(pass.data() + offset, n, position);
                position += n;
            }
        }
        writerDone.store(true, std::memory_order_release);
    });

    int64_t reads = 0;
    int64_t torn = 0;
    int64_t changes = 0;
    int64_t lastPosition = -1;
    while (!writerDone.load(std::memory_order_acquire)) {
        const LtcDecoder::TcSnapshot snap = decoder.getSnapshot();
        ++reads;
        if (!snap.valid)
            continue;
        const int64_t k = snap.seconds * 25 + snap.frames;
        const int64_t inPass = (snap.samplePosition - kBasePosition) % passLength;
        const int64_t tolerance = k == 0 ? 12 : 2;
        const bool consistent = k < kFramesPerPass && snap.hours == 0 && snap.minutes == 0 && snap.fps == 25
                                && !snap.dropFrame && snap.fpsEstimate > 24.0 && snap.fpsEstimate < 26.0
                                && std::llabs(inPass - starts[static_cast<size_t>(k)]) <= tolerance;
        if (!consistent)
            ++torn;
        if (snap.samplePosition != lastPosition) {
            changesSeen.store(++changes, std::memory_order_relaxed);
            lastPosition = snap.samplePosition;
        }
    }
    writer.join();
    EXPECT_EQ(torn, 0) << "of " << reads << " reads";
    EXPECT_GT(changes, 1); // the reader really raced the writer
}

// The GUI thread keeps reading and setting the generator while the audio
// thread renders: a block that collides with a setter is silent, but every
// other block is exactly what an undisturbed generator gives at that sample
// time, and the displayed time only moves forward.
TEST_F(LtcConcurrencyTest, GeneratorKeepsTimeWhileTheGuiThreadWorks)
{
    constexpr int kMaxBlocks = 40000;
    constexpr int kWantedCollisions = 20;
    LtcEncoder undisturbed(kSampleRate, LtcEncoder::Fps25);
    LtcEncoder shared(kSampleRate, LtcEncoder::Fps25);
    undisturbed.setTimecode({1, 2, 3, 4, false});
    shared.setTimecode({1, 2, 3, 4, false});

    std::atomic<bool> stop{false};
    std::atomic<int64_t> backwards{0};
    std::thread gui([&] {
        int64_t lastLabel = 0;
        while (!stop.load(std::memory_order_acquire)) {
            shared.setOutputLevel(LtcEncoder::kDefaultLevelDb); // same level: same samples
            shared.driftPpm.store(0.0);
            const LtcEncoder::Timecode t = shared.getTimecode();
            const int64_t label = ((t.hours * 60 + t.minutes) * 60 + t.seconds) * 25 + t.frames;
            if (label < lastLabel || t.frames >= 25)
                backwards.fetch_add(1);
            lastLabel = label;
        }
    });

    std::vector<float> expected(kAudioBlock);
    std::vector<float> got(kAudioBlock);
    int collisions = 0;
    int mismatches = 0;
    int blocks = 0;
    for (; blocks < kMaxBlocks && (collisions < kWantedCollisions || blocks < 2000); ++blocks) {
        undisturbed.generateSamples(expected.data(), kAudioBlock);
        const int written = shared.generateSamples(got.data(), kAudioBlock);
        if (written == 0) {
            ++collisions;
            mismatches += std::count_if(got.begin(), got.end(), [](float s) { return s != 0.0f; });
        } else if (written != kAudioBlock || got != expected) {
            ++mismatches;
        }
    }
    stop.store(true, std::memory_order_release);
    gui.join();
    // With the GUI thread gone, one more block settles any owed samples.
    undisturbed.generateSamples(expected.data(), kAudioBlock);
    ASSERT_EQ(shared.generateSamples(got.data(), kAudioBlock), kAudioBlock);
    EXPECT_EQ(got, expected);
    EXPECT_EQ(mismatches, 0);
    EXPECT_EQ(backwards.load(), 0);
    const LtcEncoder::Timecode a = undisturbed.getTimecode();
    const LtcEncoder::Timecode b = shared.getTimecode();
    EXPECT_EQ(std::tie(a.hours, a.minutes, a.seconds, a.frames), std::tie(b.hours, b.minutes, b.seconds, b.frames));
    RecordProperty("collisions", collisions);
    RecordProperty("blocks", blocks);
}
