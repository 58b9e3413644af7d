// After-take backup end to end on the stepped virtual device: a take in
// either layout reaches a polyphonic and a mono backup drive, each in its
// own layout and sample for sample equal to the recording; a drive that
// vanished or filled up is flagged alone.
#include "TakeRoadSupport.h"

#include "BackupTestSupport.h"

#include "backup/BackupLayoutNames.h"
#include "engine/take/FalseTakeMove.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;

class TakeBackupCopyTest : public TakeRoadTest {
protected:
    std::string drive(const std::string& name) const { return home_.pathStd() + "/" + name; }
    static std::string takeFolderOn(const std::string& root) { return root + "/Tonvale/Harbour/R07"; }

    // Records a one-second take of tracks 0 to 2 and, unless told not to,
    // waits until every backup job has ended.
    std::vector<std::string> recordTake(const std::string& project = "Harbour", const std::string& roll = "R07",
                                        bool waitForCopies = true)
    {
        engine_->setRecordingMetadata({project, roll, "12", "3", "", {"Boom", "Lav", "Plant"}});
        armTracks({0, 1, 2});
        step(kSecond / 4);
        EXPECT_TRUE(engine_->startRecording());
        step(kSecond);
        EXPECT_TRUE(engine_->stopRecording());
        EXPECT_TRUE(waitUntilIdle());
        if (waitForCopies)
            waitForCopiesToEnd();
        return engine_->getLastClosedTakeFiles();
    }
    void waitForCopiesToEnd()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (engine_->isBackupCopyActive() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_FALSE(engine_->isBackupCopyActive());
    }
    std::string recordingRoot() const { return home_.pathStd() + "/Recordings"; }
    // The take marked false as the window does it: moved on the recording
    // drive, then on the backup drives.
    void markFalse(const std::vector<std::string>& files)
    {
        const std::string folder = fs::path(files.front()).parent_path().string();
        const FalseTakeMoveResult result = moveToFalseTakes(folder, files);
        ASSERT_EQ(result.movedCount(), static_cast<int>(files.size()));
        std::vector<std::pair<std::string, std::string>> moves;
        for (const FalseTakeFileMove& move : result.files)
            moves.emplace_back(move.sourcePath, move.targetPath);
        engine_->moveFalseTakeOnBackups(recordingRoot(), folder, moves);
    }

    static void expectSameChannel(const AudioFile& a, int channelA, const AudioFile& b, int channelB)
    {
        ASSERT_TRUE(a.ok && b.ok);
        ASSERT_EQ(a.frames, b.frames);
        int64_t mismatches = 0;
        for (int64_t k = 0; k < a.frames; ++k)
            mismatches += a.at(k, channelA) != b.at(k, channelB);
        EXPECT_EQ(mismatches, 0);
    }
};

TEST_F(TakeBackupCopyTest, APolyphonicTakeReachesAPolyphonicAndAMonoDrive)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    engine_->setBackupMediaPathsWithFormats(true, {{drive("Poly"), 0}, {drive("Mono"), 1}});
    fs::create_directories(drive("Poly"));
    fs::create_directories(drive("Mono"));
    const std::vector<std::string> files = recordTake();
    ASSERT_EQ(files.size(), 1u);
    const std::string name = fs::path(files[0]).filename().string();
    const std::string stem = fs::path(files[0]).stem().string();

    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Poly"))), std::vector<std::string>{name});
    EXPECT_EQ(readBytes(takeFolderOn(drive("Poly")) + "/" + name), readBytes(files[0]));

    const std::vector<std::string> mono = {stem + "_MIX.wav", stem + "_T01.wav", stem + "_T02.wav", stem + "_T03.wav"};
    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Mono"))), mono);
    const AudioFile primary = readWithSndfile(files[0]);
    ASSERT_EQ(primary.channels, 4);
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(mono[static_cast<size_t>(c)]);
        expectSameChannel(readWithSndfile(takeFolderOn(drive("Mono")) + "/" + mono[static_cast<size_t>(c)]), 0, primary, c);
    }
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    EXPECT_FALSE(engine_->hasBackupDriveError(1));
    EXPECT_TRUE(logHas("BackupCopyQueue: PAUSED (recording started)"));
    EXPECT_TRUE(logHas("BackupCopyQueue: RESUMED (recording stopped)"));
}

TEST_F(TakeBackupCopyTest, AMonoTakeReachesAMonoAndAPolyphonicDrive)
{
    setUpTakeRoad(8, kFileFormatMono);
    engine_->setBackupMediaPathsWithFormats(true, {{drive("Mono"), 1}, {drive("Poly"), 0}});
    fs::create_directories(drive("Poly"));
    fs::create_directories(drive("Mono"));
    const std::vector<std::string> files = recordTake();
    ASSERT_EQ(files.size(), 4u);  // the mix and three tracks

    std::vector<std::string> names;
    for (const std::string& path : files) {
        names.push_back(fs::path(path).filename().string());
        EXPECT_EQ(readBytes(takeFolderOn(drive("Mono")) + "/" + names.back()), readBytes(path)) << path;
    }
    std::sort(names.begin(), names.end());
    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Mono"))), names);

    const std::vector<std::string> poly = fileNamesIn(takeFolderOn(drive("Poly")));
    ASSERT_EQ(poly.size(), 1u);
    const AudioFile joined = readWithSndfile(takeFolderOn(drive("Poly")) + "/" + poly[0]);
    ASSERT_EQ(joined.channels, 4);
    for (int c = 0; c < 4; ++c) {
        SCOPED_TRACE(files[static_cast<size_t>(c)]);
        expectSameChannel(joined, c, readWithSndfile(files[static_cast<size_t>(c)]), 0);
    }
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    EXPECT_FALSE(engine_->hasBackupDriveError(1));
}

// With live backup: the drive whose live copy verified gets nothing more;
// the drive whose live copy failed gets the fallback copy in its layout.
TEST_F(TakeBackupCopyTest, WithLiveBackupOnlyTheDriveWhoseLiveCopyFailedIsCopied)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    fs::create_directories(drive("Poly"));
    fs::create_directories(drive("Mono"));
    engine_->setBackupMediaPathsWithFormats(true, {{drive("Poly"), 0}, {drive("Mono"), 1}});
    auto verified = std::make_shared<LiveBackupTakeControl>();
    auto failed = std::make_shared<LiveBackupTakeControl>();
    verified->status = LiveBackupTakeControl::Verified;
    failed->status = LiveBackupTakeControl::Failed;
    engine_->setLiveTakeControlsForTest({verified, failed});
    const std::vector<std::string> files = recordTake();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_FALSE(fs::exists(drive("Poly") + "/Tonvale"));
    EXPECT_TRUE(logHas("BackupCopyQueue: Live backup verified; fallback copy skipped for " + takeFolderOn(drive("Poly"))));
    const std::string stem = fs::path(files[0]).stem().string();
    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Mono"))),
              (std::vector<std::string>{stem + "_MIX.wav", stem + "_T01.wav", stem + "_T02.wav", stem + "_T03.wav"}));
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    EXPECT_FALSE(engine_->hasBackupDriveError(1));
}

TEST_F(TakeBackupCopyTest, AVanishedOrFullDriveIsFlaggedAlone)
{
    TmpfsDrive small(drive("Small"), 64 * 1024);
    if (!small.ok())
        GTEST_SKIP() << "SKIPPED: " << small.reason();
    setUpTakeRoad(8, kFileFormatPolyphonic);
    fs::create_directories(drive("Good"));
    // "Gone" is configured but never there; "Good2" shares a name prefix with "Good".
    engine_->setBackupMediaPathsWithFormats(
        true, {{drive("Good"), 0}, {drive("Gone"), 1}, {small.path(), 0}, {drive("Good2"), 0}});
    fs::create_directories(drive("Good2"));
    const std::vector<std::string> files = recordTake();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(readBytes(takeFolderOn(drive("Good")) + "/" + fs::path(files[0]).filename().string()), readBytes(files[0]));
    EXPECT_EQ(readBytes(takeFolderOn(drive("Good2")) + "/" + fs::path(files[0]).filename().string()), readBytes(files[0]));
    EXPECT_FALSE(fs::exists(drive("Gone")));  // not recreated on the system disk
    EXPECT_TRUE(fileNamesIn(takeFolderOn(small.path())).empty());
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    EXPECT_TRUE(engine_->hasBackupDriveError(1));
    EXPECT_TRUE(engine_->hasBackupDriveError(2));
    EXPECT_FALSE(engine_->hasBackupDriveError(3));
    engine_->clearBackupDriveError(1);
    EXPECT_FALSE(engine_->hasBackupDriveError(1));
    EXPECT_FALSE(engine_->hasBackupDriveError(8));
    EXPECT_FALSE(engine_->hasBackupDriveError(-1));
}

// A project and sound roll with characters exFAT and FAT refuse: the
// after-take copy's folders get the same portable names as the take folder
// on the recording drive, and the copy is made.
TEST_F(TakeBackupCopyTest, TheCopyFolderHasTheTakeFoldersPortableNames)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    fs::create_directories(drive("Poly"));
    engine_->setBackupMediaPathsWithFormats(true, {{drive("Poly"), 0}});
    const std::vector<std::string> files = recordTake("Day1: Unit", "R?07.");
    ASSERT_EQ(files.size(), 1u);
    const fs::path relative = fs::path(files[0]).parent_path().lexically_relative(recordingRoot());
    EXPECT_EQ(relative, fs::path("Day1_ Unit/R_07_"));
    const std::string copy = drive("Poly") + "/Tonvale/" + relative.string() + "/" + fs::path(files[0]).filename().string();
    EXPECT_EQ(readBytes(copy), readBytes(files[0]));
    EXPECT_FALSE(engine_->hasBackupDriveError(0));
    EXPECT_FALSE(logHas("Failed to create destination directory"));
}

// A false take after its copies were made: on each drive the copies of the
// take (in that drive's layout) move into FALSETAKES with the prefix; a
// drive without a copy gets no folder; a file already in FALSETAKES is
// never replaced (that copy stays where it was); other takes stay.
TEST_F(TakeBackupCopyTest, AFalseTakeMovesOnEveryBackupDriveThatHoldsIt)
{
    setUpTakeRoad(8, kFileFormatPolyphonic);
    for (const char* name : {"Poly", "Mono", "Taken"})
        fs::create_directories(drive(name));
    engine_->setBackupMediaPathsWithFormats(true, {{drive("Poly"), 0}, {drive("Mono"), 1}, {drive("Taken"), 0}});
    const std::vector<std::string> earlier = recordTake();
    ASSERT_EQ(earlier.size(), 1u);
    step(kSecond / 4);
    const std::vector<std::string> files = recordTake();
    ASSERT_EQ(files.size(), 1u);
    const std::string name = fs::path(files[0]).filename().string();
    const std::string stem = fs::path(files[0]).stem().string();
    const std::string earlierName = fs::path(earlier[0]).filename().string();
    const std::vector<uint8_t> bytes = readBytes(files[0]);
    fs::create_directories(takeFolderOn(drive("Taken")) + "/FALSETAKES");
    writeBytes(takeFolderOn(drive("Taken")) + "/FALSETAKES/F-" + name, {7, 7, 7});
    engine_->setBackupMediaPathsWithFormats(
        true, {{drive("Poly"), 0}, {drive("Mono"), 1}, {drive("Taken"), 0}, {drive("Absent"), 0}});

    markFalse(files);

    std::vector<std::string> polyLeft = {earlierName, "FALSETAKES"};
    std::sort(polyLeft.begin(), polyLeft.end());
    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Poly"))), polyLeft);
    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Poly")) + "/FALSETAKES"), std::vector<std::string>{"F-" + name});
    EXPECT_EQ(readBytes(takeFolderOn(drive("Poly")) + "/FALSETAKES/F-" + name), bytes);

    const std::vector<std::string> monoFalse = {"F-" + stem + "_MIX.wav", "F-" + stem + "_T01.wav",
                                                "F-" + stem + "_T02.wav", "F-" + stem + "_T03.wav"};
    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Mono")) + "/FALSETAKES"), monoFalse);
    EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Mono"))).size(), 5u);  // the earlier take's four and FALSETAKES

    EXPECT_EQ(readBytes(takeFolderOn(drive("Taken")) + "/FALSETAKES/F-" + name), (std::vector<uint8_t>{7, 7, 7}));
    EXPECT_EQ(readBytes(takeFolderOn(drive("Taken")) + "/" + name), bytes);
    EXPECT_FALSE(fs::exists(drive("Absent")));
}

// A false take whose copy is still waiting for its live verdict: when the
// live copy fails, the fallback copies the moved file straight into
// FALSETAKES; when the live copy is published and verified after the mark,
// it is moved there. Either way nothing stays as a normal take.
TEST_F(TakeBackupCopyTest, AFalseTakeStillQueuedLandsInFalseTakes)
{
    struct Case {
        const char* name;
        uint8_t verdict;
    };
    for (const Case c : {Case{"live copy failed", LiveBackupTakeControl::Failed},
                         Case{"live copy verified", LiveBackupTakeControl::Verified}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(recordingRoot());
        setUpTakeRoad(8, kFileFormatPolyphonic);
        fs::remove_all(drive("Poly"));
        fs::create_directories(drive("Poly"));
        engine_->setBackupMediaPathsWithFormats(true, {{drive("Poly"), 0}});
        auto control = std::make_shared<LiveBackupTakeControl>();
        engine_->setLiveTakeControlsForTest({control});
        const std::vector<std::string> files = recordTake("Harbour", "R07", false);
        ASSERT_EQ(files.size(), 1u);
        ASSERT_TRUE(engine_->isBackupCopyActive());  // the job waits for the verdict
        const std::string name = fs::path(files[0]).filename().string();
        const std::vector<uint8_t> bytes = readBytes(files[0]);

        markFalse(files);
        if (c.verdict == LiveBackupTakeControl::Verified) {
            fs::create_directories(takeFolderOn(drive("Poly")));
            writeBytes(takeFolderOn(drive("Poly")) + "/" + name, bytes);  // as the live worker publishes
        }
        control->status.store(c.verdict);
        waitForCopiesToEnd();

        EXPECT_EQ(fileNamesIn(takeFolderOn(drive("Poly"))), std::vector<std::string>{"FALSETAKES"});
        EXPECT_EQ(readBytes(takeFolderOn(drive("Poly")) + "/FALSETAKES/F-" + name), bytes);
        EXPECT_FALSE(engine_->hasBackupDriveError(0));
        engine_.reset();
    }
}

// Takes repaired on the recording drive reach every backup drive in its
// layout (a mono take joined into one polyphonic file); the partials their
// cut-off backups left go, other takes' files and partials stay.
TEST_F(TakeBackupCopyTest, ARepairedTakeReachesEveryBackupDriveAndItsPartialsGo)
{
    struct Case {
        const char* name;
        int layout;
        size_t files;
    };
    for (const Case c : {Case{"polyphonic take", kFileFormatPolyphonic, 1}, Case{"mono take", kFileFormatMono, 4}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(recordingRoot());
        setUpTakeRoad(8, c.layout);
        fs::remove_all(drive("Poly"));
        fs::remove_all(drive("Mono"));
        const std::vector<AudioEngineBase::BackupPathInfo> drives = {{drive("Poly"), 0}, {drive("Mono"), 1}};
        engine_->setBackupMediaPathsWithFormats(false, drives);  // the crash: no copy was made
        const std::vector<std::string> files = recordTake();
        ASSERT_EQ(files.size(), c.files);
        std::vector<std::string> stems;
        for (const std::string& file : files) {
            for (const std::string& stem : takeStemsOfFile(fs::path(file).filename().string()))
                stems.push_back(stem);
        }
        // What cut-off live copies leave: a partial of the polyphonic file on
        // the polyphonic drive, of a mono file on the mono drive.
        const std::string front = fs::path(files.front()).filename().string();
        const std::map<std::string, std::string> stale = {
            {"Poly", takeStemsOfFile(front).back() + ".wav.5.0.tonvale.partial"},
            {"Mono", (c.layout == kFileFormatMono ? fs::path(files.back()).filename().string()
                                                  : fs::path(front).stem().string() + "_01_Boom.wav")
                         + ".5.1.tonvale.partial"}};
        const std::vector<std::string> others = {"A_Other_T9.wav", "A_Other_T9.wav.5.2.tonvale.partial"};
        for (const char* name : {"Poly", "Mono"}) {
            fs::create_directories(takeFolderOn(drive(name)));
            writeBytes(takeFolderOn(drive(name)) + "/" + stale.at(name), {1});
            for (const std::string& file : others)
                writeBytes(takeFolderOn(drive(name)) + "/" + file, {2});
        }
        engine_->setBackupMediaPathsWithFormats(true, drives);

        EXPECT_EQ(engine_->queueRepairedTakeBackups(recordingRoot(), files),
                  static_cast<int>(c.layout == kFileFormatMono ? 1 + c.files : 2));
        waitForCopiesToEnd();

        // Per drive: the take's files in that layout, the other take's two
        // files, and none of the take's partials.
        for (const auto& [name, takeFiles] : {std::pair<const char*, size_t>{"Poly", 1}, {"Mono", 4}}) {
            SCOPED_TRACE(name);
            const std::vector<std::string> present = fileNamesIn(takeFolderOn(drive(name)));
            EXPECT_EQ(static_cast<size_t>(std::count_if(present.begin(), present.end(),
                                                        [&](const std::string& file) { return isFileOfTake(file, stems); })),
                      takeFiles);
            for (const std::string& file : others)
                EXPECT_TRUE(std::find(present.begin(), present.end(), file) != present.end()) << file;
            EXPECT_EQ(present.size(), takeFiles + others.size());
        }
        std::string joinedName;
        for (const std::string& file : fileNamesIn(takeFolderOn(drive("Poly")))) {
            if (isFileOfTake(file, stems))
                joinedName = file;
        }
        const AudioFile joined = readWithSndfile(takeFolderOn(drive("Poly")) + "/" + joinedName);
        EXPECT_EQ(joined.channels, 4);
        EXPECT_FALSE(engine_->hasBackupDriveError(0));
        EXPECT_FALSE(engine_->hasBackupDriveError(1));
        engine_.reset();
    }
}

}  // namespace
