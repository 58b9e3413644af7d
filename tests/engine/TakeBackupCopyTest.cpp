// After-take backup end to end on the stepped virtual device: a take in
// either layout reaches a polyphonic and a mono backup drive, each in its
// own layout and sample for sample equal to the recording; a drive that
// vanished or filled up is flagged alone.
#include "TakeRoadSupport.h"

#include "BackupTestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;

class TakeBackupCopyTest : public TakeRoadTest {
protected:
    std::string drive(const std::string& name) const { return home_.pathStd() + "/" + name; }
    static std::string takeFolderOn(const std::string& root) { return root + "/Tonvale/Harbour/R07"; }

    // Records a one-second take of tracks 0 to 2 and waits until every
    // backup job has ended.
    std::vector<std::string> recordTake()
    {
        engine_->setRecordingMetadata({"Harbour", "R07", "12", "3", "", {"Boom", "Lav", "Plant"}});
        armTracks({0, 1, 2});
        step(kSecond / 4);
        EXPECT_TRUE(engine_->startRecording());
        step(kSecond);
        EXPECT_TRUE(engine_->stopRecording());
        EXPECT_TRUE(waitUntilIdle());
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (engine_->isBackupCopyActive() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        EXPECT_FALSE(engine_->isBackupCopyActive());
        return engine_->getLastClosedTakeFiles();
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

}  // namespace
