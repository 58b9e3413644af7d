#include "timecode/Timecode.h"

#include <gtest/gtest.h>

namespace {

Timecode tc(int h, int m, int s, int f, int fps, bool df)
{
    return Timecode{h, m, s, f, fps, df};
}

TEST(TimecodeTest, FrameCountsOfKnownTimes)
{
    struct Case {
        Timecode value;
        int64_t frames;
        const char* text;
    };
    const Case cases[] = {
        {tc(0, 1, 0, 2, 30, true), 1800, "00:01:00;02"},
        {tc(0, 10, 0, 0, 30, true), 17982, "00:10:00;00"},
        {tc(1, 0, 0, 0, 30, true), 107892, "01:00:00;00"},
        {tc(0, 0, 59, 29, 30, true), 1799, "00:00:59;29"},
        {tc(0, 1, 0, 2, 29, true), 1800, "00:01:00;02"},
        {tc(1, 0, 0, 0, 24, false), 86400, "01:00:00:00"},
        {tc(1, 2, 3, 4, 25, false), 93079, "01:02:03:04"},
        // The drop-frame flag at 25 fps counts plainly but still prints ';'.
        {tc(0, 1, 0, 0, 25, true), 1500, "00:01:00;00"},
        {tc(23, 59, 59, 29, 30, false), 2591999, "23:59:59:29"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.value.toFrames(), c.frames);
        EXPECT_EQ(c.value.toString(), c.text);
        const Timecode back = Timecode::fromFrames(c.frames, c.value.fps, c.value.dropFrame);
        EXPECT_EQ(back.toString(), c.text);
        EXPECT_EQ(back.fps, c.value.fps);
        EXPECT_EQ(back.dropFrame, c.value.dropFrame);
    }
}

TEST(TimecodeTest, HoursAreNotWrappedAndWideValuesPrintAllDigits)
{
    const Timecode days = Timecode::fromFrames(int64_t(25) * 3600 * 50, 25, false);
    EXPECT_EQ(days.hours, 50);
    EXPECT_EQ(tc(100, 0, 0, 0, 25, false).toString(), "100:00:00:00");
}

TEST(TimecodeTest, InvalidInputsGiveMidnightInsteadOfDividingByZero)
{
    EXPECT_EQ(Timecode::fromFrames(100, 0, false).toString(), "00:00:00:00");
    EXPECT_EQ(Timecode::fromFrames(-5, 25, false).toString(), "00:00:00:00");
}

TEST(TimecodeTest, DropFrameRoundTripsEveryFrameOfADay)
{
    // A 24-hour day at 29.97 DF: 24 x 107892 frames. Every count maps to a
    // label that is never a dropped one and maps back to the same count, and
    // consecutive counts give consecutive labels.
    constexpr int64_t kFramesPerDay = 24 * 107892;
    Timecode previous = Timecode::fromFrames(0, 30, true);
    for (int64_t n = 0; n < kFramesPerDay; ++n) {
        const Timecode label = Timecode::fromFrames(n, 30, true);
        ASSERT_EQ(label.toFrames(), n) << label.toString();
        ASSERT_FALSE(label.seconds == 0 && label.frames < 2 && label.minutes % 10 != 0) << label.toString();
        if (n > 0) {
            Timecode expected = previous;
            if (++expected.frames == 30) {
                expected.frames = 0;
                if (++expected.seconds == 60) {
                    expected.seconds = 0;
                    if (++expected.minutes == 60) {
                        expected.minutes = 0;
                        ++expected.hours;
                    }
                    if (expected.minutes % 10 != 0)
                        expected.frames = 2;
                }
            }
            ASSERT_EQ(label.toString(), expected.toString()) << "after " << previous.toString();
        }
        previous = label;
    }
    EXPECT_EQ(previous.toString(), "23:59:59;29");
}

TEST(TimecodeTest, PlainRatesRoundTripAcrossADay)
{
    for (int fps : {24, 25, 30}) {
        const int64_t framesPerDay = int64_t(fps) * 86400;
        for (int64_t n = 0; n < framesPerDay; n += 997) {
            const Timecode label = Timecode::fromFrames(n, fps, false);
            ASSERT_EQ(label.toFrames(), n);
            ASSERT_LT(label.frames, fps);
        }
    }
}

} // namespace
