// Takes end to end on the stepped virtual device: start at a ring position
// with pre-roll and timecode, the ring writer's copy, stop with post-roll,
// fade, close and rename; files are read back with libsndfile and ffprobe,
// and the timecode is checked against the take's own LTC track decoded by
// libltc.

#include "TakeRoadSupport.h"

#include "core/ConfigManager.h"
#include "support/ExternalTool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <ltc.h>

#include <cmath>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;
constexpr int kLtcFps = 25;
constexpr uint64_t kLtcFrameSamples = kSecond / kLtcFps;

struct Probe {
    int channels = 0;
    int64_t durationTs = -1;
    std::string timeReference;
};

Probe probe(const std::string& path)
{
    const ToolResult r = runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_streams",
                                                       "-show_format", QString::fromStdString(path)});
    EXPECT_EQ(r.exitCode, 0) << r.standardError.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.standardOutput.toUtf8()).object();
    const QJsonObject stream = root["streams"].toArray().at(0).toObject();
    return Probe{stream["channels"].toInt(), stream["duration_ts"].toVariant().toLongLong(),
                 root["format"].toObject()["tags"].toObject()["time_reference"].toString().toStdString()};
}

// The samples since midnight of a file's first sample, worked out from the
// LTC recorded in the file: libltc labels a frame and says roughly where it
// begins; the device's frames begin on multiples of 1920 ring positions, so
// the frame's exact start is the nearest such position.
int64_t timeReferenceFromRecordedLtc(const std::vector<float>& ltc, uint64_t fileStartPosition)
{
    LTCDecoder* decoder = ltc_decoder_create(static_cast<int>(kLtcFrameSamples), 32);
    std::vector<ltcsnd_sample_t> bytes(ltc.size());
    for (size_t i = 0; i < ltc.size(); ++i)
        bytes[i] = static_cast<ltcsnd_sample_t>(std::lround(128.0 + 127.0 * ltc[i]));
    int64_t result = -1;
    LTCFrameExt frame;
    for (size_t offset = 0; offset < bytes.size() && result < 0; offset += kLtcFrameSamples) {
        const size_t count = std::min<size_t>(kLtcFrameSamples, bytes.size() - offset);
        ltc_decoder_write(decoder, bytes.data() + offset, count, static_cast<ltc_off_t>(offset));
        while (result < 0 && ltc_decoder_read(decoder, &frame)) {
            SMPTETimecode tc{};
            ltc_frame_to_time(&tc, &frame.ltc, LTC_USE_DATE);
            const int64_t frameOfDay = ((tc.hours * 60LL + tc.mins) * 60 + tc.secs) * kLtcFps + tc.frame;
            const double approxPosition = static_cast<double>(fileStartPosition) + static_cast<double>(frame.off_start);
            const int64_t framePosition =
                std::llround(approxPosition / static_cast<double>(kLtcFrameSamples)) * static_cast<int64_t>(kLtcFrameSamples);
            result = frameOfDay * static_cast<int64_t>(kLtcFrameSamples) - (framePosition - static_cast<int64_t>(fileStartPosition));
        }
    }
    ltc_decoder_free(decoder);
    return result;
}

// --- Both layouts, with and without the mix -------------------------------------

struct LayoutCase {
    const char* name;
    int fileFormat;
    bool bitbucket;
    double forcedFps; // 0: the rate the reader measures
};

class TakeRoadLayoutTest : public TakeRoadTest, public ::testing::WithParamInterface<LayoutCase> {};

// 2 s take, 1 s pre-roll, 1 s post-roll: every file holds exactly 4 s, the
// tracks sample-exact against their inputs, the mix against the device's mix
// output, the last 64 frames faded; its time reference is the LTC time of
// its first sample.
TEST_P(TakeRoadLayoutTest, FourSecondTakeIsSampleExactWithItsLtcTime)
{
    const LayoutCase& param = GetParam();
    TONVALE_REQUIRE_TOOL("ffprobe");
    setUpTakeRoad(8, param.fileFormat);
    engine_->setForcedFramerate(param.forcedFps);
    engine_->setBitbucketForTest(param.bitbucket);
    engine_->setPrerollDuration(1);
    engine_->setPostrollDuration(1);
    armTracks({0, 2, kLtcChannel});

    step(3 * kSecond / 2);
    const uint64_t anchor = writePosition();
    ASSERT_TRUE(engine_->startRecording());
    const uint64_t start = anchor - kSecond;
    EXPECT_TRUE(logHas("prerollSamples=48000 startPos=" + std::to_string(start)));
    step(2 * kSecond);
    ASSERT_TRUE(engine_->stopRecording());
    step(kSecond);
    ASSERT_TRUE(waitUntilIdle());
    // Counted per rendered block from the start until the post-roll ended.
    EXPECT_GE(engine_->getTakeFrameCount(), static_cast<int64_t>(3 * kSecond));
    EXPECT_LE(engine_->getTakeFrameCount(), static_cast<int64_t>(3 * kSecond + 2 * kBlockFrames));

    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    // Columns of the take in file order: -1 the mix.
    std::vector<int> columns;
    if (!param.bitbucket)
        columns.push_back(-1);
    for (const int t : {0, 2, kLtcChannel})
        columns.push_back(t);
    const bool poly = param.fileFormat == kFileFormatPolyphonic;
    ASSERT_EQ(files.size(), poly ? 1u : columns.size());

    const int64_t frames = static_cast<int64_t>(4 * kSecond);
    std::vector<float> ltcTrack;
    std::vector<std::string> timeReferences;
    for (size_t f = 0; f < files.size(); ++f) {
        SCOPED_TRACE(files[f]);
        const AudioFile file = readWithSndfile(files[f]);
        ASSERT_TRUE(file.ok);
        ASSERT_EQ(file.frames, frames);
        const Probe p = probe(files[f]);
        EXPECT_EQ(p.durationTs, frames);
        EXPECT_EQ(p.channels, file.channels);
        const std::vector<int> fileColumns = poly ? columns : std::vector<int>{columns[f]};
        ASSERT_EQ(file.channels, static_cast<int>(fileColumns.size()));
        for (int c = 0; c < file.channels; ++c) {
            const int column = fileColumns[static_cast<size_t>(c)];
            int64_t mismatches = 0;
            for (int64_t k = 0; k < frames; ++k) {
                const uint64_t position = start + static_cast<uint64_t>(k);
                const float source = column < 0 ? expectedMix(position) : expectedTrack(column, position);
                if (column == kLtcChannel)
                    continue;
                if (file.at(k, c) != source * fadeGain(k, frames) && mismatches++ < 3)
                    ADD_FAILURE() << "column " << column << " frame " << k << ": " << file.at(k, c) << " vs " << source;
            }
            EXPECT_EQ(mismatches, 0) << "column " << column;
            if (column == kLtcChannel) {
                ltcTrack.resize(static_cast<size_t>(frames));
                for (int64_t k = 0; k < frames; ++k)
                    ltcTrack[static_cast<size_t>(k)] = file.at(k, c);
            }
        }
        timeReferences.push_back(p.timeReference);
    }
    const int64_t fromLtc = timeReferenceFromRecordedLtc(ltcTrack, start);
    ASSERT_GT(fromLtc, 0) << "no LTC frame decoded from the take";
    // A forced rate is exact, so the time reference must be too. A measured
    // rate is right to well under a ppm (the LTC reader's own tests), which
    // over the second or so between the decoded frame and the take's first
    // sample can still tip the rounding by one sample, depending on where
    // the time-of-day LTC's frame edges fall.
    const int64_t toleranceSamples = param.forcedFps > 0.0 ? 0 : 1;
    for (const std::string& timeReference : timeReferences)
        EXPECT_NEAR(std::stoll(timeReference), fromLtc, toleranceSamples)
            << "bext time reference vs the LTC recorded in the take";
}

// The frame rate forced to the signal's 25 fps, as a recordist does with a
// known source.
INSTANTIATE_TEST_SUITE_P(Layouts, TakeRoadLayoutTest,
                         ::testing::Values(LayoutCase{"Polyphonic", kFileFormatPolyphonic, false, 25.0},
                                           LayoutCase{"PolyphonicBitbucket", kFileFormatPolyphonic, true, 25.0},
                                           LayoutCase{"Mono", kFileFormatMono, false, 25.0},
                                           LayoutCase{"MonoBitbucket", kFileFormatMono, true, 25.0}),
                         [](const auto& info) { return std::string(info.param.name); });

// With the rate the reader measures from the LTC itself.
INSTANTIATE_TEST_SUITE_P(MeasuredRate, TakeRoadLayoutTest,
                         ::testing::Values(LayoutCase{"Polyphonic", kFileFormatPolyphonic, false, 0.0}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
