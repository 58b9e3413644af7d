#include "LtcTestSignals.h"

#include "support/TempHome.h"
#include "timecode/LtcDecoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

using namespace ltctest;

namespace {

constexpr int64_t kBasePosition = 5'000'000;
constexpr int kBlockSize = 512;
// The generator's and plain libltc's default level: -10 dBFS on 8 bits.
constexpr float kPlainPeak = 40.0f / 128.0f;

class LtcDecoderTest : public TempHomeTest {};

const RateCase& rateNamed(const char* name)
{
    static const std::vector<RateCase> rates = allRates();
    return *std::find_if(rates.begin(), rates.end(), [&](const RateCase& r) { return std::string(r.name) == name; });
}

void feed(LtcDecoder& decoder, const std::vector<float>& samples, int64_t position)
{
    for (size_t offset = 0; offset < samples.size(); offset += kBlockSize) {
        const int n = static_cast<int>(std::min<size_t>(kBlockSize, samples.size() - offset));
        decoder.processAudio(samples.data() + offset, n, position + static_cast<int64_t>(offset));
    }
}

void expectEmpty(const LtcDecoder::TcSnapshot& snap)
{
    EXPECT_FALSE(snap.valid);
    EXPECT_EQ(snap.fps, 30);
    EXPECT_EQ(snap.hours + snap.minutes + snap.seconds + snap.frames, 0);
    EXPECT_FALSE(snap.dropFrame);
    EXPECT_EQ(snap.fpsEstimate, 0.0);
    EXPECT_EQ(snap.samplePosition, 0);
}

} // namespace

TEST_F(LtcDecoderTest, NothingIsDecodedWithoutALibltcDecoder)
{
    const std::vector<float> signal = plainEncode(rateNamed("25"), 1, 0, 0, 0, 10, nullptr);
    LtcDecoder neverInitialised;
    feed(neverInitialised, signal, kBasePosition);
    expectEmpty(neverInitialised.getSnapshot());

    LtcDecoder refused;
    EXPECT_FALSE(refused.initialize(0));
    feed(refused, signal, kBasePosition);
    expectEmpty(refused.getSnapshot());
    EXPECT_NE(home_.logText().find("LtcDecoder: ERROR - failed to create libltc decoder!"), std::string::npos);
}

// Blocks below the gate never reach libltc, but the clock still runs: the
// first frame after the quiet part is placed at its true position.
TEST_F(LtcDecoderTest, QuietBlocksAreGatedButKeepTheClock)
{
    struct Case {
        float peak;
        bool decoded;
    };
    for (const Case c : {Case{0.029f, false}, Case{0.0f, false}, Case{0.031f, true}}) {
        SCOPED_TRACE(c.peak);
        std::vector<int64_t> starts;
        const std::vector<float> signal = plainEncode(rateNamed("25"), 1, 0, 0, 0, 50, &starts);
        LtcDecoder decoder;
        ASSERT_TRUE(decoder.initialize(kSampleRate));
        std::vector<float> quiet = signal;
        for (float& s : quiet)
            s *= c.peak / kPlainPeak;
        feed(decoder, quiet, kBasePosition);
        EXPECT_EQ(decoder.getSnapshot().valid, c.decoded);
        if (c.decoded)
            continue;

        // Continue the clock from the quiet part's end with the position-less form.
        for (size_t offset = 0; offset < signal.size(); offset += kBlockSize)
            decoder.processAudio(signal.data() + offset,
                                 static_cast<int>(std::min<size_t>(kBlockSize, signal.size() - offset)));
        const LtcDecoder::TcSnapshot snap = decoder.getSnapshot();
        ASSERT_TRUE(snap.valid);
        const int k = snap.seconds * 25 + snap.frames;
        const int64_t expected = kBasePosition + static_cast<int64_t>(signal.size()) + starts[static_cast<size_t>(k)];
        EXPECT_NEAR(static_cast<double>(snap.samplePosition), static_cast<double>(expected), 2.0);
        EXPECT_EQ(snap.fps, 25);
    }
}

// The forced rate wins over the signal, and the nominal rate comes from open bands.
TEST_F(LtcDecoderTest, ForcedRateAndNominalBands)
{
    struct Case {
        double forced;
        int nominal;
    };
    const Case cases[] = {
        {24.0, 24}, {23.976, 24}, {23.5, 30}, {24.5, 30}, {24.51, 25}, {25.49, 25}, {25.5, 30}, {29.97, 30}, {0.0, 25},
    };
    const std::vector<float> signal = plainEncode(rateNamed("25"), 1, 0, 0, 0, 40, nullptr);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.forced);
        LtcDecoder decoder;
        decoder.setForcedFps(c.forced);
        ASSERT_TRUE(decoder.initialize(kSampleRate));
        feed(decoder, signal, kBasePosition);
        const LtcDecoder::TcSnapshot snap = decoder.getSnapshot();
        ASSERT_TRUE(snap.valid);
        EXPECT_EQ(snap.fps, c.nominal);
        if (c.forced > 0.0)
            EXPECT_EQ(snap.fpsEstimate, c.forced);
        else
            EXPECT_NEAR(snap.fpsEstimate, 25.0, 0.05);
    }
}

// The take start moves time by the measured rate; 23.976 must not read as 24,
// nor 29.97 as 30.
TEST_F(LtcDecoderTest, MeasuredRateSeparatesPulledDownRates)
{
    for (const char* name : {"23.976", "24", "29.97DF", "30"}) {
        const RateCase& rate = rateNamed(name);
        SCOPED_TRACE(name);
        const std::vector<float> signal = plainEncode(rate, 1, 0, 0, 0, static_cast<int>(rate.fps * 20), nullptr);
        LtcDecoder decoder;
        ASSERT_TRUE(decoder.initialize(kSampleRate));
        feed(decoder, signal, kBasePosition);
        EXPECT_NEAR(decoder.getSnapshot().fpsEstimate, rate.fps, 0.005);
    }
}

// The take start turns samples into frames at the measured rate, so a rate
// off by a few ppm moves a take's time reference: two seconds of clean LTC at
// whole rates must already measure the rate to well under a ppm.
TEST_F(LtcDecoderTest, CleanLtcMeasuresItsRateWithinAPpmAfterTwoSeconds)
{
    for (const char* name : {"24", "25", "30"}) {
        const RateCase& rate = rateNamed(name);
        SCOPED_TRACE(name);
        const std::vector<float> signal = plainEncode(rate, 1, 0, 0, 0, static_cast<int>(rate.fps * 2), nullptr);
        LtcDecoder decoder;
        ASSERT_TRUE(decoder.initialize(kSampleRate));
        feed(decoder, signal, kBasePosition);
        EXPECT_NEAR(decoder.getSnapshot().fpsEstimate, rate.fps, rate.fps * 1e-6);
    }
}

// Every restart forgets the signal but not the forced rate.
TEST_F(LtcDecoderTest, RestartsPublishAnEmptySnapshot)
{
    const std::vector<float> signal = plainEncode(rateNamed("29.97DF"), 2, 3, 4, 5, 20, nullptr);
    LtcDecoder decoder;
    decoder.setForcedFps(29.97);
    ASSERT_TRUE(decoder.initialize(kSampleRate));

    feed(decoder, signal, kBasePosition);
    ASSERT_TRUE(decoder.getSnapshot().valid);
    EXPECT_TRUE(decoder.getSnapshot().dropFrame);
    decoder.reset();
    expectEmpty(decoder.getSnapshot());
    feed(decoder, signal, kBasePosition); // the libltc decoder survived the reset
    EXPECT_TRUE(decoder.getSnapshot().valid);

    EXPECT_TRUE(decoder.initialize(kSampleRate));
    expectEmpty(decoder.getSnapshot());

    feed(decoder, signal, kBasePosition);
    decoder.shutdown();
    expectEmpty(decoder.getSnapshot());
    feed(decoder, signal, kBasePosition);
    expectEmpty(decoder.getSnapshot());
    EXPECT_EQ(decoder.forcedFps(), 29.97);

    const std::string log = home_.logText();
    EXPECT_NE(log.find("LtcDecoder::initialize - sampleRate=48000 apv=2000"), std::string::npos);
    EXPECT_NE(log.find("LtcDecoder: libltc decoder created successfully"), std::string::npos);
}
