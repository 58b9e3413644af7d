// A take on the virtual device running in real time: 1 s pre-roll, 2 s take,
// 1 s post-roll give 4 s per file in both layouts, exactly the frames between
// the take's start position and its end position as the engine logged them
// (the test presses stop once 2 s have been rendered; how much later depends
// on the machine's load, so only the pre-roll and the post-roll are exact),
// sample-exact against the fed input apart from the final 64-frame fade.

#include "TakeRoadSupport.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kSecond = 48000;
constexpr uint64_t kCyclesPerSecond = kSecond / 256;

class TakeRoadRealTimeTest : public TakeRoadTest {
protected:
    void waitSeconds(double seconds)
    {
        const uint64_t target = system_->renderCycleCount() + static_cast<uint64_t>(seconds * kCyclesPerSecond) + 1;
        ASSERT_TRUE(system_->waitForRenderCycles(target, std::chrono::seconds(30)));
    }
    // The number after the last `key` in this take's part of the log.
    int64_t loggedNumber(const std::string& key) const
    {
        const std::string log = home_.logText().substr(logOffset_);
        const size_t at = log.rfind(key);
        return at == std::string::npos ? -1 : std::stoll(log.substr(at + key.size()));
    }
    size_t logOffset_ = 0;
};

TEST_F(TakeRoadRealTimeTest, FourSecondTakeInBothLayouts)
{
    for (const int format : {kFileFormatPolyphonic, kFileFormatMono}) {
        SCOPED_TRACE(format);
        setUpTakeRoad(8, format, VirtualAudioSystem::Mode::RealTime);
        ASSERT_FALSE(HasFatalFailure());
        engine_->setPrerollDuration(1);
        engine_->setPostrollDuration(1);
        armTracks({0, 2});
        waitSeconds(1.5);
        ASSERT_TRUE(engine_->startRecording());
        waitSeconds(2.0);
        ASSERT_TRUE(engine_->stopRecording());
        ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(30)));
        EXPECT_EQ(engine_->getDroppedSamples(), 0);
        EXPECT_EQ(engine_->getWriteErrors(), 0);

        const int64_t takeFrames = loggedNumber("endPos=") - loggedNumber("startPos=");
        EXPECT_EQ(loggedNumber("prerollSamples="), static_cast<int64_t>(kSecond));
        EXPECT_NE(home_.logText().find("CoreAudio: Post-roll: 1s (48000 samples)", logOffset_), std::string::npos);
        // A block that was being rendered as the take started counts among
        // the 2 s the test waits for.
        EXPECT_GE(takeFrames, static_cast<int64_t>(4 * kSecond - kBlockFrames));
        EXPECT_LT(takeFrames, static_cast<int64_t>(5 * kSecond)) << "stop came more than a second late";
        const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
        ASSERT_EQ(files.size(), format == kFileFormatPolyphonic ? 1u : 3u);
        // Track 0 is the polyphonic file's channel 1, or the second mono file.
        const AudioFile track0 = readWithSndfile(files[format == kFileFormatPolyphonic ? 0 : 1]);
        const int channel = format == kFileFormatPolyphonic ? 1 : 0;
        for (const std::string& path : files) {
            const AudioFile file = readWithSndfile(path);
            ASSERT_TRUE(file.ok) << path;
            EXPECT_EQ(file.frames, takeFrames) << path;
        }
        // Where the fed signal stood at the take's first frame.
        uint64_t offset = 0;
        while (offset < kFedFrames && fedSample(0, offset) != track0.at(0, channel))
            ++offset;
        ASSERT_LT(offset, kFedFrames);
        int64_t mismatches = 0;
        for (int64_t k = 0; k < track0.frames; ++k)
            mismatches += track0.at(k, channel) != fedSample(0, offset + static_cast<uint64_t>(k)) * fadeGain(k, track0.frames);
        EXPECT_EQ(mismatches, 0);
        engine_.reset();
        logOffset_ = home_.logText().size();
    }
}

}  // namespace
