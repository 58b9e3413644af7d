// Takes that end the hard way, each recorded by a child process: a disk that
// fills up mid-take (the file-size limit stands in for it) and a program
// killed with SIGKILL mid-take. The files must keep everything written before
// and be recovered by the repairer, read back by libsndfile.

#include "TakeRoadSupport.h"

#include "core/ConfigManager.h"
#include "media/RF64Repairer.h"
#include "support/ChildProcess.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>
#include <thread>

namespace fs = std::filesystem;

namespace {

constexpr uint64_t kSecond = 48000;
constexpr int64_t kFileSizeLimitBytes = 400'000;

// Child side: no gtest macros; every failure is an exit code.
enum ChildExit {
    kChildOk = 0,
    kChildNoDevice = 10,
    kChildStartRefused,
    kChildNoWriteError,
    kChildNotIdle,
    kChildStopRefused,
    kChildRestartRefused,
};

class ChildTake {
public:
    ChildTake(const std::string& saveLocation)
        : system_(std::make_shared<VirtualAudioSystem>(VirtualAudioSystem::Mode::Stepped,
                                                       VirtualAudioDescription::builtInDefault()))
    {
        ConfigManager::getInstance()->setString("media.saveLocation", saveLocation);
        device_ = system_->findDevice("Virtual Interface");
        std::vector<float> signal(20 * kSecond);
        for (size_t k = 0; k < signal.size(); ++k)
            signal[k] = TakeRoadTestAccess::fed(0, k);
        system_->feedInput(device_, 0, std::move(signal));
        engine_ = std::make_unique<TestableEngine>(system_, 8);
        engine_->initialize();
    }
    bool setUp()
    {
        if (!engine_->selectDevice("Virtual Interface"))
            return false;
        const std::vector<std::string> inputs = engine_->getAvailableInputChannels();
        engine_->stop();
        engine_->setInputRouting({inputs[0]});
        engine_->start();
        engine_->setMediaFormat(kFileFormatPolyphonic, 32);
        engine_->setSampleFormat(BwfFileWriter::Float32);
        engine_->setTrackArmed(0, true);
        return true;
    }
    // Renders and lets the writer catch up after every eighth of a second.
    void record(uint64_t frames, const std::function<bool()>& until = {})
    {
        for (uint64_t done = 0; done < frames; done += kSecond / 8) {
            system_->renderBlocks(static_cast<int>(kSecond / 8 / 256), 256);
            const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
            while (engine_->getWriterState() == WriterState::Recording
                   && engine_->getRingWriterReadPosition() + 64 < static_cast<uint64_t>(engine_->getRecordingRingWritePosition())
                   && std::chrono::steady_clock::now() < deadline)
                std::this_thread::yield();
            if (until && until())
                return;
        }
    }
    std::shared_ptr<VirtualAudioSystem> system_;
    AudioDeviceId device_ = kNoAudioDevice;
    std::unique_ptr<TestableEngine> engine_;
};

class TakeRoadProcessTest : public TempHomeTest {
protected:
    std::string saveLocation() const { return home_.pathStd() + "/Recordings"; }
    bool logHas(const std::string& text) const { return home_.logText().find(text) != std::string::npos; }
    std::vector<std::string> takeFiles() const
    {
        std::vector<std::string> files;
        for (const auto& entry : fs::recursive_directory_iterator(saveLocation()))
            if (entry.path().extension() == ".wav")
                files.push_back(entry.path().string());
        return files;
    }
    // Repairs the one take file and checks that every frame in it is the
    // fed signal from the take's first frame (position 0) on; returns the
    // recovered frame count.
    int64_t repairAndCheck()
    {
        const std::vector<std::string> files = takeFiles();
        EXPECT_EQ(files.size(), 1u);
        if (files.size() != 1)
            return -1;
        RF64Repairer repairer;
        const std::vector<RF64Repairer::CorruptedFile> found = repairer.scanDirectory(saveLocation(), true);
        EXPECT_EQ(found.size(), 1u);
        EXPECT_TRUE(repairer.repairFile(files[0])) << repairer.getLastError();
        const AudioFile file = readWithSndfile(files[0]);
        EXPECT_TRUE(file.ok);
        EXPECT_EQ(file.channels, 2);
        int64_t mismatches = 0;
        for (int64_t k = 0; k < file.frames; ++k)
            mismatches += file.at(k, 1) != TakeRoadTestAccess::fed(0, static_cast<uint64_t>(k));
        EXPECT_EQ(mismatches, 0);
        return file.frames;
    }
};

TEST_F(TakeRoadProcessTest, DiskFullEndsTheTakeCountsTheErrorAndKeepsWhatWasWritten)
{
    const int exitCode = runChildWithFileSizeLimit(kFileSizeLimitBytes, [this] {
        ChildTake take(saveLocation());
        if (!take.setUp())
            return kChildNoDevice;
        if (!take.engine_->startRecording())
            return kChildStartRefused;
        take.record(4 * kSecond, [&] { return take.engine_->getWriteErrors() > 0; });
        if (take.engine_->getWriteErrors() != 1)
            return kChildNoWriteError;
        if (!take.engine_->waitForWriterIdle(std::chrono::seconds(10)) || !take.engine_->isRecording())
            return kChildNotIdle;
        if (!take.engine_->stopRecording() || take.engine_->getWriterState() != WriterState::Idle)
            return kChildStopRefused;
        take.engine_.reset();
        return kChildOk;
    });
    ASSERT_EQ(exitCode, kChildOk);
    EXPECT_TRUE(logHas("CoreAudio: ERROR - Ring writer failed to write polyphonic data"));
    EXPECT_TRUE(logHas("CoreAudio: Ring writer finished recording"));
    const int64_t frames = repairAndCheck();
    // Filled up to the limit: whole frames of 8 bytes after a header of a
    // few kilobytes.
    EXPECT_GT(frames, static_cast<int64_t>((kFileSizeLimitBytes - 8192) / 8));
}

TEST_F(TakeRoadProcessTest, KilledMidTakeLeavesAFileTheRepairerRecovers)
{
    const KilledChild child = runChildThenKill([this] {
        // Never destroyed: the take is still running when the process is killed.
        auto* take = new ChildTake(saveLocation());
        const char verdict = take->setUp() && take->engine_->startRecording() ? 'y' : 'n';
        take->record(3 * kSecond);
        return verdict;
    });
    ASSERT_TRUE(child.reported);
    ASSERT_EQ(child.verdict, 'y');
    ASSERT_TRUE(child.killedBySigkill);
    const int64_t frames = repairAndCheck();
    // Whatever passed the writer's last flush: most of three seconds.
    EXPECT_GT(frames, static_cast<int64_t>(2 * kSecond));
}

}  // namespace
