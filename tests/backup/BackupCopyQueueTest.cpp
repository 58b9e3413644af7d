// The queue: its limit, pause and resume, progress, stop with jobs still
// waiting, a throwing callback, and a stress run of pause, resume and stop
// against running copies (run it under TSan).
#include "BackupTestSupport.h"

#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>

namespace fs = std::filesystem;

namespace {

class BackupCopyQueueTest : public TempHomeTest {
protected:
    void SetUp() override
    {
        root_ = home_.pathStd() + "/drive";
        fs::create_directories(root_);
        fs::create_directories(home_.pathStd() + "/take");
    }
    std::string source(const std::string& name, size_t bytes, uint32_t seed = 1)
    {
        const std::string path = home_.pathStd() + "/take/" + name;
        writeBytes(path, patternBytes(bytes, seed));
        return path;
    }
    std::string destination() const { return root_ + "/Tonvale/P/001"; }
    bool queue(BackupCopyQueue& q, const std::string& path)
    {
        return q.tryQueueCopy(path, destination(), 0, 0, nullptr, root_);
    }
    size_t countInLog(const std::string& text) const
    {
        const std::string log = home_.logText();
        size_t count = 0;
        for (size_t at = log.find(text); at != std::string::npos; at = log.find(text, at + 1))
            ++count;
        return count;
    }

    std::string root_;
};

TEST_F(BackupCopyQueueTest, AFullQueueRefusesAndAcceptsAgainOnceAJobIsTaken)
{
    CompletedJobs done;  // outlives the queue that calls it
    BackupCopyQueue q;
    done.attach(q);
    const std::string path = source("A.wav", 10);
    for (int i = 0; i < BackupCopyQueue::kMaxWaitingJobs; ++i)
        ASSERT_TRUE(queue(q, path));
    EXPECT_FALSE(queue(q, path));
    EXPECT_EQ(countInLog("BackupCopyQueue: Queue full (128 jobs); rejecting " + path + " -> " + destination()), 1u);
    EXPECT_EQ(q.getPendingJobCount(), 128);

    q.pause();
    q.start();
    EXPECT_EQ(q.getPendingJobCount(), 128);  // paused: nothing starts
    q.resume();
    ASSERT_TRUE(done.waitFor(1));
    EXPECT_TRUE(queue(q, path));
    // Each of the 129 verified copies ends in an fsync of the drive, which a
    // disk busy with other tests' takes can hold for half a second: wait for
    // the condition with room to spare rather than for a figure of this disk.
    ASSERT_TRUE(done.waitFor(129, std::chrono::minutes(4)));
    for (const auto& job : done.jobs())
        EXPECT_FALSE(job.failed) << job.errorMessage;
}

TEST_F(BackupCopyQueueTest, PauseAndResumeLogOnlyOnChangeAndHoldJobs)
{
    CompletedJobs done;  // outlives the queue that calls it
    BackupCopyQueue q;
    done.attach(q);
    q.resume();  // without a pause: nothing
    q.start();
    q.start();   // one thread only
    q.pause();
    q.pause();
    ASSERT_TRUE(queue(q, source("A.wav", 100)));
    ASSERT_TRUE(queue(q, source("B.wav", 100)));
    EXPECT_EQ(q.getPendingJobCount(), 2);
    EXPECT_FALSE(q.isBusy());
    q.resume();
    ASSERT_TRUE(done.waitFor(2));
    q.stop();
    EXPECT_EQ(countInLog("BackupCopyQueue: Worker thread started"), 1u);
    EXPECT_EQ(countInLog("BackupCopyQueue: PAUSED (recording started)"), 1u);
    EXPECT_EQ(countInLog("BackupCopyQueue: RESUMED (recording stopped)"), 1u);
    EXPECT_EQ(readBytes(destination() + "/A.wav"), readBytes(home_.pathStd() + "/take/A.wav"));
}

TEST_F(BackupCopyQueueTest, ProgressRisesToOneThenFallsToZeroAfterTheCallback)
{
    BackupCopyQueue q;
    std::atomic<double> progressInCallback{-1.0};
    std::atomic<bool> busyInCallback{false};
    CompletedJobs done;
    q.setCompletionCallback([&](const BackupCopyQueue::CopyJob& job) {
        progressInCallback = q.getCurrentJobProgress();
        busyInCallback = q.isBusy();
        done.add(job);
    });
    ASSERT_TRUE(queue(q, source("Big.wav", 12 * 1024 * 1024)));
    EXPECT_EQ(q.getCurrentJobProgress(), 0.0);
    q.start();
    std::vector<double> seen;
    while (done.jobs().empty()) {
        seen.push_back(q.getCurrentJobProgress());
        std::this_thread::yield();
    }
    q.stop();
    EXPECT_EQ(progressInCallback.load(), 1.0);
    EXPECT_TRUE(busyInCallback.load());
    EXPECT_EQ(q.getCurrentJobProgress(), 0.0);
    EXPECT_FALSE(q.isBusy());
    EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [](double p) { return p > 0.0 && p < 1.0; }));
    EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end()));
}

TEST_F(BackupCopyQueueTest, StopWhilePausedInACopyCancelsItAndReportsEveryWaitingJob)
{
    CompletedJobs done;  // outlives the queue that calls it
    BackupCopyQueue q;
    done.attach(q);
    const std::string big = source("Big.wav", 16 * 1024 * 1024);
    const std::string waiting = source("Waiting.wav", 100);
    ASSERT_TRUE(queue(q, big));
    ASSERT_TRUE(queue(q, waiting));
    q.start();
    while (q.getCurrentJobProgress() == 0.0)
        std::this_thread::yield();
    q.pause();  // the copy holds before its next chunk
    // The window's polls answer while a copy holds: none waits for it.
    EXPECT_TRUE(q.isBusy());
    EXPECT_EQ(q.getPendingJobCount(), 1);
    EXPECT_TRUE(q.hasWork());
    q.stop();
    ASSERT_TRUE(done.waitFor(2));
    const auto jobs = done.jobs();
    EXPECT_EQ(jobs[0].sourcePath, big);
    EXPECT_TRUE(jobs[0].failed);
    EXPECT_EQ(jobs[0].errorMessage, "Copy cancelled");
    // The job that never ran is not dropped silently.
    EXPECT_EQ(jobs[1].sourcePath, waiting);
    EXPECT_TRUE(jobs[1].failed);
    EXPECT_EQ(jobs[1].errorMessage, "Copy cancelled");
    EXPECT_EQ(countInLog("BackupCopyQueue: WARNING - Job not run (queue stopped): " + waiting + " -> " + destination()),
              1u);
    EXPECT_TRUE(fileNamesIn(destination()).empty());  // no partial, no final
    EXPECT_EQ(q.getPendingJobCount(), 0);
}

TEST_F(BackupCopyQueueTest, DestroyingAQueueReportsJobsThatNeverRan)
{
    CompletedJobs done;
    {
        BackupCopyQueue q;  // never started
        done.attach(q);
        q.stop();           // nothing to stop, nothing logged
        ASSERT_TRUE(queue(q, source("A.wav", 10)));
    }
    ASSERT_EQ(done.jobs().size(), 1u);
    EXPECT_TRUE(done.jobs()[0].failed);
    EXPECT_EQ(countInLog("BackupCopyQueue worker stopped"), 0u);
}

TEST_F(BackupCopyQueueTest, AThrowingCallbackIsLoggedAndTheNextJobRuns)
{
    CompletedJobs done;  // outlives the queue that calls it
    BackupCopyQueue q;
    std::atomic<int> calls{0};
    q.setCompletionCallback([&](const BackupCopyQueue::CopyJob& job) {
        done.add(job);
        if (calls++ == 0)
            throw std::runtime_error("window gone");
    });
    ASSERT_TRUE(queue(q, source("A.wav", 10)));
    ASSERT_TRUE(queue(q, source("B.wav", 10)));
    q.start();
    ASSERT_TRUE(done.waitFor(2));
    q.stop();
    EXPECT_EQ(countInLog("BackupCopyQueue: Completion callback failed: window gone"), 1u);
    EXPECT_TRUE(fs::exists(destination() + "/B.wav"));
}

// Pause, resume and stop from other threads while copies run: no job may be
// lost, none may hang on a missed wake-up, and every job ends exactly once.
TEST_F(BackupCopyQueueTest, PauseResumeStopStressLosesNoWakeUp)
{
    std::vector<std::string> sources;
    for (int i = 0; i < 12; ++i)
        sources.push_back(source("S" + std::to_string(i) + ".wav", (i % 3 + 1) * 700 * 1024, static_cast<uint32_t>(i)));
    for (int round = 0; round < 3; ++round) {
        CompletedJobs done;
        BackupCopyQueue q;
        done.attach(q);
        q.start();
        std::atomic<bool> stopToggling{false};
        std::thread toggler([&] {
            std::mt19937 random(static_cast<unsigned>(round));
            while (!stopToggling.load()) {
                q.pause();
                for (int spin = static_cast<int>(random() % 200); spin > 0; --spin)
                    std::this_thread::yield();
                q.resume();
                for (int spin = static_cast<int>(random() % 200); spin > 0; --spin)
                    std::this_thread::yield();
            }
            q.resume();
        });
        std::thread producer([&] {
            for (const std::string& path : sources)
                queue(q, path);
        });
        producer.join();
        if (round < 2) {
            // Every job runs to its end while the toggling goes on.
            ASSERT_TRUE(done.waitFor(sources.size(), std::chrono::seconds(120)));
            stopToggling = true;
            toggler.join();
            for (const auto& job : done.jobs())
                EXPECT_FALSE(job.failed) << job.errorMessage;
        } else {
            // A stop in the middle: every job still ends exactly once.
            while (done.jobs().size() < 2)
                std::this_thread::yield();
            q.stop();
            stopToggling = true;
            toggler.join();
            EXPECT_EQ(done.jobs().size(), sources.size());
        }
        q.stop();
        for (const std::string& name : fileNamesIn(destination()))
            EXPECT_EQ(name.find(".tonvale.partial"), std::string::npos) << name;
        fs::remove_all(root_ + "/Tonvale");
    }
}

}  // namespace
