// The engine's own guard on where a take goes, behind the window's: a save
// location on a card that is not mounted or is being formatted refuses the
// take and makes no folder; a backup drive on a card being formatted is left
// out of the take's live backup and its copy after the close, with one log
// line, while the other drive gets the take.

#include "TakeRoadSupport.h"

#include "core/ConfigManager.h"
#include "platform/volumes/RecordingDrive.h"
#include "platform/volumes/VirtualVolumeSystem.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;

class TakeDriveGuardTest : public TakeRoadTest {
protected:
    void SetUp() override
    {
        TakeRoadTest::SetUp();
        root_ = home_.pathStd() + "/volumes";
        fs::create_directories(root_);
        setVolumesRoots({root_});
        installVolumeSystem(&volumes_);
    }
    void TearDown() override
    {
        installVolumeSystem(nullptr);
        setVolumesRoots(defaultVolumesRoots());
        TakeRoadTest::TearDown();
    }

    std::string folder(const std::string& name) const
    {
        const std::string path = root_ + "/" + name;
        fs::create_directories(path);
        return path;
    }

    static size_t wavCount(const std::string& root)
    {
        if (!fs::exists(root))
            return 0;
        return static_cast<size_t>(std::count_if(fs::recursive_directory_iterator(root), {}, [](const auto& entry) {
            return entry.is_regular_file() && entry.path().extension() == ".wav";
        }));
    }

    void waitForCopies()
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (engine_->isBackupCopyActive() && std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        ASSERT_FALSE(engine_->isBackupCopyActive());
    }

    std::string root_;
    VirtualVolumeSystem volumes_;
};

TEST_F(TakeDriveGuardTest, ASaveLocationOnACardThatIsNotThereRefusesTheTake)
{
    setUpTakeRoad(4, kFileFormatPolyphonic);
    armTracks({0});
    engine_->setPostrollDuration(0);
    const std::string pulled = folder("PULLED");
    const std::string card = folder("CARD");
    volumes_.addVolume(card, "CARD", 32ULL << 30, 8ULL << 30);
    struct Case {
        const char* what;
        std::string saveLocation;
        bool formatting;
        std::string refusal;
    };
    const Case cases[] = {
        {"plain folder where a card should be", pulled, false, "The recording drive " + pulled + " is not mounted."},
        {"card being formatted", card + "/takes", true, "The recording drive " + card + " is being formatted."},
        {"mounted card", card + "/takes", false, ""},
        {"folder outside the volumes roots", home_.pathStd() + "/Recordings", false, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ConfigManager::getInstance()->setString("media.saveLocation", c.saveLocation);
        if (c.formatting)
            markVolumeFormatting(card);
        step(kSecond / 4);
        const bool started = engine_->startRecording();
        if (c.formatting)
            clearVolumeFormatting(card);
        EXPECT_EQ(started, c.refusal.empty());
        if (!started) {
            EXPECT_EQ(engine_->getTakeStartRefusal(), c.refusal);
            EXPECT_FALSE(fs::exists(c.saveLocation + "/Project")) << "no folder is made on the system disk";
            EXPECT_EQ(wavCount(c.saveLocation), 0u);
            continue;
        }
        step(kSecond / 2);
        EXPECT_TRUE(engine_->stopRecording());
        EXPECT_TRUE(waitUntilIdle());
        EXPECT_EQ(wavCount(c.saveLocation), 1u);
    }
}

// With live backup on and off: the drive being formatted receives nothing
// (neither the live copy nor the copy after the close), the other one the take.
TEST_F(TakeDriveGuardTest, ABackupDriveBeingFormattedIsLeftOutOfTheTake)
{
    setUpTakeRoad(4, kFileFormatPolyphonic);
    armTracks({0});
    engine_->setPostrollDuration(0);
    const std::string formatting = folder("FMT");
    const std::string other = folder("OTHER");
    const std::string line = "Backup drive 1 (" + formatting + ") is being formatted; left out of this take's backups";
    engine_->setBackupMediaPathsWithFormats(true, {{formatting, 0}, {other, 0}});
    for (const bool live : {true, false}) {
        SCOPED_TRACE(live ? "live backup" : "copy after the take");
        engine_->setLiveBackupActiveTake(live);
        const size_t otherBefore = wavCount(other);
        const int linesBefore = logCount(line);
        {
            const VolumeFormattingMark mark(formatting);
            step(kSecond / 4);
            ASSERT_TRUE(engine_->startRecording());
            const auto controls = engine_->takeRecorder().liveTakeControls();
            if (live) {
                ASSERT_EQ(controls.size(), 2u);
                EXPECT_FALSE(controls[0]);
                EXPECT_TRUE(controls[1]);
            }
            step(kSecond / 2);
            EXPECT_TRUE(engine_->stopRecording());
            EXPECT_TRUE(waitUntilIdle());
            ASSERT_NO_FATAL_FAILURE(waitForCopies());
        }
        EXPECT_EQ(logCount(line), linesBefore + 1);
        EXPECT_EQ(wavCount(formatting), 0u);
        EXPECT_EQ(wavCount(other), otherBefore + 1);
        EXPECT_FALSE(engine_->hasBackupDriveError(0));
    }

    // Once the format is over the drive takes part again.
    step(kSecond / 4);
    ASSERT_TRUE(engine_->startRecording());
    step(kSecond / 2);
    EXPECT_TRUE(engine_->stopRecording());
    EXPECT_TRUE(waitUntilIdle());
    ASSERT_NO_FATAL_FAILURE(waitForCopies());
    EXPECT_EQ(wavCount(formatting), 1u);
    EXPECT_EQ(logCount(line), 2);
}

} // namespace
