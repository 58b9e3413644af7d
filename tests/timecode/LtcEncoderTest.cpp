#include "LtcTestSignals.h"

#include "timecode/LtcEncoder.h"
#include "timecode/Timecode.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <tuple>

using namespace ltctest;

// Lets a test hold the generator's settings lock the way a GUI-thread setter
// does, at a block of its choosing.
class LtcEncoderTestAccess {
public:
    static std::unique_lock<std::mutex> holdSettings(LtcEncoder& encoder)
    {
        return std::unique_lock<std::mutex>(encoder.settingsMutex);
    }
};

namespace {

using Tc = LtcEncoder::Timecode;

auto fields(const Tc& t)
{
    return std::make_tuple(int(t.hours), int(t.minutes), int(t.seconds), int(t.frames), t.dropFrame);
}

float peakOf(const std::vector<float>& samples)
{
    float peak = 0.0f;
    for (float s : samples)
        peak = std::max(peak, std::fabs(s));
    return peak;
}

int64_t labelCount(const PlainFrame& f, const RateCase& rate)
{
    return ::Timecode{f.hours, f.minutes, f.seconds, f.frames, rate.labelFps, rate.dropFrame}.toFrames();
}

} // namespace

// At 25 fps a frame is 1920 samples: blocks of 1000 continue the frame across
// calls and the time moves on once the frame's last sample has left.
TEST(LtcEncoderTest, FramesRunAcrossBlocks)
{
    LtcEncoder whole(kSampleRate, LtcEncoder::Fps25);
    LtcEncoder pieces(kSampleRate, LtcEncoder::Fps25);
    whole.setTimecode({10, 0, 0, 0, false});
    pieces.setTimecode({10, 0, 0, 0, false});
    std::vector<float> expected(3000);
    ASSERT_EQ(whole.generateSamples(expected.data(), 3000), 3000);

    std::vector<float> got(3000);
    ASSERT_EQ(pieces.generateSamples(got.data(), 1000), 1000);
    EXPECT_EQ(fields(pieces.getTimecode()), fields(Tc{10, 0, 0, 0, false}));
    ASSERT_EQ(pieces.generateSamples(got.data() + 1000, 1000), 1000);
    EXPECT_EQ(fields(pieces.getTimecode()), fields(Tc{10, 0, 0, 1, false}));
    ASSERT_EQ(pieces.generateSamples(got.data() + 2000, 1000), 1000);
    EXPECT_EQ(fields(pieces.getTimecode()), fields(Tc{10, 0, 0, 1, false}));
    EXPECT_EQ(got, expected);
}

TEST(LtcEncoderTest, SetTimecodeClampsToTheRate)
{
    struct Case {
        LtcEncoder::FrameRate rate;
        Tc in;
        Tc stored;
    };
    const Case cases[] = {
        {LtcEncoder::Fps25, {30, 75, 61, 40, false}, {23, 59, 59, 24, false}},
        {LtcEncoder::Fps24, {99, 99, 99, 99, false}, {23, 59, 59, 23, false}},
        {LtcEncoder::Fps23976, {12, 0, 0, 25, false}, {12, 0, 0, 23, false}},
        {LtcEncoder::Fps30, {12, 0, 0, 31, false}, {12, 0, 0, 29, false}},
        // A drop-frame label that does not exist moves to the first that does.
        {LtcEncoder::Fps2997, {0, 1, 0, 0, true}, {0, 1, 0, 2, true}},
        {LtcEncoder::Fps2997, {0, 10, 0, 0, true}, {0, 10, 0, 0, true}},
        {LtcEncoder::Fps30, {0, 1, 0, 0, false}, {0, 1, 0, 0, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(int(c.rate));
        LtcEncoder encoder(kSampleRate, c.rate);
        encoder.setTimecode(c.in);
        EXPECT_EQ(fields(encoder.getTimecode()), fields(c.stored));
    }
}

// Only 29.97 and 30 carry the drop-frame bit; plain libltc reads the frames
// with the bit, labels that skip 00 and 01 at the minute, and right parity.
TEST(LtcEncoderTest, DropFrameBitAsPlainLibltcReadsIt)
{
    for (const RateCase& rate : allRates()) {
        SCOPED_TRACE(rate.name);
        const bool carried = rate.rate == LtcEncoder::Fps2997 || rate.rate == LtcEncoder::Fps30;
        LtcEncoder encoder(kSampleRate, rate.rate);
        encoder.setTimecode({0, 0, 59, 20, true});
        EXPECT_EQ(encoder.getTimecode().dropFrame, carried);
        EXPECT_EQ(encoder.getLtcTVStandard(), rate.labelFps == 25 ? 1 : rate.labelFps == 24 ? 3 : 0);
        EXPECT_EQ(encoder.getMaxFrames(), rate.labelFps);
        EXPECT_DOUBLE_EQ(encoder.getFpsDouble(), rate.fps);

        const std::vector<float> signal = generate(encoder, kSampleRate, {512});
        const std::vector<PlainFrame> frames = plainDecode(signal, 0);
        ASSERT_GT(frames.size(), 20u);
        RateCase counted = rate;
        counted.dropFrame = carried;
        const int64_t first = labelCount(frames[0], counted);
        for (size_t k = 0; k < frames.size(); ++k) {
            EXPECT_EQ(frames[k].dropFrame, carried);
            EXPECT_TRUE(frames[k].evenZeroCount);
            EXPECT_EQ(frames[k].label(carried),
                      labelOf(first + static_cast<int64_t>(k), counted.labelFps, carried));
        }
    }
}

TEST(LtcEncoderTest, OutputLevelAndRateChange)
{
    struct Case {
        double levelDb;
    };
    for (const Case c : {Case{-3.0}, Case{-10.0}, Case{-20.0}}) {
        SCOPED_TRACE(c.levelDb);
        LtcEncoder encoder(kSampleRate, LtcEncoder::Fps30);
        encoder.setOutputLevel(c.levelDb);
        const float expected = static_cast<float>(127.0 * std::pow(10.0, c.levelDb / 20.0) / 128.0);
        EXPECT_NEAR(peakOf(generate(encoder, 4800, {480})), expected, 1.0 / 128.0);
    }

    // A rate change keeps the time (clamped to the new rate) and the level
    // returns to -10 dBFS.
    LtcEncoder encoder(kSampleRate, LtcEncoder::Fps30);
    encoder.setOutputLevel(-20.0);
    encoder.setTimecode({7, 8, 9, 29, false});
    encoder.setFrameRate(LtcEncoder::Fps23976);
    EXPECT_EQ(fields(encoder.getTimecode()), fields(Tc{7, 8, 9, 23, false}));
    EXPECT_EQ(encoder.getFrameRate(), LtcEncoder::Fps23976);
    const std::vector<float> signal = generate(encoder, kSampleRate, {256});
    EXPECT_NEAR(peakOf(signal), 127.0 * std::pow(10.0, -10.0 / 20.0) / 128.0, 1.0 / 128.0);
    const std::vector<PlainFrame> frames = plainDecode(signal, 0);
    ASSERT_GT(frames.size(), 20u);
    EXPECT_EQ(frames[0].label(false), "07:08:09:23");
    EXPECT_EQ(frames[1].label(false), "07:08:10:00");
    EXPECT_NEAR(static_cast<double>(frames[5].startPosition - frames[4].startPosition), 2002.0, 1.0);

    // Drop-frame survives a change between the two rates that carry it.
    encoder.setFrameRate(LtcEncoder::Fps30);
    encoder.setTimecode({1, 0, 0, 0, true});
    encoder.setFrameRate(LtcEncoder::Fps2997);
    EXPECT_TRUE(encoder.getTimecode().dropFrame);
}

TEST(LtcEncoderTest, WithoutALibltcEncoderNothingHappens)
{
    LtcEncoder encoder(0, LtcEncoder::Fps25);
    encoder.setTimecode({1, 2, 3, 4, false});
    encoder.setOutputLevel(-3.0);
    encoder.setFrameRate(LtcEncoder::Fps24);
    std::vector<float> out(64, 0.5f);
    EXPECT_EQ(encoder.generateSamples(out.data(), 64), 0);
    EXPECT_EQ(out, std::vector<float>(64, 0.5f));
    EXPECT_EQ(fields(encoder.getTimecode()), fields(Tc{}));
}

// A block that finds a setter holding the lock is silent, but the stream is
// not delayed: every other sample is what an undisturbed generator gives at
// the same sample time.
TEST(LtcEncoderTest, ACollisionDoesNotShiftTheTimecode)
{
    struct Case {
        const char* name;
        std::vector<int> blockSizes;
        std::vector<int> collidingBlocks;
    };
    const Case cases[] = {
        {"64, one collision", {64}, {10}},
        {"512, two in a row", {512}, {3, 4}},
        {"random, many", randomBlockSizes(99, 200, 3000), {0, 5, 6, 7, 30, 31, 60, 61, 62, 63, 64, 150}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LtcEncoder reference(kSampleRate, LtcEncoder::Fps2997);
        LtcEncoder disturbed(kSampleRate, LtcEncoder::Fps2997);
        reference.setTimecode({0, 0, 59, 0, true});
        disturbed.setTimecode({0, 0, 59, 0, true});
        std::vector<float> expected;
        std::vector<float> got;
        for (int block = 0; block < 200; ++block) {
            const int size = c.blockSizes[static_cast<size_t>(block) % c.blockSizes.size()];
            std::vector<float> a(static_cast<size_t>(size));
            std::vector<float> b(static_cast<size_t>(size), 0.5f);
            ASSERT_EQ(reference.generateSamples(a.data(), size), size);
            const bool collide = std::count(c.collidingBlocks.begin(), c.collidingBlocks.end(), block) > 0;
            if (collide) {
                auto held = LtcEncoderTestAccess::holdSettings(disturbed);
                ASSERT_EQ(disturbed.generateSamples(b.data(), size), 0);
                EXPECT_EQ(b, std::vector<float>(b.size(), 0.0f));
                std::fill(a.begin(), a.end(), 0.0f); // the silent block
            } else {
                ASSERT_EQ(disturbed.generateSamples(b.data(), size), size);
                EXPECT_EQ(fields(disturbed.getTimecode()), fields(reference.getTimecode()));
            }
            expected.insert(expected.end(), a.begin(), a.end());
            got.insert(got.end(), b.begin(), b.end());
        }
        ASSERT_EQ(got, expected);
    }
}

// Drift trims the speed by skipping (faster) or repeating (slower) single
// samples; over ten seconds the frames sit where the trimmed rate puts them,
// whatever the block size, and every frame still decodes.
TEST(LtcEncoderTest, DriftMovesFramesByTheTrim)
{
    const RateCase rate = allRates()[1]; // 25 fps, 1920 samples a frame
    const double frameSamples = kSampleRate / rate.fps;
    const int64_t total = 10 * kSampleRate;
    for (double ppm : {1000.0, -1000.0, 100.0, -100.0, 0.0}) {
        for (int block : {1, 64, 512, 1920, 4096}) {
            SCOPED_TRACE(std::to_string(ppm) + " ppm, blocks of " + std::to_string(block));
            LtcEncoder encoder(kSampleRate, LtcEncoder::Fps25);
            encoder.driftPpm = ppm;
            const std::vector<float> signal = generate(encoder, total, {block});
            ASSERT_EQ(static_cast<int64_t>(signal.size()), total);
            const std::vector<PlainFrame> frames = plainDecode(signal, 0);
            ASSERT_GE(static_cast<int64_t>(frames.size()), static_cast<int64_t>(total / frameSamples) - 1);
            // A correction is taken for a whole block ahead, a repeat waits
            // for a frame boundary, and libltc places a frame that follows a
            // stretched cell a few samples less tightly.
            const double tolerance = 8.0 + std::ceil(std::fabs(ppm) * (block + frameSamples) / 1e6);
            for (size_t k = 1; k < frames.size(); ++k) {
                ASSERT_EQ(frames[k].seconds * 25 + frames[k].frames, static_cast<int>(k));
                const double expectedStart = static_cast<double>(k) * frameSamples / (1.0 + ppm / 1e6);
                ASSERT_NEAR(static_cast<double>(frames[k].startPosition), expectedStart, tolerance) << "frame " << k;
            }
        }
    }
}

// Blocks stamped with the caller's clock: the placement names the frame being
// played and the clock value of its first sample, as plain libltc finds it in
// the signal, at every rate and block size; a silent block while a setter
// holds the settings does not move later frames off the clock.
TEST(LtcEncoderTest, PlacementIsWhereThePlayingFrameBegan)
{
    constexpr int64_t kFirstPosition = 700000;
    for (const RateCase& rate : allRates()) {
        for (const std::vector<int>& sizes : {std::vector<int>{256}, randomBlockSizes(7, 64, 3000)}) {
            SCOPED_TRACE(std::string(rate.name) + ", " + std::to_string(sizes.size()) + " block sizes");
            LtcEncoder encoder(kSampleRate, rate.rate);
            LtcEncoder disturbed(kSampleRate, rate.rate);
            encoder.setTimecode({1, 0, 0, 0, rate.dropFrame});
            disturbed.setTimecode({1, 0, 0, 0, rate.dropFrame});
            LtcEncoder::Placement unplaced;
            ASSERT_TRUE(encoder.tryGetPlacement(unplaced));
            EXPECT_EQ(unplaced.startPosition, -1) << "no stamped block yet";

            std::vector<float> signal;
            std::vector<LtcEncoder::Placement> placements;
            int64_t position = kFirstPosition;
            for (int block = 0; position - kFirstPosition < 10 * kSampleRate; ++block) {
                const int size = sizes[static_cast<size_t>(block) % sizes.size()];
                std::vector<float> out(static_cast<size_t>(size));
                ASSERT_EQ(encoder.generateSamples(out.data(), size, position), size);
                std::vector<float> ignored(static_cast<size_t>(size));
                if (block % 37 == 5) {
                    auto held = LtcEncoderTestAccess::holdSettings(disturbed);
                    ASSERT_EQ(disturbed.generateSamples(ignored.data(), size, position), 0);
                } else {
                    ASSERT_EQ(disturbed.generateSamples(ignored.data(), size, position), size);
                }
                signal.insert(signal.end(), out.begin(), out.end());
                position += size;
                LtcEncoder::Placement placed;
                ASSERT_TRUE(encoder.tryGetPlacement(placed));
                EXPECT_EQ(fields(placed.time()), fields(encoder.getTimecode()));
                placements.push_back(placed);
                if (block % 37 != 5) {
                    LtcEncoder::Placement other;
                    ASSERT_TRUE(disturbed.tryGetPlacement(other));
                    EXPECT_EQ(other.startPosition, placed.startPosition) << "block " << block;
                    EXPECT_EQ(other.packedTime, placed.packedTime) << "block " << block;
                }
            }
            const std::vector<PlainFrame> frames = plainDecode(signal, kFirstPosition);
            ASSERT_GT(frames.size(), static_cast<size_t>(9 * rate.labelFps));
            int checked = 0;
            for (const LtcEncoder::Placement& placed : placements) {
                const PlainFrame* match = nullptr;
                // libltc places the first frame from the silence before it only roughly.
                for (size_t index = 1; index < frames.size(); ++index)
                    if (const PlainFrame& frame = frames[index];
                        std::make_tuple(frame.hours, frame.minutes, frame.seconds, frame.frames)
                        == std::make_tuple(int(placed.time().hours), int(placed.time().minutes),
                                           int(placed.time().seconds), int(placed.time().frames)))
                        match = &frame;
                if (match == nullptr)
                    continue;  // the frame still playing at the end is not decoded yet
                EXPECT_NEAR(static_cast<double>(placed.startPosition), static_cast<double>(match->startPosition), 8.0);
                ++checked;
            }
            EXPECT_GT(checked, static_cast<int>(placements.size() * 9 / 10));
        }
    }
}
