// Live backup must leave the primary take alone: a real-time take on the
// virtual device with eight live drives, one frozen in I/O throughout (a
// loop-mounted ext4 image under fsfreeze) and one whose root vanishes mid
// take. The primary take completes with every frame (libsndfile), nothing
// dropped, no write error, the render thread allocation- and lock-free, and
// the writer reaches Idle; the two bad drives fail with their reason, the
// six others are verified without a partial left.

#include "TakeRoadSupport.h"

#include "support/ExternalTool.h"

#ifdef TONVALE_COUNT_RENDER_THREAD
#include "RenderThreadCounters.h"
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;
constexpr uint64_t kCyclesPerSecond = kSecond / 256;
constexpr int kDrives = 8;
constexpr int kFrozenDrive = 6;
constexpr int kVanishingDrive = 7;

// The frozen drive's image mounted on `mountPoint`; thawed and unmounted
// however the test leaves, since a frozen writer cannot be killed.
struct FrozenDrive {
    std::string mountPoint;
    bool mounted = false;
    bool frozen = false;

    bool mountAndFreeze(const std::string& image)
    {
        const std::string quietImage = "'" + image + "'";
        const std::string quietMount = "'" + mountPoint + "'";
        mounted = std::system(("truncate -s 32M " + quietImage + " && mkfs.ext4 -q -F " + quietImage
                               + " >/dev/null 2>&1 && mount -o loop " + quietImage + " " + quietMount + " 2>/dev/null")
                                  .c_str())
                  == 0;
        if (!mounted)
            return false;
        frozen = std::system(("fsfreeze -f " + quietMount + " 2>/dev/null").c_str()) == 0;
        return frozen;
    }
    void thaw()
    {
        if (frozen) {
            const int thawed = std::system(("fsfreeze -u '" + mountPoint + "' 2>/dev/null").c_str());
            static_cast<void>(thawed);
            frozen = false;
        }
    }
    ~FrozenDrive()
    {
        thaw();
        if (mounted) {
            const int unmounted = std::system(("umount -l '" + mountPoint + "' 2>/dev/null").c_str());
            static_cast<void>(unmounted);
        }
    }
};

class LiveBackupRealTimeTest : public TakeRoadTest {
protected:
    void waitSeconds(double seconds)
    {
        const uint64_t target = system_->renderCycleCount() + static_cast<uint64_t>(seconds * kCyclesPerSecond) + 1;
        ASSERT_TRUE(system_->waitForRenderCycles(target, std::chrono::seconds(30)));
    }
    static uint8_t waitForVerdict(const LiveBackupTakeControl& control)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (control.status.load() == LiveBackupTakeControl::Pending && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return control.status.load();
    }
    std::vector<std::string> filesBelow(const std::string& root) const
    {
        std::vector<std::string> found;
        if (!fs::exists(root))
            return found;
        for (const auto& entry : fs::recursive_directory_iterator(root)) {
            if (entry.is_regular_file())
                found.push_back(entry.path().string());
        }
        return found;
    }
};

TEST_F(LiveBackupRealTimeTest, FrozenAndVanishingDrivesLeaveThePrimaryTakeWhole)
{
    if (findTool("fsfreeze").isEmpty() || findTool("mkfs.ext4").isEmpty())
        GTEST_SKIP() << "fsfreeze or mkfs.ext4 is not installed";
    std::vector<std::string> drives;
    for (int d = 0; d < kDrives; ++d) {
        drives.push_back(home_.pathStd() + "/drive" + std::to_string(d));
        fs::create_directories(drives.back());
    }
    // Mounted before the engine runs: no process is forked under a running
    // render thread.
    FrozenDrive frozen{drives[kFrozenDrive]};
    if (!frozen.mountAndFreeze(home_.pathStd() + "/frozen.img"))
        GTEST_SKIP() << "a loop-mounted ext4 image cannot be mounted or frozen here";

    setUpTakeRoad(8, kFileFormatPolyphonic, VirtualAudioSystem::Mode::RealTime);
    ASSERT_FALSE(HasFatalFailure());
    std::vector<AudioEngineBase::BackupPathInfo> paths;
    for (int d = 0; d < kDrives; ++d)
        paths.push_back({drives[static_cast<size_t>(d)], d % 2});  // polyphonic and mono drives
    engine_->setBackupMediaPathsWithFormats(true, paths);
    engine_->setLiveBackupActiveTake(true);
    engine_->setPrerollDuration(1);
    engine_->setPostrollDuration(0);
    armTracks({0, 2, 3});
    waitSeconds(1.2);
#ifdef TONVALE_COUNT_RENDER_THREAD
    renderAllocations.store(0);
    renderMutexLocks.store(0);
#endif
    ASSERT_TRUE(engine_->startRecording());
    const auto controls = engine_->takeRecorder().liveTakeControls();
    ASSERT_EQ(controls.size(), static_cast<size_t>(kDrives));
    waitSeconds(1.0);
    fs::rename(drives[kVanishingDrive], home_.pathStd() + "/unplugged");
    fs::create_directories(drives[kVanishingDrive]);  // the empty mount point stays
    waitSeconds(1.0);
    ASSERT_TRUE(engine_->stopRecording());
    ASSERT_TRUE(engine_->waitForWriterIdle(std::chrono::seconds(30)));
    EXPECT_EQ(engine_->getDroppedSamples(), 0);
    EXPECT_EQ(engine_->getWriteErrors(), 0);
#ifdef TONVALE_COUNT_RENDER_THREAD
    EXPECT_EQ(renderAllocations.load(), 0);
    EXPECT_EQ(renderMutexLocks.load(), 0);
#endif

    const std::vector<std::string> primary = engine_->getLastClosedTakeFiles();
    ASSERT_EQ(primary.size(), 1u);
    const AudioFile take = readWithSndfile(primary[0]);
    ASSERT_TRUE(take.ok);
    EXPECT_EQ(take.channels, 4);
    EXPECT_GE(take.frames, static_cast<int64_t>(3 * kSecond - kBlockFrames));

    for (int d = 0; d < kDrives; ++d) {
        if (d == kFrozenDrive)
            continue;
        SCOPED_TRACE(drives[static_cast<size_t>(d)]);
        const uint8_t verdict = waitForVerdict(*controls[static_cast<size_t>(d)]);
        EXPECT_EQ(verdict, d == kVanishingDrive ? LiveBackupTakeControl::Failed : LiveBackupTakeControl::Verified);
        for (const std::string& path : filesBelow(drives[static_cast<size_t>(d)]))
            EXPECT_EQ(path.find(".tonvale.partial"), std::string::npos) << path;
    }
    EXPECT_TRUE(filesBelow(drives[kVanishingDrive]).empty());
    EXPECT_TRUE(logHas("LiveBackupWorker: Backup drive is no longer mounted: " + drives[kVanishingDrive]));
    // The frozen drive's worker is still stuck in I/O; it is let go when the
    // drives are set again, and fails its take once the drive thaws.
    EXPECT_EQ(controls[kFrozenDrive]->status.load(), LiveBackupTakeControl::Pending);
    engine_->setBackupMediaPathsWithFormats(false, {});
    frozen.thaw();
    EXPECT_EQ(waitForVerdict(*controls[kFrozenDrive]), LiveBackupTakeControl::Failed);
    EXPECT_TRUE(logHas("LiveBackupWorker: Detaching worker blocked in removable I/O for " + drives[kFrozenDrive]));
    engine_.reset();
    for (const std::string& path : filesBelow(drives[kFrozenDrive]))
        EXPECT_EQ(path.find(".tonvale.partial"), std::string::npos) << path;
}

}  // namespace
