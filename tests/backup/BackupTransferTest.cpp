// One job's transfer: the live verdict wait, the destination on the drive,
// the plain copy with its read-back check, the partial-file discipline, a
// drive that vanishes, is replaced or fills up.
#include "BackupTestSupport.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <thread>

namespace fs = std::filesystem;

namespace {

class BackupTransferTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        root_ = home_.pathStd() + "/drive";
        fs::create_directories(root_);
        fs::create_directories(home_.pathStd() + "/take");
        done_.attach(queue_);
    }
    void TearDown() override { queue_.stop(); }
    std::string source(const std::string& name, size_t bytes, uint32_t seed = 7)
    {
        const std::string path = home_.pathStd() + "/take/" + name;
        writeBytes(path, patternBytes(bytes, seed));
        return path;
    }
    std::string destination() const { return root_ + "/Tonvale/P/001"; }
    // Runs one job to its end and returns it.
    BackupCopyQueue::CopyJob run(const std::string& path, std::shared_ptr<LiveBackupTakeControl> control = nullptr,
                                 int sourceFormat = 0, int destinationFormat = 0)
    {
        const size_t before = done_.jobs().size();
        EXPECT_TRUE(queue_.tryQueueCopy(path, destination(), sourceFormat, destinationFormat, std::move(control), root_));
        queue_.start();
        EXPECT_TRUE(done_.waitFor(before + 1));
        return done_.jobs().back();
    }
    bool logHas(const std::string& text) const { return home_.logText().find(text) != std::string::npos; }

    std::string root_;
    BackupCopyQueue queue_;
    CompletedJobs done_;
};

TEST_F(BackupTransferTest, LiveVerdictDecidesWhetherTheFallbackCopyRuns)
{
    const std::string path = source("A.wav", 5000);
    auto verified = std::make_shared<LiveBackupTakeControl>();
    verified->status = LiveBackupTakeControl::Verified;
    auto job = run(path, verified);
    EXPECT_FALSE(job.failed);
    EXPECT_TRUE(logHas("BackupCopyQueue: Live backup verified; fallback copy skipped for " + destination()));
    EXPECT_FALSE(fs::exists(root_ + "/Tonvale"));  // nothing written, not even the folders

    auto failed = std::make_shared<LiveBackupTakeControl>();
    failed->status = LiveBackupTakeControl::Failed;
    job = run(path, failed);
    EXPECT_FALSE(job.failed) << job.errorMessage;
    EXPECT_TRUE(logHas("BackupCopyQueue: Live backup failed; running finalized-primary fallback for " + destination()));
    EXPECT_EQ(readBytes(destination() + "/A.wav"), readBytes(path));
    EXPECT_FALSE(failed->cancelPublication.load());
}

TEST_F(BackupTransferTest, APendingVerdictTimesOutCancelsPublicationAndCopies)
{
    queue_.setLiveVerdictTimeout(std::chrono::milliseconds(60));
    const std::string path = source("A.wav", 5000);
    auto pending = std::make_shared<LiveBackupTakeControl>();
    const auto job = run(path, pending);
    EXPECT_FALSE(job.failed) << job.errorMessage;
    EXPECT_TRUE(pending->cancelPublication.load());
    EXPECT_TRUE(logHas("BackupCopyQueue: Live backup timed out; cancelling publication and running finalized-primary "
                       "fallback for "
                       + destination()));
    EXPECT_TRUE(logHas("BackupCopyQueue: Live backup failed; running finalized-primary fallback for " + destination()));
    EXPECT_EQ(readBytes(destination() + "/A.wav"), readBytes(path));
}

TEST_F(BackupTransferTest, StopDuringTheVerdictWaitCancelsWithoutWriting)
{
    auto pending = std::make_shared<LiveBackupTakeControl>();
    ASSERT_TRUE(queue_.tryQueueCopy(source("A.wav", 10), destination(), 0, 0, pending, root_));
    queue_.start();
    while (!queue_.isBusy())
        std::this_thread::yield();
    queue_.stop();
    ASSERT_TRUE(done_.waitFor(1));
    EXPECT_EQ(done_.jobs()[0].errorMessage, "Copy cancelled");
    EXPECT_FALSE(fs::exists(root_ + "/Tonvale"));
}

TEST_F(BackupTransferTest, PlainCopyKeepsBytesModeAndTimeAndReplacesAnEarlierCopy)
{
    const std::string path = source("A.wav", 3 * 1024 * 1024 + 17);
    ::chmod(path.c_str(), 0640);
    const auto stamp = fs::file_time_type::clock::now() - std::chrono::hours(30);
    fs::last_write_time(path, stamp);
    fs::create_directories(destination());
    writeBytes(destination() + "/A.wav", {1, 2, 3});
    const auto job = run(path);
    ASSERT_FALSE(job.failed) << job.errorMessage;
    EXPECT_EQ(readBytes(destination() + "/A.wav"), readBytes(path));
    EXPECT_EQ(fs::status(destination() + "/A.wav").permissions(), fs::status(path).permissions());
    EXPECT_EQ(fs::last_write_time(destination() + "/A.wav"), stamp);
    EXPECT_EQ(fileNamesIn(destination()), std::vector<std::string>{"A.wav"});

    const std::string empty = source("Empty.wav", 0);
    EXPECT_FALSE(run(empty).failed);
    EXPECT_TRUE(readBytes(destination() + "/Empty.wav").empty());
}

TEST_F(BackupTransferTest, JobsThatFailLeaveNoPartialAndSayWhy)
{
    struct Case {
        const char* name;
        std::string sourcePath;
        int sourceFormat;
        int destinationFormat;
        std::string message;
    };
    const std::string missing = home_.pathStd() + "/take/Missing.wav";
    const Case cases[] = {
        {"missing source", missing, 0, 0, "Source path does not exist: " + missing},
        {"unknown layouts", source("A.wav", 10), 2, 0, "Unknown format conversion requested"},
        {"not a wav for poly to mono", source("B.wav", 100), 0, 1,
         "Failed to open polyphonic source file: " + home_.pathStd() + "/take/B.wav"},
        {"bad mono name", source("A001_01_Boom.wav", 100), 1, 0, "Invalid mono filename format: A001_01_Boom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto job = run(c.sourcePath, nullptr, c.sourceFormat, c.destinationFormat);
        EXPECT_TRUE(job.failed);
        EXPECT_EQ(job.errorMessage, c.message);
        EXPECT_TRUE(logHas("BackupCopyQueue: " + c.message));
        for (const std::string& name : fileNamesIn(destination()))
            ADD_FAILURE() << "left on the drive: " << name;
    }
}

// The plain copy is read back from the drive and compared, not only sized.
TEST_F(BackupTransferTest, AFlippedByteFailsTheCopyAndLeavesNothing)
{
    const std::string path = source("A.wav", 2 * 1024 * 1024);
    queue_.setPartialWrittenHookForTest([](const std::string& partial) {
        std::vector<uint8_t> bytes = readBytes(partial);
        bytes[bytes.size() / 2 + 3] ^= 0x10;
        writeBytes(partial, bytes);
    });
    const auto job = run(path);
    EXPECT_TRUE(job.failed);
    EXPECT_EQ(job.errorMessage.rfind("Backup read-back verification failed for " + destination() + "/A.wav.", 0), 0u)
        << job.errorMessage;
    EXPECT_TRUE(fileNamesIn(destination()).empty());
}

TEST_F(BackupTransferTest, ASourceThatGrowsDuringTheCopyFails)
{
    const std::string path = source("A.wav", 8 * 1024 * 1024);
    ASSERT_TRUE(queue_.tryQueueCopy(path, destination(), 0, 0, nullptr, root_));
    queue_.start();
    while (queue_.getCurrentJobProgress() == 0.0)
        std::this_thread::yield();
    queue_.pause();
    {
        std::ofstream grow(path, std::ios::binary | std::ios::app);
        grow << "more";
    }
    queue_.resume();
    ASSERT_TRUE(done_.waitFor(1));
    EXPECT_EQ(done_.jobs()[0].errorMessage, "Read failed or source changed while copying " + path);
    EXPECT_TRUE(fileNamesIn(destination()).empty());
}

// A failed rename keeps the copy already under the final name: it may be
// the only good one on that drive.
TEST_F(BackupTransferTest, AFailedFinalRenameKeepsWhatHadTheFinalName)
{
    const std::string path = source("A.wav", 1000);
    fs::create_directories(destination() + "/A.wav");
    writeBytes(destination() + "/A.wav/keep", {9});
    const auto job = run(path);
    EXPECT_TRUE(job.failed);
    EXPECT_EQ(job.errorMessage.rfind("Failed to finalize " + destination() + "/A.wav: ", 0), 0u) << job.errorMessage;
    EXPECT_EQ(readBytes(destination() + "/A.wav/keep"), std::vector<uint8_t>{9});
    EXPECT_EQ(fileNamesIn(destination()), std::vector<std::string>{"A.wav"});
}

// A drive that went away must not have its folders and the copy recreated
// on the system disk.
TEST_F(BackupTransferTest, AVanishedDriveFailsWithoutCreatingItsRoot)
{
    const std::string path = source("A.wav", 1000);
    queue_.pause();
    ASSERT_TRUE(queue_.tryQueueCopy(path, destination(), 0, 0, nullptr, root_));
    queue_.start();
    fs::remove_all(root_);
    queue_.resume();
    ASSERT_TRUE(done_.waitFor(1));
    const auto job = done_.jobs()[0];
    EXPECT_TRUE(job.failed);
    EXPECT_EQ(job.errorMessage.rfind("Failed to create destination directory: ", 0), 0u) << job.errorMessage;
    EXPECT_FALSE(fs::exists(root_));
}

TEST_F(BackupTransferTest, ADriveReplacedByAnotherVolumeFails)
{
    const std::string path = source("A.wav", 1000);
    queue_.pause();
    ASSERT_TRUE(queue_.tryQueueCopy(path, destination(), 0, 0, nullptr, root_));
    queue_.start();
    TmpfsDrive other(root_, 1024 * 1024);  // mounted over the root after queueing
    if (!other.ok())
        GTEST_SKIP() << "SKIPPED: " << other.reason();
    queue_.resume();
    ASSERT_TRUE(done_.waitFor(1));
    EXPECT_EQ(done_.jobs()[0].errorMessage.rfind("Failed to create destination directory: ", 0), 0u)
        << done_.jobs()[0].errorMessage;
    EXPECT_TRUE(fileNamesIn(root_).empty());
}

TEST_F(BackupTransferTest, AFullDriveFailsTheCopyAndLeavesNoPartial)
{
    TmpfsDrive small(home_.pathStd() + "/small", 1024 * 1024);
    if (!small.ok())
        GTEST_SKIP() << "SKIPPED: " << small.reason();
    root_ = small.path();
    const std::string path = source("A.wav", 3 * 1024 * 1024);
    const auto job = run(path);
    EXPECT_TRUE(job.failed);
    EXPECT_EQ(job.errorMessage.rfind("Write failed while copying " + path, 0), 0u) << job.errorMessage;
    EXPECT_TRUE(fileNamesIn(destination()).empty());
}

}  // namespace

namespace {

// A take repaired after a crash: once its copy is verified, the partial
// files its cut-off backups left go; a failed copy leaves them (they are all
// the drive holds of the take), and other takes' files and partials stay.
TEST_F(BackupTransferTest, ARepairedTakeClearsItsOwnStalePartialsOnceCopied)
{
    const std::string take = "A001_P_R07_T3";
    const std::vector<std::string> ownPartials = {take + ".wav.100.0.tonvale.partial",
                                                  take + "_01_Boom.wav.100.1.tonvale.partial"};
    // T30, T2, a take with the same number but its own file name, a note.
    const std::vector<std::string> others = {"A001_P_R07_T30.wav.100.2.tonvale.partial", "A001_P_R07_T2.wav",
                                             "A002_P_R07_T3.wav.100.3.tonvale.partial", take + ".wav.notes.txt"};
    struct Case {
        const char* name;
        bool sourceThere;
    };
    for (const Case c : {Case{"copied", true}, Case{"source missing", false}}) {
        SCOPED_TRACE(c.name);
        fs::remove_all(destination());
        fs::create_directories(destination());
        for (const std::string& name : ownPartials)
            writeBytes(destination() + "/" + name, {1, 2});
        for (const std::string& name : others)
            writeBytes(destination() + "/" + name, {3, 4});
        const std::string path = home_.pathStd() + "/take/" + take + ".wav";
        fs::remove(path);
        if (c.sourceThere)
            writeBytes(path, patternBytes(70000, 3));
        const size_t before = done_.jobs().size();
        ASSERT_TRUE(queue_.tryQueueRepairedCopy(path, destination(), 0, 0, root_));
        queue_.start();
        ASSERT_TRUE(done_.waitFor(before + 1));
        EXPECT_EQ(done_.jobs().back().failed, !c.sourceThere);

        std::vector<std::string> expected = others;
        if (c.sourceThere)
            expected.push_back(take + ".wav");
        else
            expected.insert(expected.end(), ownPartials.begin(), ownPartials.end());
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(fileNamesIn(destination()), expected);
        if (c.sourceThere) {
            EXPECT_EQ(readBytes(destination() + "/" + take + ".wav"), readBytes(path));
        }
    }
}

// A take file moved (a false take) while its copy waited: the job copies the
// moved file into the subfolder, under its new name, and nothing lands under
// the old one. A redirect asked of an idle queue is dropped.
TEST_F(BackupTransferTest, AJobWhoseSourceMovedCopiesTheMovedFileIntoTheSubfolder)
{
    const std::string path = source("A001_P_R07_T3.wav", 40000);
    const std::vector<uint8_t> bytes = readBytes(path);
    queue_.start();
    queue_.pause();
    ASSERT_TRUE(queue_.tryQueueCopy(path, destination(), 0, 0, nullptr, root_));
    const std::string moved = home_.pathStd() + "/take/FALSETAKES/F-A001_P_R07_T3.wav";
    fs::create_directories(fs::path(moved).parent_path());
    fs::rename(path, moved);
    queue_.redirectSource(path, moved, "FALSETAKES");
    queue_.resume();
    ASSERT_TRUE(done_.waitFor(1));
    EXPECT_FALSE(done_.jobs().back().failed) << done_.jobs().back().errorMessage;
    EXPECT_EQ(readBytes(destination() + "/FALSETAKES/F-A001_P_R07_T3.wav"), bytes);
    EXPECT_EQ(fileNamesIn(destination()), std::vector<std::string>{"FALSETAKES"});

    // Nothing waits now: a later job for the old path is not redirected.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (queue_.hasWork() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::yield();
    ASSERT_FALSE(queue_.hasWork());
    queue_.redirectSource(path, moved, "FALSETAKES");
    const std::string again = source("A001_P_R07_T3.wav", 100, 9);
    EXPECT_FALSE(run(again).failed);
    EXPECT_EQ(fileNamesIn(destination()), (std::vector<std::string>{"A001_P_R07_T3.wav", "FALSETAKES"}));
}

}  // namespace
