// The take start's steps on a real engine: settings and metadata, the start
// timecode from LTC decoded by the engine's own reader, and the folders and
// files of a take checked on disk with ffprobe and xmllint.

#include "EngineTestSupport.h"

#include "core/ConfigManager.h"
#include "core/SessionState.h"
#include "core/settings/MediaKeys.h"
#include "engine/take/TakeNaming.h"
#include "support/ExternalTool.h"
#include "timecode/LtcEncoder.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;

namespace {

constexpr int kSampleRate = 48000;
constexpr int64_t kAnchorPosition = 1'000'000; // ring position where the anchor frame begins
constexpr int kBlockFrames = 512;
constexpr int kTrackCount = 12; // tracks at or beyond it have no file even when armed
const LocalDateTime kLocalTime{2024, 3, 7, 14, 5, 9};

class TakeStartStepsTest : public EngineTest {
protected:
    // Plays LTC into the engine's reader so that the frame `framesBefore`
    // frames after `first` begins at kAnchorPosition, and stops a quarter
    // frame later; returns the reader's snapshot.
    LtcDecoder::TcSnapshot feedLtc(LtcEncoder::FrameRate rate, double fps, LtcEncoder::Timecode first,
                                   int framesBefore, double forcedFps = 0.0)
    {
        LtcDecoder& decoder = engine_->ltcDecoderForTest();
        decoder.setForcedFps(forcedFps);
        decoder.reset();
        LtcEncoder encoder(kSampleRate, rate);
        encoder.setTimecode(first);
        const double frameSamples = kSampleRate / fps;
        const int64_t firstPosition = kAnchorPosition - std::llround(framesBefore * frameSamples);
        const int total = static_cast<int>((framesBefore + 1.25) * frameSamples);
        std::vector<float> signal(static_cast<size_t>(total));
        encoder.generateSamples(signal.data(), total);
        for (int offset = 0; offset < total; offset += kBlockFrames)
            decoder.processAudio(signal.data() + offset, std::min(kBlockFrames, total - offset), firstPosition + offset);
        return decoder.getSnapshot();
    }

    std::string saveLocation() const { return home_.pathStd() + "/Recordings"; }

    void useSaveLocation()
    {
        ConfigManager::getInstance()->setString("media.saveLocation", saveLocation());
        ConfigManager::getInstance()->setInt(MediaKeys::kFileNumber, 42);
    }

    static AudioEngineBase::RecordingMetadata featureMetadata()
    {
        AudioEngineBase::RecordingMetadata m;
        m.project = "Feature";
        m.soundRoll = "003";
        m.scene = "12A";
        m.take = "4";
        m.notes = "plane overhead";
        m.trackNames = {"Boom", "", "Lav Anna"};
        return m;
    }

    static std::array<bool, kMaxTracks> armed(std::initializer_list<int> tracks)
    {
        std::array<bool, kMaxTracks> flags{};
        for (int t : tracks)
            flags[static_cast<size_t>(t)] = true;
        return flags;
    }

    // The take start's steps up to the opened files, with 10:00:01:00 at 25 fps
    // as the start timecode.
    TakeFileSet startTakeFiles(const std::array<bool, kMaxTracks>& armedAtStart, std::string* folder = nullptr)
    {
        engine_->latchTakeSettings();
        const TakeMetadata snapshot = engine_->takeMetadataSnapshot();
        std::string takeFolder;
        EXPECT_TRUE(engine_->makeTakeFolder(snapshot, takeFolder));
        const LtcDecoder::TcSnapshot snap = feedLtc(LtcEncoder::Fps25, 25.0, {9, 59, 59, 0, false}, 25, 25.0);
        engine_->captureTakeStartTimecode(static_cast<uint64_t>(snap.samplePosition) + kSampleRate, 0, kLocalTime);
        if (folder)
            *folder = takeFolder;
        return engine_->openTakeFiles(takeFolder, snapshot, armedAtStart, kTrackCount);
    }

    // Writes a few frames into every file of the set and closes them, as the
    // ring writer and the take close will.
    static void closeAll(TakeFileSet& set)
    {
        std::vector<float> frames(32 * 100, 0.25f);
        if (set.polyWriter) {
            EXPECT_TRUE(set.polyWriter->writeFrames(frames.data(), 100));
            EXPECT_TRUE(set.polyWriter->close());
        }
        for (auto& writer : set.monoWriters) {
            EXPECT_TRUE(writer->writeFrames(frames.data(), 100));
            EXPECT_TRUE(writer->close());
        }
    }

    std::string takeName(int fileNumber) const { return formatTakeName(takeNamePrefix(), fileNumber); }
};

// --- Settings and metadata --------------------------------------------------

TEST_F(TakeStartStepsTest, SettingsAreStoredClampedAndNormalised)
{
    EXPECT_EQ(engine_->getFileFormat(), 1);
    EXPECT_EQ(engine_->getBitDepth(), 24);
    EXPECT_EQ(engine_->getSampleFormat(), BwfFileWriter::Int24);
    EXPECT_EQ(engine_->getStartTimecode().toString(), "00:00:00:00");
    EXPECT_EQ(engine_->getStartTimecode().fps, 30);
    EXPECT_FALSE(engine_->getStartTimecode().dropFrame);
    EXPECT_FALSE(engine_->isRecording());

    struct RollCase {
        int asked;
        int stored;
    };
    for (const RollCase c : {RollCase{45, 30}, RollCase{-3, 0}, RollCase{12, 12}}) {
        engine_->setPrerollDuration(c.asked);
        engine_->setPostrollDuration(c.asked);
        EXPECT_EQ(engine_->getPrerollDuration(), c.stored);
        EXPECT_EQ(engine_->getPostrollDuration(), c.stored);
        EXPECT_TRUE(logHas("CoreAudio: Pre-record duration set to " + std::to_string(c.stored) +
                           " seconds (fixed ring capacity 48000 frames)"));
        EXPECT_TRUE(logHas("CoreAudio: Post-record duration set to " + std::to_string(c.stored) + " seconds"));
    }

    struct FormatCase {
        int asked;
        int stored;
        TakeLayout layout;
    };
    for (const FormatCase c : {FormatCase{0, 0, TakeLayout::Polyphonic}, FormatCase{7, 1, TakeLayout::Mono},
                               FormatCase{-1, 1, TakeLayout::Mono}, FormatCase{1, 1, TakeLayout::Mono}}) {
        engine_->setMediaFormat(c.asked, 20);
        EXPECT_EQ(engine_->getFileFormat(), c.stored);
        EXPECT_EQ(engine_->getBitDepth(), 20);
        EXPECT_EQ(engine_->latchTakeSettings().takeLayout, c.layout);
    }
    EXPECT_TRUE(logHas("CoreAudio: File format 7 records one mono file per track (stored as 1)"));

    engine_->setSampleFormat(BwfFileWriter::Float32);
    EXPECT_EQ(engine_->getSampleFormat(), BwfFileWriter::Float32);
    engine_->setSessionState(std::make_shared<SessionState>());
}

TEST_F(TakeStartStepsTest, MetadataIsKeptAsSetAndDefaultedOnlyInTheSnapshot)
{
    AudioEngineBase::RecordingMetadata m;
    m.scene = "7";
    m.trackNames = {"Boom"};
    engine_->setRecordingMetadata(m);
    engine_->setRecordingMetadata(engine_->getRecordingMetadata());
    const AudioEngineBase::RecordingMetadata back = engine_->getRecordingMetadata();
    EXPECT_EQ(back.project, "");
    EXPECT_EQ(back.scene, "7");
    EXPECT_EQ(back.trackNames, std::vector<std::string>{"Boom"});

    const TakeMetadata snapshot = engine_->takeMetadataSnapshot();
    EXPECT_EQ(snapshot.project, "Project");
    EXPECT_EQ(snapshot.soundRoll, "001");
    EXPECT_EQ(snapshot.take, "01");
    EXPECT_EQ(snapshot.scene, "7");
}

// A take keeps the settings it latched: what the setters do afterwards only
// reaches the next take.
TEST_F(TakeStartStepsTest, SettingsChangedAfterTheLatchDoNotReachTheLatchedTake)
{
    useSaveLocation();
    engine_->setRecordingMetadata(featureMetadata());
    engine_->setMediaFormat(0, 24);
    engine_->setSampleFormat(BwfFileWriter::Float32);
    engine_->setPrerollDuration(10);
    engine_->setPostrollDuration(5);
    const TakeSettingsLatch latched = engine_->latchTakeSettings();
    EXPECT_EQ(latched.takePrerollSeconds, 10);
    EXPECT_EQ(latched.takePostrollSeconds, 5);
    EXPECT_FALSE(latched.takeNoMix);

    engine_->setMediaFormat(1, 16);
    engine_->setSampleFormat(BwfFileWriter::Int16);
    engine_->setPostrollDuration(30);
    const TakeMetadata snapshot = engine_->takeMetadataSnapshot();
    std::string folder;
    ASSERT_TRUE(engine_->makeTakeFolder(snapshot, folder));
    TakeFileSet set = engine_->openTakeFiles(folder, snapshot, armed({0, 2}), kTrackCount);
    ASSERT_TRUE(set.ok) << set.failureReason;
    ASSERT_TRUE(set.polyWriter);
    EXPECT_TRUE(set.monoWriters.empty());
    EXPECT_EQ(set.polyWriter->sampleFormat(), BwfFileWriter::Float32);
    EXPECT_EQ(engine_->getLatchedTakeSettings().takePostrollSeconds, 5);
    EXPECT_EQ(engine_->getLatchedTakeSettings().takeLayout, TakeLayout::Polyphonic);
}

// --- LTC reader lifecycle and start timecode --------------------------------

TEST_F(TakeStartStepsTest, TheEngineOwnsItsLtcReaderFromInitialiseToShutdown)
{
    EXPECT_TRUE(logHas("LtcDecoder::initialize - sampleRate=48000"));
    EXPECT_TRUE(logHas("LtcDecoder: libltc decoder created successfully"));
    EXPECT_TRUE(feedLtc(LtcEncoder::Fps25, 25.0, {1, 0, 0, 0, false}, 30).valid);

    engine_->shutdown();
    EXPECT_FALSE(engine_->ltcDecoderForTest().getSnapshot().valid);
    EXPECT_FALSE(feedLtc(LtcEncoder::Fps25, 25.0, {1, 0, 0, 0, false}, 30).valid);
    ASSERT_TRUE(engine_->initialize());
    EXPECT_TRUE(feedLtc(LtcEncoder::Fps25, 25.0, {1, 0, 0, 0, false}, 30).valid);
}

// The capture's worked examples, with the reader decoding real LTC whose
// anchor frame begins at a known ring position. Rows with a whole rate force
// it, as the examples state the rate exactly; the fractional rows use the
// rate the reader measured.
TEST_F(TakeStartStepsTest, StartTimecodeFromDecodedLtc)
{
    struct Case {
        const char* name;
        LtcEncoder::FrameRate rate;
        double fps;
        LtcEncoder::Timecode first;
        int framesBefore;   // frames from `first` to the anchor frame
        double forcedFps;
        bool forcedDropFrameKey;
        int frameOffset;
        int64_t startFromAnchor; // S - anchor
        const char* timecode;
        bool dropFrame;
        uint32_t timestampRate;
        uint64_t timeReference;
        const char* originationTime;
    };
    const Case cases[] = {
        {"one second after the anchor", LtcEncoder::Fps25, 25.0, {9, 59, 59, 0, false}, 25, 25.0, false, 0, 48'000,
         "10:00:01:00", false, 48000, 1'728'048'000, "10:00:01"},
        {"one second before the anchor", LtcEncoder::Fps25, 25.0, {9, 59, 59, 0, false}, 25, 25.0, false, 0, -48'000,
         "09:59:59:00", false, 48000, 1'727'952'000, "09:59:59"},
        {"negative offset wraps the day", LtcEncoder::Fps25, 25.0, {0, 0, 0, 0, false}, 2, 25.0, false, -5, 0,
         "23:59:59:22", false, 48000, 4'147'194'240, "23:59:59"},
        {"half a frame in", LtcEncoder::Fps25, 25.0, {9, 59, 59, 0, false}, 25, 25.0, false, 0, 48'960,
         "10:00:01:00", false, 48000, 1'728'048'960, "10:00:01"},
        {"drop frame wraps at 2589408", LtcEncoder::Fps2997, 29.97, {0, 0, 0, 0, true}, 2, 0.0, false, -5, 0,
         "23:59:59;27", true, 48048, 4'147'191'048, "23:59:59"},
        {"drop frame keeps its time", LtcEncoder::Fps2997, 29.97, {0, 10, 59, 0, true}, 30, 0.0, false, 0, 0,
         "00:11:00;02", true, 48048, 31'682'851, "00:11:00"},
        {"forced 29.97, key off", LtcEncoder::Fps2997, 29.97, {1, 0, 0, 0, true}, 10, 29.97, false, 0, 0,
         "01:00:00:10", false, 48048, 172'988'816, "01:00:00"},
        {"forced 29.97, key on", LtcEncoder::Fps2997, 29.97, {1, 0, 0, 0, true}, 10, 29.97, true, 0, 0,
         "01:00:00;10", true, 48048, 172'815'843, "01:00:00"},
        {"forced 25 ignores the key", LtcEncoder::Fps25, 25.0, {1, 0, 0, 0, false}, 10, 25.0, true, 0, 0,
         "01:00:00:10", false, 48000, 172'819'200, "01:00:00"},
        {"24 measured as 23.976", LtcEncoder::Fps23976, 23.976, {9, 59, 59, 0, false}, 24, 0.0, false, 0, 0,
         "10:00:00:00", false, 48048, 1'729'728'000, "10:00:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ConfigManager::getInstance()->setBool("ltc.forcedDropFrame", c.forcedDropFrameKey);
        ConfigManager::getInstance()->setInt("timecode.frame_offset", c.frameOffset);
        const LtcDecoder::TcSnapshot snap = feedLtc(c.rate, c.fps, c.first, c.framesBefore, c.forcedFps);
        ASSERT_TRUE(snap.valid);
        ASSERT_NEAR(static_cast<double>(snap.samplePosition), static_cast<double>(kAnchorPosition), 2.0);

        const uint64_t start = static_cast<uint64_t>(snap.samplePosition + c.startFromAnchor);
        const StartTimecodeResult r = engine_->captureTakeStartTimecode(start, 0, kLocalTime);
        EXPECT_EQ(engine_->getStartTimecode().toString(), c.timecode);
        EXPECT_EQ(engine_->getStartTimecode().dropFrame, c.dropFrame);
        EXPECT_EQ(r.takeDropFrame, c.dropFrame);
        EXPECT_EQ(r.takeTimestampSampleRate, c.timestampRate);
        EXPECT_NEAR(static_cast<double>(r.takeTimeReference), static_cast<double>(c.timeReference), 1.0);
        EXPECT_EQ(r.takeOriginationTime, c.originationTime);
        EXPECT_EQ(r.takeOriginationDate, "2024-03-07");
        EXPECT_GE(r.startFrameFraction, 0.0);
        EXPECT_LT(r.startFrameFraction, 1.0);
    }
    EXPECT_TRUE(logHas("===== RECORDING START - TIMECODE CAPTURE (sample-anchored) ====="));
    EXPECT_TRUE(logHas("CoreAudio: LTC snapshot: 10:00:00:00 anchor=1000000 fileStartPos=1048000 (preroll=0 samples) valid=YES"));
    EXPECT_TRUE(logHas("CoreAudio: TC at file sample 0: 10:00:01:00 (+0.000000 frame) [anchorFrames=900000 "
                       "elapsed=48000 samples frameOffset=0]"));
    EXPECT_TRUE(logHas("CoreAudio: FINAL timecode for BWF metadata: 10:00:01:00 (NDF) @ 25.000000 fps"));
    EXPECT_TRUE(logHas("CoreAudio: Time reference: 1728048000 samples (at 48000 Hz TC sample rate)"));
    EXPECT_TRUE(logHas("CoreAudio: Using forced drop frame setting: NDF"));
    EXPECT_TRUE(logHas("CoreAudio: Using adjusted TC sample rate for fractional framerate: 48048 Hz"));
}

TEST_F(TakeStartStepsTest, WithoutLtcTheLocalClockDatesTheTake)
{
    const StartTimecodeResult r = engine_->captureTakeStartTimecode(123'456, 0, kLocalTime);
    EXPECT_EQ(engine_->getStartTimecode().toString(), "00:00:00:00");
    EXPECT_EQ(engine_->getStartTimecode().fps, 30);
    EXPECT_EQ(r.takeTimeReference, 0u);
    EXPECT_EQ(r.takeOriginationTime, "14:05:09");
    EXPECT_TRUE(logHas("valid=NO"));
}

// --- Folders and files ------------------------------------------------------

std::string ffprobeJson(const std::string& path)
{
    const ToolResult r = runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_streams",
                                                       "-show_format", QString::fromStdString(path)});
    EXPECT_EQ(r.exitCode, 0) << r.standardError.toStdString();
    return r.standardOutput.toStdString();
}

struct Probe {
    int channels = 0;
    std::string codec;
    std::string timeReference;
};

Probe probe(const std::string& path)
{
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(ffprobeJson(path))).object();
    const QJsonObject stream = root["streams"].toArray().at(0).toObject();
    return Probe{stream["channels"].toInt(), stream["codec_name"].toString().toStdString(),
                 root["format"].toObject()["tags"].toObject()["time_reference"].toString().toStdString()};
}

// The track names of a file's iXML chunk, read by xmllint.
std::vector<std::string> ixmlTrackNames(const std::string& path, const std::string& scratch)
{
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const size_t begin = bytes.find("<?xml");
    const size_t end = bytes.find("</BWFXML>");
    EXPECT_NE(begin, std::string::npos);
    EXPECT_NE(end, std::string::npos);
    std::ofstream(scratch, std::ios::binary) << bytes.substr(begin, end + 9 - begin);
    std::vector<std::string> names;
    for (int i = 1;; ++i) {
        const ToolResult r = runTool(findTool("xmllint"), {"--xpath", QString("string(/BWFXML/TRACK_LIST/TRACK[%1]/NAME)").arg(i),
                                                           QString::fromStdString(scratch)});
        const std::string name = r.standardOutput.trimmed().toStdString();
        if (name.empty())
            return names;
        names.push_back(name);
    }
}

TEST_F(TakeStartStepsTest, PolyphonicTakeOnDisk)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    TONVALE_REQUIRE_TOOL("xmllint");
    useSaveLocation();
    engine_->setRecordingMetadata(featureMetadata());
    engine_->setMediaFormat(0, 24);
    std::string folder;
    TakeFileSet set = startTakeFiles(armed({0, 2, 9, 14}), &folder);
    ASSERT_TRUE(set.ok) << set.failureReason;
    closeAll(set);

    const std::string name = takeName(42);
    const std::string path = saveLocation() + "/Feature/003/" + name + "_Feature_003_12A_T4.wav";
    EXPECT_EQ(folder, saveLocation() + "/Feature/003");
    EXPECT_EQ(set.takeName, name);
    EXPECT_EQ(set.polyFilePath, path);
    EXPECT_EQ(set.baseName, name + "_Feature_003_12A_T4");
    EXPECT_EQ(set.polyChannelCount, 4);
    EXPECT_EQ(set.channelNames, (std::vector<std::string>{"MIX", "Boom", "Lav Anna", "Track_10"}));
    EXPECT_EQ(set.takeBext.trackNames, set.channelNames);
    EXPECT_EQ(ConfigManager::getInstance()->getInt(MediaKeys::kFileNumber, 0), 43);

    const Probe p = probe(path);
    EXPECT_EQ(p.channels, 4);
    EXPECT_EQ(p.codec, "pcm_s24le");
    EXPECT_EQ(p.timeReference, "1728048000");
    EXPECT_EQ(ixmlTrackNames(path, home_.pathStd() + "/poly.xml"),
              (std::vector<std::string>{"MIX", "Boom", "Lav Anna", "Track_10"}));
    EXPECT_TRUE(logHas("CoreAudio: POLYPHONIC RECORDING FILE CREATED:"));
    EXPECT_TRUE(logHas("CoreAudio: Path: " + path));
    EXPECT_TRUE(logHas("CoreAudio: Channels: 4"));
    EXPECT_TRUE(logHas("CoreAudio: BWF Start Timecode: 10:0:1:0 NDF"));
    EXPECT_TRUE(logHas("CoreAudio: Recording polyphonic file (4 channels) to: " + path));
}

TEST_F(TakeStartStepsTest, MonoTakeOnDisk)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    TONVALE_REQUIRE_TOOL("xmllint");
    useSaveLocation();
    engine_->setRecordingMetadata(featureMetadata());
    engine_->setMediaFormat(1, 24);
    engine_->setSampleFormat(BwfFileWriter::Float32);
    TakeFileSet set = startTakeFiles(armed({0, 2}));
    ASSERT_TRUE(set.ok) << set.failureReason;
    closeAll(set);

    const std::string folder = saveLocation() + "/Feature/003/";
    struct Expected {
        std::string path;
        std::string trackName;
    };
    const Expected files[] = {
        {folder + takeName(42) + "_Feature_003_12A_T4_00_MIX.wav", "MIX"},
        {folder + takeName(43) + "_Feature_003_12A_T4_01_Boom.wav", "Boom"},
        {folder + takeName(44) + "_Feature_003_12A_T4_03_Lav_Anna.wav", "Lav Anna"},
    };
    EXPECT_EQ(set.takeName, takeName(42));
    EXPECT_EQ(set.polyFilePath, "");
    EXPECT_EQ(set.monoWriterTracks, (std::vector<int>{-1, 0, 2}));
    ASSERT_EQ(set.monoWriters.size(), 3u);
    for (size_t i = 0; i < std::size(files); ++i) {
        SCOPED_TRACE(files[i].path);
        EXPECT_EQ(set.monoWriters[i]->path(), files[i].path);
        const Probe p = probe(files[i].path);
        EXPECT_EQ(p.channels, 1);
        EXPECT_EQ(p.codec, "pcm_f32le");
        EXPECT_EQ(p.timeReference, "1728048000");
        EXPECT_EQ(ixmlTrackNames(files[i].path, home_.pathStd() + "/mono.xml"),
                  std::vector<std::string>{files[i].trackName});
    }
    EXPECT_TRUE(logHas("CoreAudio: Recording MIX to: " + files[0].path));
    EXPECT_TRUE(logHas("CoreAudio: Recording Track 3 to: " + files[2].path));
}

// A drawn name that an earlier recording in the folder already carries is
// passed over; the earlier file keeps every byte.
TEST_F(TakeStartStepsTest, ADrawnNameInUseIsPassedOverAndNothingIsOverwritten)
{
    useSaveLocation();
    engine_->setRecordingMetadata(featureMetadata());
    engine_->setMediaFormat(0, 24);
    const std::string folder = saveLocation() + "/Feature/003/";
    fs::create_directories(folder);
    // The very path the first draw gives, and another take under the second name.
    const std::string samePath = folder + takeName(42) + "_Feature_003_12A_T4.wav";
    const std::string sameName = folder + takeName(43) + "_Feature_003_12A_T2.wav";
    for (const std::string& p : {samePath, sameName})
        std::ofstream(p) << "earlier take";

    TakeFileSet set = startTakeFiles(armed({0}));
    ASSERT_TRUE(set.ok) << set.failureReason;
    EXPECT_EQ(set.takeName, takeName(44));
    EXPECT_EQ(set.polyFilePath, folder + takeName(44) + "_Feature_003_12A_T4.wav");
    closeAll(set);
    for (const std::string& p : {samePath, sameName}) {
        std::ifstream in(p);
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), "earlier take");
    }
    EXPECT_TRUE(logHas("CoreAudio: Take name " + takeName(42) + " is already in use, drawing the next name"));
    EXPECT_TRUE(logHas("CoreAudio: Take name " + takeName(43) + " is already in use, drawing the next name"));
}

TEST_F(TakeStartStepsTest, ProjectAndRollCannotLeaveTheSaveLocation)
{
    useSaveLocation();
    AudioEngineBase::RecordingMetadata m = featureMetadata();
    m.project = "../../escape";
    m.soundRoll = "..";
    engine_->setRecordingMetadata(m);
    engine_->setMediaFormat(1, 24);
    std::string folder;
    TakeFileSet set = startTakeFiles(armed({0}), &folder);
    ASSERT_TRUE(set.ok) << set.failureReason;
    closeAll(set);

    const std::string root = fs::canonical(saveLocation()).string() + "/";
    EXPECT_EQ(fs::weakly_canonical(folder).string().rfind(root, 0), 0u) << folder;
    for (const auto& writer : set.monoWriters)
        EXPECT_EQ(fs::weakly_canonical(writer->path()).string().rfind(root, 0), 0u) << writer->path();
    EXPECT_FALSE(fs::exists(home_.pathStd() + "/escape"));
    EXPECT_FALSE(fs::exists(fs::path(home_.pathStd()).parent_path() / "escape"));
}

// A track whose file cannot be opened (its path, in a take folder 4036 bytes
// deep, passes the 4096 bytes a path may have while the others stay below)
// is left out; the other files still get their own tracks.
TEST_F(TakeStartStepsTest, AMonoTrackFileThatFailsLeavesOnlyThatTrackOut)
{
    useSaveLocation();
    const size_t folderBytes = 4036; // with its "/": 37-byte names fit, 82-byte ones do not
    std::string deep = home_.pathStd() + "/deep";
    const size_t sub = std::string("/Feature/003/").size();
    while (deep.size() + sub + 1 + 200 < folderBytes)
        deep += "/" + std::string(200, 'd');
    deep += "/" + std::string(folderBytes - sub - deep.size() - 1, 'e');
    ConfigManager::getInstance()->setString("media.saveLocation", deep);
    AudioEngineBase::RecordingMetadata m = featureMetadata();
    m.trackNames = {std::string(48, 'x'), "Boom", "Lav"};
    engine_->setRecordingMetadata(m);
    engine_->setMediaFormat(1, 24);
    TakeFileSet set = startTakeFiles(armed({0, 1, 2}));
    ASSERT_TRUE(set.ok) << set.failureReason;
    EXPECT_EQ(set.monoWriterTracks, (std::vector<int>{-1, 1, 2}));
    EXPECT_TRUE(logHas("CoreAudio: Failed to open track recording file: "));
    EXPECT_TRUE(logHas("CoreAudio: Recording Track 2 to: "));
}

TEST_F(TakeStartStepsTest, FolderFailuresAreReported)
{
    useSaveLocation();
    AudioEngineBase::RecordingMetadata m = featureMetadata();
    m.project = "Blocked";
    fs::create_directories(saveLocation());
    std::ofstream(saveLocation() + "/Blocked") << "a file where the project folder goes";
    engine_->setRecordingMetadata(m);
    std::string folder;
    EXPECT_FALSE(engine_->makeTakeFolder(engine_->takeMetadataSnapshot(), folder));
    EXPECT_TRUE(logHas("CoreAudio: Failed to create project directory: "));

    std::ofstream(home_.pathStd() + "/plainfile") << "x";
    ConfigManager::getInstance()->setString("media.saveLocation", home_.pathStd() + "/plainfile");
    EXPECT_FALSE(engine_->makeTakeFolder(engine_->takeMetadataSnapshot(), folder));
    EXPECT_TRUE(logHas("CoreAudio: Failed to create recording directory: "));
}

// Takes that would record nothing are refused, and a failing polyphonic or
// mix file fails the whole set with nothing left open.
TEST_F(TakeStartStepsTest, TakesThatWouldRecordNothingAreRefused)
{
    const std::string folder = home_.pathStd() + "/take";
    fs::create_directories(folder);
    struct Case {
        const char* name;
        TakeLayout layout;
        bool noMix;
        std::string project;
        const char* log;
    };
    const Case cases[] = {
        {"polyphonic, no mix, nothing armed", TakeLayout::Polyphonic, true, "Feature",
         "CoreAudio: Refusing polyphonic take without channels"},
        {"mono, no mix, nothing armed", TakeLayout::Mono, true, "Feature", "CoreAudio: Refusing mono take without files"},
        {"polyphonic file not opened", TakeLayout::Polyphonic, false, "Gone",
         "CoreAudio: Failed to open polyphonic recording file: "},
        {"mix file not opened", TakeLayout::Mono, false, "Gone", "CoreAudio: Failed to open MIX recording file: "},
    };
    int fileNumber = 1;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeFileRequest request;
        // "Gone": the take folder vanished before the files were opened.
        request.takeFolder = c.project == "Gone" ? folder + "/gone" : folder;
        request.metadata = withTakeDefaults(TakeMetadata{c.project, "", "", "", "", {}});
        request.trackNames = configuredTrackNames();
        request.armedAtStart = c.project == "Feature" ? armed({}) : armed({0});
        request.trackCount = kTrackCount;
        request.layout = c.layout;
        request.noMix = c.noMix;
        request.bufferSizeFrames = 256;
        request.frameBufferFloats = 8192 * 33;
        request.drawName = [&] { return formatTakeName("ABC", fileNumber++); };
        const TakeFileSet set = openTakeFiles(request);
        EXPECT_FALSE(set.ok);
        EXPECT_FALSE(set.failureReason.empty());
        EXPECT_FALSE(set.polyWriter);
        EXPECT_TRUE(set.monoWriters.empty());
        EXPECT_TRUE(set.monoWriterTracks.empty());
        EXPECT_TRUE(logHas(c.log));
    }
    EXPECT_TRUE(fs::is_empty(folder));
}

} // namespace
