// The live backup worker against a ring the test writes itself: takes in
// both layouts with a late-armed track and a rename at stop, read back with
// libsndfile and ffprobe; every failure ends with its reason, verdict 2 and
// no partial file on the drive. Drives are folders; a full drive is a child
// process with a file-size limit.

#include "backup/LiveBackupWorker.h"

#include "support/ChildProcess.h"
#include "support/ExternalTool.h"
#include "support/TempHome.h"

#include <sndfile.h>
#include <sched.h>
#include <sys/mount.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kCapacity = 48000;
constexpr int kWidth = 33;
constexpr int kLateTrack = 4;

float fed(int column, uint64_t position)
{
    constexpr uint64_t kModulus = 1'000'003;
    const uint64_t value = (position * 7919 + static_cast<uint64_t>(column) * 104729 + 1) % kModulus;
    return static_cast<float>(value) / static_cast<float>(kModulus) - 0.5f;
}

std::vector<float> readFloats(const std::string& path, int& channels, int64_t& frames)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    channels = 0;
    frames = 0;
    if (!file)
        return {};
    channels = info.channels;
    frames = info.frames;
    std::vector<float> samples(static_cast<size_t>(info.frames * info.channels));
    sf_readf_float(file, samples.data(), info.frames);
    sf_close(file);
    return samples;
}

float fadeGain(int64_t frame, int64_t frames)
{
    const int64_t m = std::min<int64_t>(frames, 64);
    const int64_t k = frame - (frames - m);
    return k < 0 ? 1.0f : 1.0f - static_cast<float>(k) / static_cast<float>(m);
}

class LiveBackupWorkerTest : public TempHomeTest {
public:
    void SetUp() override
    {
        ring_ = std::make_shared<RecordingRing>(kWidth, kCapacity);
        drive_ = home_.pathStd() + "/drive";
        bigRing_ = std::make_shared<RecordingRing>(kWidth, 2 * kCapacity);
        fs::create_directories(drive_);
    }

    // The render callback's part: frames up to `position` into the ring.
    void feedTo(uint64_t position)
    {
        for (uint64_t p = ring_->writerPosition(); p < position; ++p) {
            float* row = ring_->frameAt(p);
            for (int c = 0; c < kWidth; ++c)
                row[c] = fed(c, p);
        }
        ring_->publishWritePosition(position);
    }

    LiveBackupWorker::TakeDescriptor descriptor(int layout, uint64_t startFrame)
    {
        LiveBackupWorker::TakeDescriptor take;
        take.ring = ring_;
        take.control = std::make_shared<LiveBackupWorker::TakeControl>();
        take.startFrame = startFrame;
        take.destinationDir = drive_ + "/Tonvale/Project/001";
        take.baseName = "T";
        take.layout = layout;
        take.sampleFormat = BwfFileWriter::Float32;
        take.bext.timeReference = 1000000;
        take.armed[0] = true;
        take.armed[2] = true;
        for (int t = 0; t < 32; ++t)
            take.trackNames[static_cast<size_t>(t)] = "Track " + std::to_string(t + 1);
        take.trackNames[2] = "Boom/Left?";
        return take;
    }

    static uint8_t waitForVerdict(const LiveBackupWorker::TakeControl& control)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (control.status.load() == LiveBackupWorker::Pending && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return control.status.load();
    }

    std::vector<std::string> driveFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::recursive_directory_iterator(drive_)) {
            if (entry.is_regular_file())
                names.push_back(entry.path().filename().string());
        }
        std::sort(names.begin(), names.end());
        return names;
    }

    std::shared_ptr<RecordingRing> ring_;
    std::shared_ptr<RecordingRing> bigRing_;
    std::string drive_;
};

struct LayoutCase {
    const char* name;
    int layout;
};

class LiveBackupLayoutTest : public LiveBackupWorkerTest, public ::testing::WithParamInterface<LayoutCase> {};

// Track 5 armed at ring position 30000 of a take from 10000 to 70000,
// renamed U at its stop.
TEST_P(LiveBackupLayoutTest, TakeWithALateArmIsPublishedVerifiedUnderItsFinalName)
{
    const bool mono = GetParam().layout != 0;
    ring_ = bigRing_;  // the whole take fits: the test does not pace the worker
    LiveBackupWorker worker(drive_);
    feedTo(20000);
    LiveBackupWorker::TakeDescriptor take = descriptor(GetParam().layout, 10000);
    const auto control = take.control;
    ASSERT_TRUE(worker.enqueue(std::move(take)));
    constexpr uint64_t kArm = 30000;
    constexpr uint64_t kEnd = 70000;
    // The end is known before its last frames are in the ring, as a stop
    // sets it a post-roll ahead: the worker's last chunk ends at it and is
    // faded, however far the worker has caught up.
    for (uint64_t p = 20000; p < kEnd; p += 500) {
        if (p == kArm)
            control->armFrames[kLateTrack].store(static_cast<int64_t>(kArm));
        if (p + 500 == kEnd) {
            std::lock_guard<std::mutex> lock(control->nameMutex);
            control->finalBaseName = "U";
            control->endFrame.store(static_cast<int64_t>(kEnd));
        }
        feedTo(p + 500);
    }
    ASSERT_EQ(waitForVerdict(*control), LiveBackupWorker::Verified);
    EXPECT_FALSE(worker.hasError());

    const std::string folder = drive_ + "/Tonvale/Project/001/";
    struct Expected {
        std::string name;
        std::vector<int> columns;  // -1: the late track
    };
    std::vector<Expected> expected;
    if (mono) {
        expected.push_back({"U_00_MIX.wav", {0}});
        expected.push_back({"U_01_Track_1.wav", {1}});
        expected.push_back({"U_03_Boom_Left_.wav", {3}});
        expected.push_back({"U_05_Track_5.wav", {-1}});
    } else {
        expected.push_back({"U.wav", {0, 1, 3, -1}});
    }
    std::vector<std::string> names;
    for (const Expected& e : expected)
        names.push_back(e.name);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(driveFiles(), names);
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.name);
        int channels = 0;
        int64_t frames = 0;
        const std::vector<float> samples = readFloats(folder + e.name, channels, frames);
        ASSERT_EQ(channels, static_cast<int>(e.columns.size()));
        const bool lateOnly = e.columns[0] == -1;
        const uint64_t first = lateOnly ? kArm : 10000;
        ASSERT_EQ(frames, static_cast<int64_t>(kEnd - first));
        int64_t mismatches = 0;
        for (int64_t k = 0; k < frames; ++k) {
            const uint64_t position = first + static_cast<uint64_t>(k);
            for (int c = 0; c < channels; ++c) {
                const int column = e.columns[static_cast<size_t>(c)];
                float want = column < 0 ? (position < kArm ? 0.0f : fed(1 + kLateTrack, position)) : fed(column, position);
                want *= column < 0 ? fadeGain(static_cast<int64_t>(position - kArm), static_cast<int64_t>(kEnd - kArm))
                                   : fadeGain(k, frames);
                if (samples[static_cast<size_t>(k * channels + c)] != want && mismatches++ < 3)
                    ADD_FAILURE() << "frame " << k << " channel " << c;
            }
        }
        EXPECT_EQ(mismatches, 0);
    }
    if (!findTool("ffprobe").isEmpty()) {
        const std::string late = folder + (mono ? "U_05_Track_5.wav" : "U.wav");
        const ToolResult r = runTool(findTool("ffprobe"), {"-v", "error", "-show_format", QString::fromStdString(late)});
        const std::string reference = std::to_string(1000000 + (mono ? kArm - 10000 : 0));
        EXPECT_NE(r.standardOutput.indexOf(QString::fromStdString("time_reference=" + reference)), -1)
            << r.standardOutput.toStdString();
        EXPECT_NE(r.standardOutput.indexOf(mono ? "aTRK1=Track 5" : "aTRK4=Track 5"), -1) << r.standardOutput.toStdString();
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, LiveBackupLayoutTest,
                         ::testing::Values(LayoutCase{"Polyphonic", 0}, LayoutCase{"Mono", 1}),
                         [](const auto& info) { return std::string(info.param.name); });

// A worker that finds the whole take in the ring, its end already known,
// still fades the take's last 64 frames, wherever its chunks fall: take
// lengths a few frames past a chunk, and one shorter than the fade.
TEST_F(LiveBackupWorkerTest, TheLastSixtyFourFramesAreFadedWhereverTheChunksFall)
{
    for (const uint64_t length : {uint64_t{1024 + 1}, uint64_t{2048 + 30}, uint64_t{4096 + 63}, uint64_t{40}}) {
        SCOPED_TRACE("take of " + std::to_string(length) + " frames");
        fs::remove_all(drive_);
        fs::create_directories(drive_);
        ring_ = std::make_shared<RecordingRing>(kWidth, kCapacity);
        constexpr uint64_t kStart = 1000;
        feedTo(kStart + length);
        LiveBackupWorker worker(drive_);
        LiveBackupWorker::TakeDescriptor take = descriptor(0, kStart);
        take.noMix = true;
        take.armed = {};
        take.armed[0] = true;
        const auto control = take.control;
        control->endFrame.store(static_cast<int64_t>(kStart + length));
        ASSERT_TRUE(worker.enqueue(std::move(take)));
        ASSERT_EQ(waitForVerdict(*control), LiveBackupWorker::Verified);
        int channels = 0;
        int64_t frames = 0;
        const std::vector<float> samples = readFloats(drive_ + "/Tonvale/Project/001/T.wav", channels, frames);
        ASSERT_EQ(channels, 1);
        ASSERT_EQ(frames, static_cast<int64_t>(length));
        int64_t mismatches = 0;
        for (int64_t k = 0; k < frames; ++k) {
            const float want = fed(1, kStart + static_cast<uint64_t>(k)) * fadeGain(k, frames);
            if (samples[static_cast<size_t>(k)] != want && mismatches++ < 3)
                ADD_FAILURE() << "frame " << k;
        }
        EXPECT_EQ(mismatches, 0);
    }
}

// Takes that must fail: the verdict 2, the reason logged, the error flag up,
// and the drive without a partial (or any) file.
TEST_F(LiveBackupWorkerTest, FailuresLeaveAVerdictAReasonAndNoPartial)
{
    struct FailureCase {
        const char* name;
        std::function<void(LiveBackupWorkerTest&, LiveBackupWorker::TakeDescriptor&)> prepare;
        std::function<void(LiveBackupWorkerTest&, LiveBackupWorker::TakeControl&)> during;
        std::string reason;  // empty: none is logged
    };
    const FailureCase cases[] = {
        {"no control", [](auto&, auto& take) { take.ring.reset(); }, {}, "Invalid live backup take descriptor"},
        {"mono take without files",
         [](auto&, auto& take) {
             take.layout = 1;
             take.noMix = true;
             take.armed = {};
         },
         {}, "Live mono take has no output tracks"},
        {"poly take without channels",
         [](auto&, auto& take) {
             take.noMix = true;
             take.armed = {};
         },
         {}, ""},
        {"drive too slow", [](auto& test, auto& take) { test.feedTo(take.startFrame + kCapacity + 1); }, {},
         "Live backup reader was overwritten (destination too slow)"},
        {"copy queue gives up", {},
         [](auto&, auto& control) { control.cancelPublication.store(true); },
         "Live backup cancelled for fallback recovery"},
        {"final name taken by a folder",
         [](auto& test, auto&) { fs::create_directories(test.drive_ + "/Tonvale/Project/001/T.wav/inside"); },
         [](auto&, auto& control) { control.endFrame.store(3000); }, "Failed to publish live backup"},
    };
    for (const FailureCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(drive_);
        fs::create_directories(drive_);
        ring_ = std::make_shared<RecordingRing>(kWidth, kCapacity);
        feedTo(2000);
        LiveBackupWorker worker(drive_);
        LiveBackupWorker::TakeDescriptor take = descriptor(0, 1000);
        if (c.prepare)
            c.prepare(*this, take);
        const auto control = take.control ? take.control : std::make_shared<LiveBackupWorker::TakeControl>();
        take.control = control;
        ASSERT_TRUE(worker.enqueue(std::move(take)));
        feedTo(ring_->writerPosition() + 1000);
        if (c.during)
            c.during(*this, *control);
        EXPECT_EQ(waitForVerdict(*control), LiveBackupWorker::Failed);
        EXPECT_TRUE(worker.hasError());
        if (!c.reason.empty()) {
            EXPECT_TRUE(home_.logText().find("LiveBackupWorker: " + c.reason) != std::string::npos) << home_.logText();
        }
        for (const std::string& name : driveFiles())
            EXPECT_EQ(name.find(".tonvale.partial"), std::string::npos) << name;
        worker.clearError();
        EXPECT_FALSE(worker.hasError());
    }
}

// A drive whose root is gone (at the start, or renamed away mid-take) gets
// nothing: no folder is made in its place on the system disk.
TEST_F(LiveBackupWorkerTest, VanishedDriveFailsTheTakeAndNothingLandsBelowIt)
{
    {
        const std::string missing = home_.pathStd() + "/unplugged";
        LiveBackupWorker worker(missing);
        LiveBackupWorker::TakeDescriptor take = descriptor(0, 0);
        take.destinationDir = missing + "/Tonvale/Project/001";
        const auto control = take.control;
        feedTo(1000);
        ASSERT_TRUE(worker.enqueue(std::move(take)));
        EXPECT_EQ(waitForVerdict(*control), LiveBackupWorker::Failed);
        EXPECT_FALSE(fs::exists(missing));
    }
    LiveBackupWorker worker(drive_);
    LiveBackupWorker::TakeDescriptor take = descriptor(1, 0);
    const auto control = take.control;
    ASSERT_TRUE(worker.enqueue(std::move(take)));
    feedTo(4000);
    while (driveFiles().size() < 3)  // the take's partials are open
        std::this_thread::yield();
    fs::rename(drive_, home_.pathStd() + "/gone");
    fs::create_directories(drive_);  // an empty mount point is left behind
    feedTo(6000);
    control->endFrame.store(6000);
    EXPECT_EQ(waitForVerdict(*control), LiveBackupWorker::Failed);
    EXPECT_TRUE(driveFiles().empty());
    EXPECT_TRUE(home_.logText().find("LiveBackupWorker: Backup drive is no longer mounted") != std::string::npos);
}

// Eight takes wait behind one being copied: the ninth is refused with the
// verdict 2; stopping fails the queued ones.
TEST_F(LiveBackupWorkerTest, NinthQueuedTakeIsRefusedAndAStopFailsTheQueue)
{
    std::vector<std::shared_ptr<LiveBackupWorker::TakeControl>> controls;
    {
        LiveBackupWorker worker(drive_);
        for (int i = 0; i < 10; ++i) {
            LiveBackupWorker::TakeDescriptor take = descriptor(0, 0);
            take.baseName = "T" + std::to_string(i);
            controls.push_back(take.control);
            const bool accepted = worker.enqueue(std::move(take));
            if (i == 0) {
                while (!worker.isActive() || controls[0]->status.load() != 0 || !fs::exists(drive_ + "/Tonvale"))
                    std::this_thread::yield();
            }
            EXPECT_EQ(accepted, i < 9) << i;
        }
        EXPECT_EQ(controls[9]->status.load(), LiveBackupWorker::Failed);
        EXPECT_TRUE(worker.hasError());
    }
    for (const auto& control : controls)
        EXPECT_EQ(control->status.load(), LiveBackupWorker::Failed);
    EXPECT_TRUE(driveFiles().empty());
}

// A drive that fills up: the worker runs in a child whose files may not grow
// beyond 64 KiB.
TEST_F(LiveBackupWorkerTest, FullDriveFailsTheTakeWithoutAPartial)
{
    feedTo(1000);
    const int exitCode = runChildWithFileSizeLimit(64 * 1024, [this] {
        LiveBackupWorker worker(drive_);
        LiveBackupWorker::TakeDescriptor take = descriptor(0, 0);
        const auto control = take.control;
        worker.enqueue(std::move(take));
        feedTo(40000);
        control->endFrame.store(40000);
        const uint8_t verdict = waitForVerdict(*control);
        return verdict == LiveBackupWorker::Failed && driveFiles().empty() ? 0 : 1;
    });
    EXPECT_EQ(exitCode, 0);
}

// Real volumes: a small tmpfs that fills up, and one unmounted (lazily, as
// a pulled drive leaves its empty mount point) in the middle of a take. Each
// runs in a child with its own mount namespace; where mounting is refused
// the test skips.
TEST_F(LiveBackupWorkerTest, TmpfsDriveThatFillsUpOrIsUnmounted)
{
    constexpr int kMountRefused = 77;
    struct VolumeCase {
        const char* name;
        const char* options;
        bool unmountMidTake;
        const char* reason;
    };
    const VolumeCase cases[] = {
        {"fills up", "size=256k", false, "LiveBackupWorker: Live poly backup write failed"},
        {"unmounted mid-take", "size=64m", true, "LiveBackupWorker: Backup drive is no longer mounted"},
    };
    for (const VolumeCase& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(drive_);
        fs::create_directories(drive_);
        ring_ = std::make_shared<RecordingRing>(kWidth, kCapacity);
        feedTo(1000);
        const int exitCode = runChildWithFileSizeLimit(int64_t{1} << 40, [&]() -> int {
            if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
                || ::mount("tmpfs", drive_.c_str(), "tmpfs", 0, c.options) != 0)
                return kMountRefused;
            auto worker = std::make_unique<LiveBackupWorker>(drive_);
            LiveBackupWorker::TakeDescriptor take = descriptor(0, 0);
            const auto control = take.control;
            worker->enqueue(std::move(take));
            if (c.unmountMidTake) {
                while (driveFiles().empty())
                    std::this_thread::yield();
                if (::umount2(drive_.c_str(), MNT_DETACH) != 0)
                    return 2;
            }
            feedTo(40000);
            control->endFrame.store(40000);
            if (waitForVerdict(*control) != LiveBackupWorker::Failed)
                return 3;
            if (home_.logText().find(c.reason) == std::string::npos)
                return 4;
            worker.reset();
            // Nothing left on the volume, nor on the disk below it.
            return driveFiles().empty() ? 0 : 5;
        });
        if (exitCode == kMountRefused)
            GTEST_SKIP() << "mounting a tmpfs in a private mount namespace is refused here";
        EXPECT_EQ(exitCode, 0);
    }
}

// A drive stuck in I/O: a loop-mounted ext4 image frozen with fsfreeze
// while two workers write to it. Asked to stop together, both are gone
// after about 2 s in all (not 2 s each), with the detach line; once the
// drive thaws, the detached threads end their takes as failed and remove
// their partials.
TEST_F(LiveBackupWorkerTest, FrozenDriveIsDetachedAfterTwoSecondsAndTheTakeFails)
{
    constexpr int kMountRefused = 77;
    if (findTool("fsfreeze").isEmpty() || findTool("mkfs.ext4").isEmpty())
        GTEST_SKIP() << "fsfreeze or mkfs.ext4 is not installed";
    const std::string image = home_.pathStd() + "/drive.img";
    feedTo(1000);
    const int exitCode = runChildWithFileSizeLimit(int64_t{1} << 40, [&]() -> int {
        const std::string quietImage = "'" + image + "'";
        const std::string quietDrive = "'" + drive_ + "'";
        if (::unshare(CLONE_NEWNS) != 0 || ::mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || std::system(("truncate -s 32M " + quietImage + " && mkfs.ext4 -q -F " + quietImage
                            + " >/dev/null 2>&1 && mount -o loop " + quietImage + " " + quietDrive + " 2>/dev/null")
                               .c_str())
                   != 0)
            return kMountRefused;
        struct Thaw {
            std::string drive;
            ~Thaw()
            {
                const int thawed = std::system(("fsfreeze -u " + drive + " 2>/dev/null").c_str());
                static_cast<void>(thawed);
            }
        };
        std::vector<std::unique_ptr<LiveBackupWorker>> workers;
        std::vector<std::shared_ptr<LiveBackupWorker::TakeControl>> controls;
        for (int w = 0; w < 2; ++w) {
            workers.push_back(std::make_unique<LiveBackupWorker>(drive_));
            LiveBackupWorker::TakeDescriptor take = descriptor(w, 0);
            controls.push_back(take.control);
            workers.back()->enqueue(std::move(take));
        }
        while (driveFiles().size() < 4)  // the poly partial and the three mono ones
            std::this_thread::yield();
        int result = 0;
        {
            Thaw thaw{quietDrive};
            if (std::system(("fsfreeze -f " + quietDrive).c_str()) != 0)
                return kMountRefused;
            // Enough for the writer to reach the disk and block there.
            feedTo(40000);
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            const auto before = std::chrono::steady_clock::now();
            for (auto& worker : workers)
                worker->requestStop();
            workers.clear();
            const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - before).count();
            if (seconds < 1.5 || seconds > 3.0)
                result = 2;
            if (home_.logText().find("LiveBackupWorker: Detaching worker blocked in removable I/O for " + drive_)
                == std::string::npos)
                result = 3;
        }
        for (const auto& control : controls) {
            control->endFrame.store(40000);
            if (waitForVerdict(*control) != LiveBackupWorker::Failed)
                result = 4;
        }
        for (const std::string& name : driveFiles()) {
            if (name.find(".tonvale.partial") != std::string::npos)
                result = 5;
        }
        const int unmounted = std::system(("umount " + quietDrive).c_str());
        static_cast<void>(unmounted);
        return result;
    });
    if (exitCode == kMountRefused)
        GTEST_SKIP() << "a loop-mounted ext4 image cannot be mounted or frozen here";
    EXPECT_EQ(exitCode, 0);
}

}  // namespace
