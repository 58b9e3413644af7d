#include "ui/common/BackgroundWork.h"

#include "support/GuiLatenessProbe.h"

#include <QAbstractButton>
#include <QApplication>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QSemaphore>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>

namespace {

constexpr int kWaitMs = 10000;

// Work of `steps` steps, each released by the test through `gate`, so the
// test decides when the work advances instead of guessing with sleeps.
struct GatedWork {
    QSemaphore gate;
    std::atomic<int> stepsDone{0};
    std::atomic<bool> ranOnGuiThread{false};
    std::atomic<bool> returned{false};

    auto job(int steps)
    {
        return [this, steps](QPromise<int>& promise) {
            ranOnGuiThread = QThread::currentThread() == qApp->thread();
            promise.setProgressRange(0, steps);
            for (int step = 0; step < steps; ++step) {
                while (!gate.tryAcquire(1, 5)) {
                    if (promise.isCanceled()) {
                        returned = true;
                        return;
                    }
                }
                if (promise.isCanceled())
                    break;
                ++stepsDone;
                promise.setProgressValueAndText(step + 1, QString("Step %1 of %2").arg(step + 1).arg(steps));
            }
            promise.addResult(stepsDone.load());
            returned = true;
        };
    }
};

} // namespace

TEST(BackgroundWorkTest, WorkRunsOffTheGuiThreadWhileItsTimersKeepTime)
{
    QWidget parent;
    GatedWork work;
    QFutureWatcher<int> watcher;
    startBackgroundWork(watcher, work.job(3));
    QPointer<QProgressDialog> dialog = showWorkProgress(watcher, &parent, "Repair", "Repairing...", true);

    GuiLatenessProbe probe;
    probe.start();
    QTest::qWait(100); // the GUI thread keeps ticking while the work is held at its first step
    work.gate.release(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.isFinished(); }, kWaitMs));
    probe.stop();

    EXPECT_FALSE(work.ranOnGuiThread.load());
    EXPECT_EQ(watcher.result(), 3);
    EXPECT_GT(probe.ticks(), 3);
    EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
    EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.isNull(); }, kWaitMs)) << "the dialog goes with the work";
}

TEST(BackgroundWorkTest, ProgressAndStepTextReachTheDialog)
{
    QWidget parent;
    GatedWork work;
    QFutureWatcher<int> watcher;
    startBackgroundWork(watcher, work.job(4));
    QPointer<QProgressDialog> dialog = showWorkProgress(watcher, &parent, "Scan", "Scanning...", true);

    // Qt passes on at most 25 progress reports a second; the first always goes.
    work.gate.release(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog && dialog->value() == 1; }, kWaitMs));
    EXPECT_EQ(dialog->maximum(), 4);
    EXPECT_EQ(dialog->labelText(), "Step 1 of 4");
    EXPECT_EQ(dialog->windowTitle(), "Scan");

    work.gate.release(3);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.isFinished(); }, kWaitMs));
}

TEST(BackgroundWorkTest, CancelStopsTheWorkAtItsNextStep)
{
    QWidget parent;
    GatedWork work;
    QFutureWatcher<int> watcher;
    startBackgroundWork(watcher, work.job(10));
    QPointer<QProgressDialog> dialog = showWorkProgress(watcher, &parent, "Delete", "Deleting...", true);

    work.gate.release(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return work.stepsDone.load() == 1; }, kWaitMs));
    ASSERT_TRUE(dialog);
    auto* cancel = dialog->findChild<QPushButton*>();
    ASSERT_NE(cancel, nullptr);
    QTest::mouseClick(cancel, Qt::LeftButton);

    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.isFinished(); }, kWaitMs));
    EXPECT_TRUE(watcher.isCanceled());
    EXPECT_EQ(work.stepsDone.load(), 1);
}

TEST(BackgroundWorkTest, WorkThatCannotStopHalfWayOffersNoCancel)
{
    QWidget parent;
    GatedWork work;
    QFutureWatcher<int> watcher;
    startBackgroundWork(watcher, work.job(1));
    QPointer<QProgressDialog> dialog = showWorkProgress(watcher, &parent, "Format", "Formatting...", false);

    ASSERT_TRUE(dialog);
    EXPECT_EQ(dialog->findChild<QPushButton*>(), nullptr);
    work.gate.release(1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return watcher.isFinished(); }, kWaitMs));
    EXPECT_FALSE(watcher.isCanceled());
}

TEST(BackgroundWorkTest, CancelAndWaitReturnsOnlyAfterTheWorkHasReturned)
{
    GatedWork work;
    {
        QFutureWatcher<int> watcher;
        startBackgroundWork(watcher, work.job(5));
        work.gate.release(1);
        ASSERT_TRUE(QTest::qWaitFor([&] { return work.stepsDone.load() == 1; }, kWaitMs));
        cancelAndWait(watcher);
        EXPECT_TRUE(work.returned.load());
    }
    EXPECT_EQ(work.stepsDone.load(), 1);
}

TEST(BackgroundWorkTest, WaitForWorkKeepsTheGuiThreadTickingAndEndsWithTheWorkOrItsOwner)
{
    {
        GatedWork work;
        QFutureWatcher<int> watcher;
        startBackgroundWork(watcher, work.job(2));
        GuiLatenessProbe probe;
        probe.start();
        int ticksSeen = 0;
        // Released from inside the wait, so the wait is what keeps the timer going.
        QTimer::singleShot(200, [&] {
            ticksSeen = probe.ticks();
            work.gate.release(2);
        });
        EXPECT_TRUE(waitForWork(watcher));
        probe.stop();
        EXPECT_TRUE(watcher.isFinished());
        EXPECT_EQ(watcher.result(), 2);
        EXPECT_GT(ticksSeen, 5);
        EXPECT_LT(probe.worstBlockedMs(), 50) << describe(probe);
    }
    {
        // The owner goes away while its handler waits: the wait says so.
        GatedWork work;
        auto* watcher = new QFutureWatcher<int>;
        startBackgroundWork(*watcher, work.job(3));
        QTimer::singleShot(50, [&] {
            cancelAndWait(*watcher);
            delete watcher;
        });
        EXPECT_FALSE(waitForWork(*watcher));
        EXPECT_TRUE(work.returned.load());
    }
}
