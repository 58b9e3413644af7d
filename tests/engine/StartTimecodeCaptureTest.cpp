#include "engine/take/StartTimecodeCapture.h"

#include "core/ConfigManager.h"
#include "core/settings/LtcKeys.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>

namespace {

constexpr int kRate = 48000;

LtcSnapshotValues snapshot(int h, int m, int s, int f, int fps, bool df, double estimate, int64_t anchor)
{
    return LtcSnapshotValues{h, m, s, f, fps, df, estimate, true, anchor};
}

StartTimecodeInputs inputs(const LtcSnapshotValues& snap, uint64_t start, int frameOffset = 0)
{
    StartTimecodeInputs in;
    in.startPositionFrames = start;
    in.sampleRate = kRate;
    in.snapshot = snap;
    in.detectedFps = snap.fpsEstimate;
    in.frameOffset = frameOffset;
    in.localTime = LocalDateTime{2024, 3, 7, 14, 5, 9};
    return in;
}

bool hasLine(const StartTimecodeResult& r, const std::string& line)
{
    return std::find(r.logLines.begin(), r.logLines.end(), line) != r.logLines.end();
}

TEST(StartTimecodeCaptureTest, MovesTheSnapshotToTheTakeStart)
{
    struct Case {
        const char* what;
        StartTimecodeInputs in;
        const char* timecode;
        bool dropFrame;
        uint32_t timestampRate;
        uint64_t timeReference;
        const char* originationTime;
    };
    const LtcSnapshotValues ten25 = snapshot(10, 0, 0, 0, 25, false, 25.0, 1'000'000);
    const LtcSnapshotValues oneDf = snapshot(1, 0, 0, 0, 30, true, 29.97, 500'000);
    const LtcSnapshotValues lastDfFrame = snapshot(23, 59, 59, 29, 30, true, 29.97, 500'000);
    const LtcSnapshotValues one24 = snapshot(1, 0, 0, 0, 24, false, 23.976, 10'000);

    StartTimecodeInputs at44k = inputs(oneDf, 500'000);
    at44k.sampleRate = 44100;
    StartTimecodeInputs at5994 = inputs(snapshot(0, 0, 1, 0, 30, false, 59.94, 0), 0);

    const Case cases[] = {
        {"one second after the anchor", inputs(ten25, 1'048'000), "10:00:01:00", false, 48000, 1'728'048'000,
         "10:00:01"},
        {"one second before the anchor (pre-roll)", inputs(ten25, 952'000), "09:59:59:00", false, 48000,
         1'727'952'000, "09:59:59"},
        {"half a frame after the anchor: time reference exactly at S", inputs(ten25, 1'000'960), "10:00:00:00",
         false, 48000, 1'728'000'000 + 960, "10:00:00"},
        {"negative offset wraps below midnight", inputs(snapshot(0, 0, 0, 2, 25, false, 25.0, 7), 7, -5),
         "23:59:59:22", false, 48000, 2'159'997ull * 1920, "23:59:59"},
        // exact = -0.5: floor (not truncation) puts S in the last frame of the day.
        {"half a frame before midnight", inputs(snapshot(0, 0, 0, 0, 25, false, 25.0, 10'000), 9'040),
         "23:59:59:24", false, 48000, 4'147'199'040, "23:59:59"},
        {"drop-frame 29.97 counts at 48048", inputs(oneDf, 500'000), "01:00:00;00", true, 48048, 172'799'827,
         "01:00:00"},
        {"drop-frame day wraps at 2589408 frames", inputs(lastDfFrame, 501'602), "00:00:00;00", true, 48048, 0,
         "00:00:00"},
        {"23.976 measured keeps 24-frame labels", inputs(one24, 10'000), "01:00:00:00", false, 48048,
         3600ull * 48048, "01:00:00"},
        {"29.97 at 44100 Hz", at44k, "01:00:00;00", true, 44144, 158'759'482, "01:00:00"},
        {"59.94 is fractional too", at5994, "00:00:01:00", false, 48048, 48048, "00:00:01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const StartTimecodeResult r = captureStartTimecode(c.in);
        EXPECT_EQ(r.startTimecode.toString(), c.timecode);
        EXPECT_EQ(r.takeDropFrame, c.dropFrame);
        EXPECT_EQ(r.startTimecode.dropFrame, c.dropFrame);
        EXPECT_EQ(r.takeTimestampSampleRate, c.timestampRate);
        EXPECT_EQ(r.takeTimeReference, c.timeReference);
        EXPECT_EQ(r.takeOriginationTime, c.originationTime);
        EXPECT_EQ(r.takeOriginationDate, "2024-03-07");
        EXPECT_DOUBLE_EQ(r.takeFrameRate, c.in.snapshot.fpsEstimate);
        EXPECT_TRUE(r.timecodeUsable);
        EXPECT_GE(r.startFrameFraction, 0.0);
        EXPECT_LT(r.startFrameFraction, 1.0);
    }
}

TEST(StartTimecodeCaptureTest, WorkedExampleLogsEveryStep)
{
    StartTimecodeInputs in = inputs(snapshot(10, 0, 0, 0, 25, false, 25.0, 1'000'000), 1'048'000);
    in.prerollFrames = 96'000;
    const std::vector<std::string> expected = {
        "===== RECORDING START - TIMECODE CAPTURE (sample-anchored) =====",
        "CoreAudio: LTC snapshot: 10:00:00:00 anchor=1000000 fileStartPos=1048000 (preroll=96000 samples) valid=YES",
        "CoreAudio: TC at file sample 0: 10:00:01:00 (+0.000000 frame) [anchorFrames=900000 elapsed=48000 samples "
        "frameOffset=0]",
        "CoreAudio: FINAL timecode for BWF metadata: 10:00:01:00 (NDF) @ 25.000000 fps",
        std::string(49, '='),
        "CoreAudio: Time reference: 1728048000 samples (at 48000 Hz TC sample rate)",
    };
    // Tools read these lines: a comma-decimal locale (where it is generated)
    // must not change a figure.
    const std::string startLocale = std::setlocale(LC_ALL, nullptr);
    for (const char* locale : {"C", "de_DE.UTF-8"}) {
        if (std::setlocale(LC_ALL, locale) == nullptr)
            continue;
        SCOPED_TRACE(locale);
        const StartTimecodeResult r = captureStartTimecode(in);
        EXPECT_EQ(r.logLines, expected);
        EXPECT_EQ(r.startFrameCount, 900'025);
        EXPECT_EQ(r.startTimecode.fps, 25);
    }
    std::setlocale(LC_ALL, startLocale.c_str());
}

TEST(StartTimecodeCaptureTest, FractionalRateLogsTheAdjustedRate)
{
    const StartTimecodeResult r = captureStartTimecode(inputs(snapshot(1, 0, 0, 0, 30, true, 29.97, 500'000), 500'000));
    EXPECT_TRUE(hasLine(r, "CoreAudio: Using adjusted TC sample rate for fractional framerate: 48048 Hz"));
    EXPECT_TRUE(hasLine(r, "CoreAudio: FINAL timecode for BWF metadata: 01:00:00;00 (DF) @ 29.970000 fps"));
    EXPECT_TRUE(hasLine(r, "CoreAudio: Time reference: 172799827 samples (at 48048 Hz TC sample rate)"));
}

TEST(StartTimecodeCaptureTest, ForcedRateDecidesDropFrameOnlyAt2997)
{
    struct Case {
        double forcedFps;
        bool forcedDropFrame;
        bool framesCarryDropFrame;
        bool expectedDropFrame;
        const char* logLine; // nullptr: no forced drop-frame line
    };
    const Case cases[] = {
        {29.97, false, true, false, "CoreAudio: Using forced drop frame setting: NDF"},
        {29.97, true, false, true, "CoreAudio: Using forced drop frame setting: DF"},
        {25.0, true, false, false, nullptr},
        {0.0, true, true, true, nullptr}, // detected 29.97 keeps the frames' bit
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.forcedFps) + (c.forcedDropFrame ? " DF" : " NDF"));
        StartTimecodeInputs in = inputs(snapshot(2, 0, 0, 0, c.forcedFps == 25.0 ? 25 : 30, c.framesCarryDropFrame,
                                                 c.forcedFps > 0 ? c.forcedFps : 29.97, 0),
                                        0);
        in.forcedFps = c.forcedFps;
        in.forcedDropFrame = c.forcedDropFrame;
        const StartTimecodeResult r = captureStartTimecode(in);
        EXPECT_EQ(r.takeDropFrame, c.expectedDropFrame);
        EXPECT_EQ(r.startTimecode.hours, 2);
        const bool logged =
            std::any_of(r.logLines.begin(), r.logLines.end(),
                        [](const std::string& l) { return l.rfind("CoreAudio: Using forced drop frame", 0) == 0; });
        EXPECT_EQ(logged, c.logLine != nullptr);
        if (c.logLine) {
            EXPECT_TRUE(hasLine(r, c.logLine));
        }
    }
}

TEST(StartTimecodeCaptureTest, WithoutUsableTimecode)
{
    struct Case {
        const char* what;
        LtcSnapshotValues snap;
        double detectedFps;
        int sampleRate;
        const char* timecode;
        const char* originationTime;
    };
    const Case cases[] = {
        {"nothing decoded yet", LtcSnapshotValues{}, 0.0, kRate, "00:00:00:00", "14:05:09"},
        {"frame decoded, rate not yet measured", snapshot(10, 20, 30, 4, 30, false, -1.0, 5000), -1.0, kRate,
         "10:20:30:04", "10:20:30"},
        {"no sample rate", snapshot(10, 20, 30, 4, 25, false, 25.0, 5000), 25.0, 0, "10:20:30:04", "10:20:30"},
        {"absurd rate", snapshot(10, 20, 30, 4, 25, false, 1e300, 0), 1e300, kRate, "10:20:30:04", "10:20:30"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        StartTimecodeInputs in = inputs(c.snap, 96'000'000);
        in.detectedFps = c.detectedFps;
        in.sampleRate = c.sampleRate;
        const StartTimecodeResult r = captureStartTimecode(in);
        EXPECT_FALSE(r.timecodeUsable);
        EXPECT_EQ(r.startTimecode.toString(), c.timecode);
        EXPECT_EQ(r.takeTimeReference, 0u);
        EXPECT_EQ(r.takeOriginationTime, c.originationTime);
        EXPECT_EQ(r.takeOriginationDate, "2024-03-07");
        EXPECT_FALSE(std::any_of(r.logLines.begin(), r.logLines.end(), [](const std::string& l) {
            return l.rfind("CoreAudio: Time reference", 0) == 0 || l.rfind("CoreAudio: TC at file", 0) == 0;
        }));
    }
    // The empty snapshot is 30 fps; the start timecode keeps that rate.
    EXPECT_EQ(captureStartTimecode(inputs(LtcSnapshotValues{}, 0)).startTimecode.fps, 30);
}

TEST(StartTimecodeCaptureTest, EstimateStandsInForAMissingDetectedRate)
{
    StartTimecodeInputs in = inputs(snapshot(10, 0, 0, 0, 25, false, 25.0, 0), 48'000);
    in.detectedFps = 0.0;
    const StartTimecodeResult r = captureStartTimecode(in);
    EXPECT_TRUE(r.timecodeUsable);
    EXPECT_DOUBLE_EQ(r.takeFrameRate, 25.0);
    EXPECT_EQ(r.startTimecode.toString(), "10:00:01:00");
}

class StartTimecodeSettingsTest : public TempHomeTest {};

TEST_F(StartTimecodeSettingsTest, ReadsOffsetAndForcedDropFrameKeys)
{
    StartTimecodeInputs in;
    readStartTimecodeSettings(in);
    EXPECT_FALSE(in.forcedDropFrame);
    EXPECT_EQ(in.frameOffset, 0);

    ConfigManager::getInstance()->setBool(LtcKeys::kForcedDropFrame, true);
    ConfigManager::getInstance()->setInt(LtcKeys::kFrameOffset, -3);
    readStartTimecodeSettings(in);
    EXPECT_TRUE(in.forcedDropFrame);
    EXPECT_EQ(in.frameOffset, -3);
}

} // namespace
