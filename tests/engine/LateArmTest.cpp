// Tracks armed while a take runs, on the stepped virtual device: the capture
// lands in the take aligned sample for sample (merged as an extra channel of
// a polyphonic take, a file of its own in a mono take), read back with
// libsndfile, ffprobe and xmllint in 16-bit, 24-bit and float takes; arms
// that must not start a capture; a merge that cannot be made keeps the
// capture as a visible file.

#include "TakeRoadSupport.h"

#include "media/SampleFormatConverter.h"
#include "support/ExternalTool.h"
#include "support/TempHome.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <sndfile.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;
constexpr int kLateTrack = 4;  // track 5

std::string ffprobeTimeReference(const std::string& path)
{
    const ToolResult r = runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_format",
                                                       QString::fromStdString(path)});
    EXPECT_EQ(r.exitCode, 0) << r.standardError.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(r.standardOutput.toUtf8()).object();
    return root["format"].toObject()["tags"].toObject()["time_reference"].toString().toStdString();
}

class LateArmTest : public TakeRoadTest {
protected:
    std::string recordings() const { return home_.pathStd() + "/Recordings"; }

    std::vector<std::string> filesNamed(const std::string& part) const
    {
        std::vector<std::string> found;
        for (const auto& entry : fs::recursive_directory_iterator(recordings())) {
            if (entry.path().filename().string().find(part) != std::string::npos)
                found.push_back(entry.path().string());
        }
        return found;
    }

    // Tracks 0 and 2 armed at start, 2 s pre-roll from ring position 0, track
    // 5 armed 10 s after record was pressed, stopped 2 s later.
    void recordWithLateArm()
    {
        engine_->setPrerollDuration(2);
        engine_->setPostrollDuration(0);
        armTracks({0, 2});
        step(2 * kSecond);
        ASSERT_TRUE(engine_->startRecording());
        step(10 * kSecond);
        engine_->setTrackArmed(kLateTrack, true);
        step(2 * kSecond);
        ASSERT_TRUE(engine_->stopRecording());
        ASSERT_TRUE(waitUntilIdle());
    }

    // The capture: silent before 576000 frames, the input after.
    void expectLateChannel(const AudioFile& file, int channel, int64_t frames)
    {
        int64_t mismatches = 0;
        for (int64_t k = 0; k < frames; ++k) {
            const float expected = k < 576000 ? 0.0f : expectedTrack(kLateTrack, static_cast<uint64_t>(k));
            if (file.at(k, channel) != expected && mismatches++ < 3)
                ADD_FAILURE() << "frame " << k << ": " << file.at(k, channel) << " vs " << expected;
        }
        EXPECT_EQ(mismatches, 0);
    }

    void expectNoHiddenCaptures()
    {
        EXPECT_TRUE(filesNamed(".late_arm_track_").empty());
        EXPECT_TRUE(filesNamed(".merged.wav").empty());
    }
};

struct LateArmFormat {
    const char* name;
    BwfFileWriter::SampleFormat format;
    const char* ffprobeSampleFormat;
    const char* ffprobeCodec;
};

// The value libsndfile reads back for a fed sample once the take's writer
// has turned it into the take's sample code.
float storedSample(BwfFileWriter::SampleFormat format, float sample)
{
    switch (format) {
    case BwfFileWriter::Int16: return static_cast<float>(SampleFormatConverter::toInt16(sample)) / 32768.0f;
    case BwfFileWriter::Int24: return static_cast<float>(SampleFormatConverter::toInt24(sample)) / 8388608.0f;
    default: return sample;
    }
}

// The iXML chunk's text, found by walking the RIFF/RF64 chunks.
std::string ixmlChunk(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    size_t at = 12;
    while (at + 8 <= bytes.size()) {
        uint32_t size = 0;
        std::memcpy(&size, bytes.data() + at + 4, 4);
        if (bytes.compare(at, 4, "iXML") == 0)
            return bytes.substr(at + 8, std::min<size_t>(size, bytes.size() - at - 8));
        if (bytes.compare(at, 4, "data") == 0)
            break;
        at += 8 + size + (size & 1u);
    }
    return {};
}

class LateArmFormatTest : public LateArmTest, public ::testing::WithParamInterface<LateArmFormat> {};

TEST_P(LateArmFormatTest, PolyphonicTakeGainsTheTrackAlignedToItsArming)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    const BwfFileWriter::SampleFormat format = GetParam().format;
    setUpTakeRoad(16, kFileFormatPolyphonic);
    engine_->setSampleFormat(format);
    recordWithLateArm();
    EXPECT_TRUE(logHas("Late-arm track 4 started at sample offset 576000"));

    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 1u);
    const AudioFile file = readWithSndfile(files[0]);
    ASSERT_TRUE(file.ok);
    const int64_t frames = static_cast<int64_t>(14 * kSecond);
    ASSERT_EQ(file.frames, frames);
    ASSERT_EQ(file.channels, 4);  // mix, tracks 1 and 3, then track 5
    // The capture: silent before 576000 frames, then the input's own codes.
    int64_t mismatches = 0;
    for (int64_t k = 0; k < frames; ++k) {
        const float expected =
            k < 576000 ? 0.0f : storedSample(format, expectedTrack(kLateTrack, static_cast<uint64_t>(k)));
        if (file.at(k, 3) != expected && mismatches++ < 3)
            ADD_FAILURE() << "frame " << k << ": " << file.at(k, 3) << " vs " << expected;
    }
    EXPECT_EQ(mismatches, 0);
    // The take's own channels still hold the take's codes (the fade on its end).
    for (const int64_t k : {int64_t{0}, int64_t{576000}, frames - 65}) {
        EXPECT_EQ(file.at(k, 1), storedSample(format, expectedTrack(0, static_cast<uint64_t>(k))));
        EXPECT_EQ(file.at(k, 2), storedSample(format, expectedTrack(2, static_cast<uint64_t>(k))));
    }

    // ffprobe: channels, sample format, length, time reference and names.
    const ToolResult probe = runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_streams",
                                                           "-show_format", QString::fromStdString(files[0])});
    ASSERT_EQ(probe.exitCode, 0) << probe.standardError.toStdString();
    const QJsonObject root = QJsonDocument::fromJson(probe.standardOutput.toUtf8()).object();
    const QJsonObject stream = root["streams"].toArray().at(0).toObject();
    EXPECT_EQ(stream["channels"].toInt(), 4);
    EXPECT_EQ(stream["sample_fmt"].toString().toStdString(), GetParam().ffprobeSampleFormat);
    EXPECT_EQ(stream["codec_name"].toString().toStdString(), GetParam().ffprobeCodec);
    EXPECT_EQ(stream["sample_rate"].toString().toStdString(), "48000");
    EXPECT_DOUBLE_EQ(stream["duration"].toString().toDouble(), 14.0);
    const QJsonObject tags = root["format"].toObject()["tags"].toObject();
    EXPECT_NE(probe.standardOutput.indexOf("Track_5"), -1) << probe.standardOutput.toStdString();
    // The bext time reference ffprobe reads is the one libsndfile reads.
    SF_INFO info{};
    SNDFILE* handle = sf_open(files[0].c_str(), SFM_READ, &info);
    ASSERT_NE(handle, nullptr);
    SF_BROADCAST_INFO bext{};
    const bool hasBext = sf_command(handle, SFC_GET_BROADCAST_INFO, &bext, sizeof(bext)) == SF_TRUE;
    sf_close(handle);
    ASSERT_TRUE(hasBext);
    const uint64_t reference = (static_cast<uint64_t>(bext.time_reference_high) << 32) | bext.time_reference_low;
    ASSERT_FALSE(tags["time_reference"].toString().isEmpty());
    EXPECT_EQ(tags["time_reference"].toString().toULongLong(), reference);

    // The merged file's iXML is well-formed XML.
    const std::string ixml = ixmlChunk(files[0]);
    ASSERT_NE(ixml.find("<BWFXML>"), std::string::npos);
    if (!findTool("xmllint").isEmpty()) {
        const std::string xmlPath = home_.pathStd() + "/merged-ixml.xml";
        std::ofstream(xmlPath, std::ios::binary) << ixml.substr(0, ixml.find_last_of('>') + 1);
        const ToolResult lint = runTool(findTool("xmllint"), {"--noout", QString::fromStdString(xmlPath)});
        EXPECT_EQ(lint.exitCode, 0) << lint.standardError.toStdString();
    }
    expectNoHiddenCaptures();
}

INSTANTIATE_TEST_SUITE_P(SampleFormats, LateArmFormatTest,
                         ::testing::Values(LateArmFormat{"Int16", BwfFileWriter::Int16, "s16", "pcm_s16le"},
                                           LateArmFormat{"Int24", BwfFileWriter::Int24, "s32", "pcm_s24le"},
                                           LateArmFormat{"Float32", BwfFileWriter::Float32, "flt", "pcm_f32le"}),
                         [](const ::testing::TestParamInfo<LateArmFormat>& info) { return info.param.name; });

TEST_F(LateArmTest, MonoTakeGetsAFileWithTheTimeReferenceOfItsArming)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    setUpTakeRoad(16, kFileFormatMono);
    recordWithLateArm();

    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 4u);  // mix, track 1, track 3, then track 5's capture
    EXPECT_NE(files[3].find("_05_Track_5.wav"), std::string::npos) << files[3];
    const AudioFile file = readWithSndfile(files[3]);
    ASSERT_TRUE(file.ok);
    ASSERT_EQ(file.channels, 1);
    ASSERT_EQ(file.frames, static_cast<int64_t>(2 * kSecond));
    for (int64_t k = 0; k < file.frames; ++k) {
        if (file.at(k, 0) != expectedTrack(kLateTrack, 576000 + static_cast<uint64_t>(k))) {
            ADD_FAILURE() << "frame " << k;
            break;
        }
    }
    const long long takeReference = std::stoll(ffprobeTimeReference(files[0]));
    EXPECT_EQ(std::stoll(ffprobeTimeReference(files[3])), takeReference + 576000);
    expectNoHiddenCaptures();
}

// Arms that must not start a capture: a track armed at the start, disarmed
// and armed again; an arm while the writer is no longer Recording (a write
// error ended the take, `recording` still true); an arm during the
// post-roll; a track number out of range.
TEST_F(LateArmTest, ArmsThatStartNoCapture)
{
    setUpTakeRoad(16, kFileFormatPolyphonic);
    engine_->setPostrollDuration(1);
    armTracks({0});
    step(kSecond);
    ASSERT_TRUE(engine_->startRecording());
    step(kSecond);
    engine_->setTrackArmed(0, false);
    engine_->setTrackArmed(0, true);
    engine_->setTrackArmed(40, true);
    EXPECT_FALSE(engine_->isTrackArmed(40));
    engine_->takeRecorder().setWriterStateForTest(WriterState::Finalizing);
    engine_->setTrackArmed(5, true);
    EXPECT_FALSE(engine_->takeRecorder().isLateArmCaptureActive(5));
    engine_->takeRecorder().setWriterStateForTest(WriterState::Recording);
    ASSERT_TRUE(engine_->stopRecording());
    engine_->setTrackArmed(3, true);  // during the post-roll
    step(kSecond);
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(logCount("Triggering late-arm capture"), 1);  // track 5's, which started nothing
    EXPECT_FALSE(logHas("Late-arm track 5 started"));
    EXPECT_TRUE(logHas("CoreAudio: setTrackArmed called - track=40 armed=true"));
    EXPECT_TRUE(logHas("CoreAudio: No late-armed tracks to finalize"));
    const AudioFile file = readWithSndfile(engine_->getLastClosedTakeFiles().at(0));
    EXPECT_EQ(file.channels, 2);
    expectNoHiddenCaptures();
}

// The merged file cannot be created (its path is taken by a folder): the take
// file stays as it was and the capture becomes a visible file of its own.
TEST_F(LateArmTest, MergeThatCannotBeMadeKeepsTheCaptureAsItsOwnFile)
{
    setUpTakeRoad(16, kFileFormatPolyphonic);
    engine_->setPrerollDuration(2);
    armTracks({0, 2});
    step(2 * kSecond);
    ASSERT_TRUE(engine_->startRecording());
    step(kSecond);
    std::vector<std::string> polyFiles;
    for (const std::string& path : filesNamed(".wav")) {
        if (fs::path(path).filename().string()[0] != '.')
            polyFiles.push_back(path);
    }
    ASSERT_EQ(polyFiles.size(), 1u);
    fs::create_directory(polyFiles[0] + ".merged.wav");
    const auto armPosition = static_cast<int64_t>(writePosition());  // the take starts at ring position 0
    engine_->setTrackArmed(kLateTrack, true);
    step(kSecond);
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(waitUntilIdle());
    fs::remove(polyFiles[0] + ".merged.wav");

    const std::vector<std::string> files = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(files.size(), 2u);
    const AudioFile take = readWithSndfile(files[0]);
    EXPECT_EQ(take.channels, 3);
    EXPECT_NE(files[1].find("_05_Track_5.wav"), std::string::npos);
    const AudioFile capture = readWithSndfile(files[1]);
    ASSERT_TRUE(capture.ok);
    EXPECT_EQ(capture.frames, take.frames - armPosition);
    EXPECT_TRUE(logHas("WARNING - Late-arm merge failed"));
    expectNoHiddenCaptures();
}

}  // namespace
