// Our generator into our decoder, and each of them against plain libltc.
#include "LtcTestSignals.h"

#include "timecode/LtcDecoder.h"
#include "timecode/LtcEncoder.h"
#include "timecode/Timecode.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

using namespace ltctest;

namespace {

// A ring position far from zero, as the engine hands in.
constexpr int64_t kBasePosition = 1'000'000'007;
constexpr int64_t kStreamSamples = 4 * kSampleRate;
// 10:00:59:20 runs across the start of minute 01, where drop-frame counting
// leaves out labels 00 and 01.
constexpr int kStartHours = 10;
constexpr int kStartMinutes = 0;
constexpr int kStartSeconds = 59;
constexpr int kStartFrames = 20;
// libltc places a frame's start within a couple of samples once it has locked;
// the very first frame is placed more loosely.
constexpr int64_t kStartTolerance = 2;
constexpr int64_t kFirstFrameTolerance = 12;

int64_t startLabelCount(const RateCase& rate)
{
    return Timecode{kStartHours, kStartMinutes, kStartSeconds, kStartFrames, rate.labelFps, rate.dropFrame}.toFrames();
}

int64_t labelCountOf(int h, int m, int s, int f, const RateCase& rate)
{
    return Timecode{h, m, s, f, rate.labelFps, rate.dropFrame}.toFrames();
}

int64_t framesPerDay(const RateCase& rate)
{
    return labelCountOf(24, 0, 0, 0, rate);
}

std::vector<float> generateFromStart(const RateCase& rate, const std::vector<int>& blockSizes)
{
    LtcEncoder encoder(kSampleRate, rate.rate);
    encoder.setTimecode({kStartHours, kStartMinutes, kStartSeconds, kStartFrames, rate.dropFrame});
    return generate(encoder, kStreamSamples, blockSizes);
}

struct BlockCase {
    std::string name;
    std::vector<int> sizes;
};

std::vector<BlockCase> blockCases()
{
    std::vector<BlockCase> cases;
    for (int size : {1, 2, 3, 7, 64, 480, 1000, 1601, 1602, 1920, 2002, 2003, 4096, 4097, 8191, 8192})
        cases.push_back({std::to_string(size), {size}});
    cases.push_back({"random seed 4242", randomBlockSizes(4242, 4000, 8192)});
    cases.push_back({"random small seed 7", randomBlockSizes(7, 4000, 40)});
    return cases;
}

// Plain libltc reads every frame of our generator with the right labels, the
// drop-frame bit, a clear colour-frame bit, correct parity and starts where
// the frame rate puts them.
void expectPlainDecodeOfGenerator(const RateCase& rate, const std::vector<PlainFrame>& frames)
{
    const double samplesPerFrame = kSampleRate / rate.fps;
    const int completeFrames = static_cast<int>(kStreamSamples / samplesPerFrame);
    ASSERT_GE(static_cast<int>(frames.size()), completeFrames - 1);
    const int64_t first = startLabelCount(rate);
    for (size_t k = 0; k < frames.size(); ++k) {
        const PlainFrame& frame = frames[k];
        SCOPED_TRACE("frame " + std::to_string(k));
        EXPECT_EQ(frame.label(rate.dropFrame), labelOf(first + static_cast<int64_t>(k), rate.labelFps, rate.dropFrame));
        EXPECT_EQ(frame.dropFrame, rate.dropFrame);
        EXPECT_FALSE(frame.colourFrame);
        EXPECT_TRUE(frame.evenZeroCount);
        const int64_t nominalStart = kBasePosition + std::llround(static_cast<double>(k) * samplesPerFrame);
        EXPECT_NEAR(static_cast<double>(frame.startPosition), static_cast<double>(nominalStart),
                    k == 0 ? kFirstFrameTolerance : kStartTolerance);
    }
}

// The decoder logs; the log goes to a scratch HOME.
class LtcLoopbackTest : public TempHomeTest {};

} // namespace

TEST_F(LtcLoopbackTest, EveryFrameAtEveryRateAndBlockSize)
{
    for (const RateCase& rate : allRates()) {
        const std::vector<float> reference = generateFromStart(rate, {static_cast<int>(kStreamSamples)});
        ASSERT_EQ(static_cast<int64_t>(reference.size()), kStreamSamples);
        const std::vector<PlainFrame> frames = plainDecode(reference, kBasePosition);
        {
            SCOPED_TRACE(std::string("plain libltc reads generator at ") + rate.name);
            expectPlainDecodeOfGenerator(rate, frames);
        }
        for (const BlockCase& blocks : blockCases()) {
            SCOPED_TRACE(std::string(rate.name) + " fps, blocks " + blocks.name);
            const std::vector<float> signal = generateFromStart(rate, blocks.sizes);
            // The generator's output does not depend on how it is cut.
            ASSERT_EQ(signal, reference);

            LtcDecoder decoder;
            ASSERT_TRUE(decoder.initialize(kSampleRate));
            PlainStreamDecoder oracle;
            std::vector<PlainFrame> seen;
            int64_t position = kBasePosition;
            size_t next = 0;
            int failures = 0;
            while (position < kBasePosition + kStreamSamples && failures < 5) {
                const int64_t offset = position - kBasePosition;
                const int size = static_cast<int>(
                    std::min<int64_t>(blocks.sizes[next++ % blocks.sizes.size()], kStreamSamples - offset));
                if (next == 1)
                    decoder.processAudio(signal.data(), size, position);
                else
                    decoder.processAudio(signal.data() + offset, size); // continues the clock
                const std::vector<PlainFrame> completed = oracle.feed(signal.data() + offset, size, position);
                seen.insert(seen.end(), completed.begin(), completed.end());
                position += size;

                const LtcDecoder::TcSnapshot snap = decoder.getSnapshot();
                if (seen.empty()) {
                    if (snap.valid) {
                        ADD_FAILURE() << "published before a frame was complete, at " << position;
                        ++failures;
                    }
                    continue;
                }
                // Exactly the newest frame, where libltc placed it in our clock.
                const int64_t expected = static_cast<int64_t>(seen.size()) - 1;
                const int64_t k = labelCountOf(snap.hours, snap.minutes, snap.seconds, snap.frames, rate)
                                  - startLabelCount(rate);
                const PlainFrame& want = seen.back();
                const bool ok = snap.valid && k == expected && snap.samplePosition == want.startPosition
                                && snap.dropFrame == rate.dropFrame && snap.fps == rate.nominalFps;
                if (!ok) {
                    ADD_FAILURE() << "after block ending at " << position << ": frame " << k << " at "
                                  << snap.samplePosition << " fps " << snap.fps << " df " << snap.dropFrame
                                  << "; expected frame " << expected << " at " << want.startPosition;
                    ++failures;
                }
            }
            // Every frame was read, in order, whatever the cut of the blocks.
            ASSERT_GE(seen.size() + 1, frames.size());
            for (size_t i = 0; i < seen.size(); ++i) {
                ASSERT_EQ(seen[i].label(rate.dropFrame),
                          labelOf(startLabelCount(rate) + static_cast<int64_t>(i), rate.labelFps, rate.dropFrame));
                if (i > 0) {
                    ASSERT_NEAR(static_cast<double>(seen[i].startPosition),
                                static_cast<double>(frames[i].startPosition), kStartTolerance);
                }
            }
            const LtcDecoder::TcSnapshot last = decoder.getSnapshot();
            EXPECT_NEAR(last.fpsEstimate, rate.fps, 0.05) << "measured rate";
        }
    }
}

// Plain libltc's own encoder into our decoder.
TEST_F(LtcLoopbackTest, DecoderReadsPlainLibltcEncoder)
{
    for (const RateCase& rate : allRates()) {
        SCOPED_TRACE(rate.name);
        std::vector<int64_t> starts;
        const int frameCount = 90;
        const std::vector<float> signal = plainEncode(rate, 23, 59, 58, 0, frameCount, &starts);
        LtcDecoder decoder;
        ASSERT_TRUE(decoder.initialize(kSampleRate));
        const int blockSize = 256; // shorter than any frame: every frame is published on its own
        const int64_t first = labelCountOf(23, 59, 58, 0, rate);
        int64_t expectedNext = 0;
        for (size_t offset = 0; offset < signal.size(); offset += blockSize) {
            const int n = static_cast<int>(std::min<size_t>(blockSize, signal.size() - offset));
            decoder.processAudio(signal.data() + offset, n, kBasePosition + static_cast<int64_t>(offset));
            const LtcDecoder::TcSnapshot snap = decoder.getSnapshot();
            if (!snap.valid)
                continue;
            const int64_t k = (labelCountOf(snap.hours, snap.minutes, snap.seconds, snap.frames, rate) - first
                               + framesPerDay(rate)) % framesPerDay(rate);
            if (k == expectedNext - 1)
                continue; // still the frame published before
            ASSERT_EQ(k, expectedNext) << "a frame was skipped";
            EXPECT_EQ(snap.dropFrame, rate.dropFrame);
            EXPECT_EQ(snap.fps, rate.nominalFps);
            EXPECT_NEAR(static_cast<double>(snap.samplePosition),
                        static_cast<double>(kBasePosition + starts[static_cast<size_t>(k)]),
                        k == 0 ? kFirstFrameTolerance : kStartTolerance);
            ++expectedNext;
        }
        // The last frame waits for the next frame's first edge.
        EXPECT_EQ(expectedNext, frameCount - 1);
        // 23:59:59 rolls over into the next day's 00:00:00.
        const LtcDecoder::TcSnapshot last = decoder.getSnapshot();
        EXPECT_EQ(last.hours, 0);
        EXPECT_EQ(last.minutes, 0);
    }
}
