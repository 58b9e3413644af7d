// Live backup through the engine on the stepped virtual device: a take with
// a late-armed track goes to a polyphonic and a mono drive, and every backup
// file equals the primary's files sample for sample, with the same time
// reference and track names (libsndfile, ffprobe, xmllint); the verdicts are
// in the take controls and no partial is left. Also the drive error flags and
// the block writer's counters as the engine reports them.

#include "TakeRoadSupport.h"

#include "support/ExternalTool.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;
constexpr int kLateTrack = 4;

struct ProbeTags {
    std::string timeReference;
    std::string comment;
};

ProbeTags probeTags(const std::string& path)
{
    const ToolResult r = runTool(findTool("ffprobe"), {"-v", "error", "-print_format", "json", "-show_format",
                                                       QString::fromStdString(path)});
    EXPECT_EQ(r.exitCode, 0) << r.standardError.toStdString();
    const QJsonObject tags =
        QJsonDocument::fromJson(r.standardOutput.toUtf8()).object()["format"].toObject()["tags"].toObject();
    return {tags["time_reference"].toString().toStdString(), tags["comment"].toString().toStdString()};
}

class LiveBackupEngineTest : public TakeRoadTest {
protected:
    std::vector<std::string> wavFiles(const std::string& root) const
    {
        std::vector<std::string> found;
        if (!fs::exists(root))
            return found;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file())
                found.push_back(entry.path().string());
        }
        std::sort(found.begin(), found.end());
        return found;
    }

    static uint8_t waitForVerdict(const LiveBackupWorker::TakeControl& control)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (control.status.load() == LiveBackupWorker::Pending && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return control.status.load();
    }
};

// 2 s pre-roll, tracks 1 and 3 armed at start, track 5 armed 3 s after record
// was pressed, stopped 2 s later: the poly drive's file equals the primary's
// merged file; the mono drive holds one file per channel of it.
TEST_F(LiveBackupEngineTest, BackupFilesEqualThePrimaryTakeWithItsLateArm)
{
    TONVALE_REQUIRE_TOOL("ffprobe");
    setUpTakeRoad(16, kFileFormatPolyphonic);
    const std::string polyDrive = home_.pathStd() + "/polyDrive";
    const std::string monoDrive = home_.pathStd() + "/monoDrive";
    fs::create_directories(polyDrive);
    fs::create_directories(monoDrive);
    engine_->setBackupMediaPathsWithFormats(true, {{polyDrive, 0}, {monoDrive, 1}});
    engine_->setLiveBackupActiveTake(true);
    engine_->setPrerollDuration(2);
    engine_->setPostrollDuration(0);
    armTracks({0, 2});
    step(2 * kSecond);
    ASSERT_TRUE(engine_->startRecording());
    const auto controls = engine_->takeRecorder().liveTakeControls();
    ASSERT_EQ(controls.size(), 2u);
    step(3 * kSecond);
    const auto lateOffset = static_cast<int64_t>(writePosition());  // the take starts at ring position 0
    engine_->setTrackArmed(kLateTrack, true);
    step(2 * kSecond);
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(waitUntilIdle());
    for (const auto& control : controls) {
        ASSERT_TRUE(control);
        EXPECT_EQ(waitForVerdict(*control), LiveBackupWorker::Verified);
    }
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    EXPECT_FALSE(engine_->hasBackupDriveError(1));
    // The after-take copy jobs see both live verdicts and copy nothing again.
    const auto copyDeadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (engine_->isBackupCopyActive() && std::chrono::steady_clock::now() < copyDeadline)
        std::this_thread::yield();
    EXPECT_FALSE(engine_->isBackupCopyActive());
    EXPECT_TRUE(logHas("Live backup verified; fallback copy skipped for " + polyDrive + "/Tonvale/"));
    EXPECT_TRUE(logHas("Live backup verified; fallback copy skipped for " + monoDrive + "/Tonvale/"));
    EXPECT_FALSE(logHas("BackupCopyQueue: Copied "));

    const std::vector<std::string> primary = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(primary.size(), 1u);
    const AudioFile take = readWithSndfile(primary[0]);
    ASSERT_EQ(take.channels, 4);
    const ProbeTags takeTags = probeTags(primary[0]);

    const std::vector<std::string> polyFiles = wavFiles(polyDrive);
    ASSERT_EQ(polyFiles.size(), 1u);
    EXPECT_EQ(fs::path(polyFiles[0]).filename(), fs::path(primary[0]).filename());
    const AudioFile polyCopy = readWithSndfile(polyFiles[0]);
    EXPECT_EQ(polyCopy.channels, take.channels);
    EXPECT_EQ(polyCopy.frames, take.frames);
    // The primary's late channel has no fade; the backup's fades its last
    // 64 frames like every live file, so those are left out of the compare.
    int64_t mismatches = 0;
    for (int64_t k = 0; k < take.frames - 64; ++k) {
        for (int c = 0; c < take.channels; ++c) {
            if (polyCopy.at(k, c) != take.at(k, c) && mismatches++ < 3)
                ADD_FAILURE() << "poly frame " << k << " channel " << c;
        }
    }
    EXPECT_EQ(mismatches, 0);
    const ProbeTags polyTags = probeTags(polyFiles[0]);
    EXPECT_EQ(polyTags.timeReference, takeTags.timeReference);
    EXPECT_EQ(polyTags.comment, takeTags.comment);

    const std::vector<std::string> monoFiles = wavFiles(monoDrive);
    ASSERT_EQ(monoFiles.size(), 4u);  // mix, tracks 1 and 3, track 5
    // Sorted names: _00 (mix), _01, _03, _05 (the late track).
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(monoFiles[static_cast<size_t>(c)]);
        const AudioFile mono = readWithSndfile(monoFiles[static_cast<size_t>(c)]);
        ASSERT_EQ(mono.channels, 1);
        const int64_t first = c == 3 ? lateOffset : 0;
        ASSERT_EQ(mono.frames, take.frames - first);
        int64_t monoMismatches = 0;
        for (int64_t k = 0; k < mono.frames - 64; ++k) {
            if (mono.at(k, 0) != take.at(first + k, c) && monoMismatches++ < 3)
                ADD_FAILURE() << "frame " << k;
        }
        EXPECT_EQ(monoMismatches, 0);
        const ProbeTags tags = probeTags(monoFiles[static_cast<size_t>(c)]);
        EXPECT_EQ(std::stoll(tags.timeReference), std::stoll(takeTags.timeReference) + first);
    }
    if (!findTool("xmllint").isEmpty()) {
        for (const std::string& path : {polyFiles[0], monoFiles[3]}) {
            const ToolResult strings = runTool(findTool("sh"), {"-c", QString::fromStdString(
                "sed -n '/<BWFXML>/,/<\\/BWFXML>/p' '" + path + "' | tr -d '\\000' | sed 's/.*\\(<BWFXML>\\)/\\1/; s/\\(<\\/BWFXML>\\).*/\\1/' | xmllint --noout -")});
            EXPECT_EQ(strings.exitCode, 0) << path << strings.standardError.toStdString();
        }
    }
    for (const std::string& root : {polyDrive, monoDrive}) {
        for (const std::string& path : wavFiles(root))
            EXPECT_EQ(path.find(".tonvale.partial"), std::string::npos) << path;
    }
}

// The take renamed at its stop (take number changed during the take), its
// post-roll then cut: the backup is published under the stop's name, as the
// primary file is renamed to it.
TEST_F(LiveBackupEngineTest, CutPostrollKeepsTheNameSettledAtStop)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    const std::string drive = home_.pathStd() + "/drive";
    fs::create_directories(drive);
    engine_->setBackupMediaPathsWithFormats(true, {{drive, 0}});
    engine_->setLiveBackupActiveTake(true);
    engine_->setPostrollDuration(2);
    armTracks({0});
    step(kSecond);
    ASSERT_TRUE(engine_->startRecording());
    const auto controls = engine_->takeRecorder().liveTakeControls();
    ASSERT_EQ(controls.size(), 1u);
    step(kSecond);
    AudioEngineBase::RecordingMetadata metadata = engine_->getRecordingMetadata();
    metadata.take = "07";
    engine_->setRecordingMetadata(metadata);
    ASSERT_TRUE(engine_->stopRecording());
    step(kSecond / 2);
    engine_->cancelPendingPostroll();
    ASSERT_TRUE(waitUntilIdle());
    EXPECT_EQ(waitForVerdict(*controls[0]), LiveBackupWorker::Verified);
    const std::vector<std::string> primary = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(primary.size(), 1u);
    EXPECT_NE(primary[0].find("_T07"), std::string::npos) << primary[0];
    const std::vector<std::string> copies = wavFiles(drive);
    ASSERT_EQ(copies.size(), 1u);
    EXPECT_EQ(fs::path(copies[0]).filename(), fs::path(primary[0]).filename());
    EXPECT_EQ(readWithSndfile(copies[0]).frames, readWithSndfile(primary[0]).frames);
}

// Drive indices outside 0..7 have no error; a failure flag, a worker's error
// and a block-writer file of the drive each raise it, and clearing clears.
TEST_F(LiveBackupEngineTest, DriveErrorsAndTheBlockWriterCounters)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    EXPECT_EQ(logCount("AsyncDiskWriter initialized: "), 1);
    engine_->initialize();
    EXPECT_EQ(logCount("AsyncDiskWriter initialized: "), 1);
    for (const int drive : {-1, 8}) {
        EXPECT_FALSE(engine_->hasBackupDriveError(drive));
        engine_->clearBackupDriveError(drive);
    }
    TakeRecorder& recorder = engine_->takeRecorder();
    recorder.markBackupDriveFailed(1);
    EXPECT_TRUE(engine_->hasBackupDriveError(1));
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    engine_->clearBackupDriveError(1);
    EXPECT_FALSE(engine_->hasBackupDriveError(1));

    // A block larger than the block writer can take is refused and counted;
    // a block its file refuses is a write error of drive 0, whose file it is.
    AsyncDiskWriter& writer = recorder.blockWriter();
    BwfFileWriter file;
    ASSERT_TRUE(file.open(home_.pathStd() + "/block.wav", 48000, 2, BwfFileWriter::Float32));
    const int id = writer.registerWriter(&file);
    ASSERT_GE(id, 0);
    recorder.setBackupDriveWriterIds(0, {id});
    writer.start();
    const int64_t droppedBefore = engine_->getDroppedSamples();
    const int64_t errorsBefore = engine_->getWriteErrors();
    const int tooManyFrames = writer.readBufferFloats() / 2 + 1;
    std::vector<float> big(static_cast<size_t>(tooManyFrames) * 2, 0.25f);
    EXPECT_FALSE(writer.pushSamples(id, big.data(), tooManyFrames, 2));
    EXPECT_EQ(engine_->getDroppedSamples(), droppedBefore + tooManyFrames);
    file.close();  // every later write to it fails
    std::vector<float> block(2 * 64, 0.25f);
    EXPECT_TRUE(writer.pushSamples(id, block.data(), 64, 2));
    writer.stop(true);
    EXPECT_EQ(engine_->getWriteErrors(), errorsBefore + 1);
    EXPECT_TRUE(engine_->hasBackupDriveError(0));
    EXPECT_FALSE(engine_->hasBackupDriveError(1));
    engine_->clearBackupDriveError(0);
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    writer.unregisterWriter(id);
}

}  // namespace

namespace {

// Which drives get a worker and a take: an empty path gets neither, a ninth
// and tenth path get none, live backup off gives no controls; turning live
// backup off during a take fails the takes its workers were copying.
TEST_F(LiveBackupEngineTest, DrivesThatGetAWorkerAndLiveBackupTurnedOffDuringATake)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    std::vector<AudioEngineBase::BackupPathInfo> paths;
    for (int d = 0; d < 10; ++d) {
        paths.push_back({home_.pathStd() + "/drive" + std::to_string(d), 0});
        fs::create_directories(paths.back().path);
    }
    armTracks({0});
    engine_->setPostrollDuration(0);
    const auto recordOneSecond = [&](bool stop) {
        step(kSecond / 4);
        EXPECT_TRUE(engine_->startRecording());
        const auto controls = engine_->takeRecorder().liveTakeControls();
        step(kSecond);
        if (stop) {
            EXPECT_TRUE(engine_->stopRecording());
            EXPECT_TRUE(waitUntilIdle());
        }
        return controls;
    };

    // Live backup off: no controls at all.
    engine_->setBackupMediaPathsWithFormats(true, {paths[0]});
    EXPECT_TRUE(recordOneSecond(true).empty());

    engine_->setLiveBackupActiveTake(true);
    engine_->setBackupMediaPathsWithFormats(true, {paths[0], {"", 0}});
    auto controls = recordOneSecond(true);
    ASSERT_EQ(controls.size(), 2u);
    ASSERT_TRUE(controls[0]);
    EXPECT_FALSE(controls[1]);
    EXPECT_EQ(waitForVerdict(*controls[0]), LiveBackupWorker::Verified);

    engine_->setBackupMediaPathsWithFormats(true, paths);
    controls = recordOneSecond(true);
    ASSERT_EQ(std::count_if(controls.begin(), controls.end(), [](const auto& c) { return c != nullptr; }), 8);
    for (const auto& control : controls) {
        if (control) {
            EXPECT_EQ(waitForVerdict(*control), LiveBackupWorker::Verified);
        }
    }
    EXPECT_TRUE(wavFiles(paths[8].path).empty());
    EXPECT_TRUE(wavFiles(paths[9].path).empty());

    controls = recordOneSecond(false);
    engine_->setLiveBackupActiveTake(false);
    for (const auto& control : controls) {
        if (control) {
            EXPECT_EQ(waitForVerdict(*control), LiveBackupWorker::Failed);
        }
    }
    EXPECT_TRUE(engine_->stopRecording());
    EXPECT_TRUE(waitUntilIdle());
    // The after-take copies of the failed takes finish before the drives are looked at.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (engine_->isBackupCopyActive() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    EXPECT_FALSE(engine_->isBackupCopyActive());
    for (const auto& path : paths) {
        for (const std::string& file : wavFiles(path.path))
            EXPECT_EQ(file.find(".tonvale.partial"), std::string::npos) << file;
    }
}

}  // namespace

namespace {

struct OpenFile {
    std::string path;
    bool closeOnExec = false;
};

// This process's open descriptors that name a file below `folder`.
std::vector<OpenFile> openFilesBelow(const std::string& folder)
{
    std::vector<OpenFile> found;
    std::error_code error;
    for (fs::directory_iterator it("/proc/self/fd", error), end; !error && it != end; it.increment(error)) {
        std::error_code linkError;
        const std::string target = fs::read_symlink(it->path(), linkError).string();
        if (linkError || target.rfind(folder + "/", 0) != 0)
            continue;
        const int flags = ::fcntl(std::stoi(it->path().filename().string()), F_GETFD);
        found.push_back({target, flags >= 0 && (flags & FD_CLOEXEC) != 0});
    }
    return found;
}

// While a take records with live backup to a polyphonic and a mono drive,
// every take, backup and partial file the program holds open is
// close-on-exec, so a program it starts (the mount helper of a format) can
// never hold a card busy.
TEST_F(LiveBackupEngineTest, EveryFileOpenDuringATakeIsCloseOnExec)
{
    setUpTakeRoad(8, kFileFormatMono);
    const std::string polyDrive = home_.pathStd() + "/polyDrive";
    const std::string monoDrive = home_.pathStd() + "/monoDrive";
    fs::create_directories(polyDrive);
    fs::create_directories(monoDrive);
    engine_->setBackupMediaPathsWithFormats(true, {{polyDrive, 0}, {monoDrive, 1}});
    engine_->setLiveBackupActiveTake(true);
    armTracks({0, 1});
    step(kSecond / 4);
    ASSERT_TRUE(engine_->startRecording());

    // Until the recording drive and both live copies hold files open.
    auto holdsOpen = [](const std::vector<OpenFile>& files, const std::string& part) {
        return std::any_of(files.begin(), files.end(),
                           [&](const OpenFile& file) { return file.path.find(part) != std::string::npos; });
    };
    std::vector<OpenFile> open;
    for (int block = 0; block < 80; ++block) {
        step(kSecond / 20);
        open = openFilesBelow(home_.pathStd());
        if (holdsOpen(open, "/Recordings/") && holdsOpen(open, polyDrive + "/") && holdsOpen(open, monoDrive + "/"))
            break;
    }
    EXPECT_TRUE(holdsOpen(open, "/Recordings/"));
    EXPECT_TRUE(holdsOpen(open, polyDrive + "/Tonvale/"));
    EXPECT_TRUE(holdsOpen(open, monoDrive + "/Tonvale/"));
    EXPECT_TRUE(holdsOpen(open, ".tonvale.partial"));
    for (const OpenFile& file : open)
        EXPECT_TRUE(file.closeOnExec) << file.path;

    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(waitUntilIdle());
}

}  // namespace
