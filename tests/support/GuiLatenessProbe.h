#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

#include <cstdint>
#include <string>

// Measures how long the calling (GUI) thread holds up a 10 ms timer while
// something else runs there: the stand-in for the meters, the timecode and
// the record and stop keys that share that thread. Lives on the GUI thread.
//
// A timer is late for two reasons: the thread was busy (running our code or
// waiting inside it: a read, a sleep, a lock), or the machine kept it from
// running. Only the first is ours, so the probe counts, per gap between two
// ticks, the thread's own CPU time (CLOCK_THREAD_CPUTIME_ID) and the time it
// waited beyond the period: the wall time less that CPU time and less the
// time the kernel kept it ready on a run queue (/proc/thread-self/schedstat).
// A loaded machine still leaves part of such a wait unexplained (a shared
// disk, a virtual machine's host, a worker of ours holding a lock while it
// waits for a core), so waits count only beyond kWaitSlackMs: a blocking call
// put on the thread (an open, a format, a network wait) still shows, while
// CPU work counts from its first millisecond. Where the kernel offers no
// run-queue figure, only the CPU time counts.
class GuiLatenessProbe : public QObject {
public:
    static constexpr int kPeriodMs = 10;
    // Observed on a machine with every core busy and several builds beside
    // the tests: unexplained waits up to about 55 ms.
    static constexpr int kWaitSlackMs = 150;

    GuiLatenessProbe();

    void start();
    void stop();

    // The most time in one gap between two ticks that the thread spent in
    // our code, in milliseconds: its CPU time plus its waits beyond the
    // slack. What the 50 ms rule for the GUI thread bounds, whatever else
    // loads the machine.
    qint64 worstBlockedMs() const { return worstBlockedNs_ / 1000000; }
    // The thread's own CPU time in the longest-running gap, in milliseconds.
    qint64 worstCpuMs() const { return worstCpuNs_ / 1000000; }
    // The longest wait in one gap beyond the period that neither CPU time nor
    // the run queue explains, slack not taken off, in milliseconds.
    qint64 worstWaitMs() const { return worstWaitNs_ / 1000000; }
    // The longest wall-clock gap beyond the period, in milliseconds, load
    // included: for messages only, never for a bound.
    qint64 worstLateMs() const { return worstLateNs_ / 1000000; }
    int ticks() const { return ticks_; }
    // False where the kernel offers no run-queue figure (blocking waits unseen).
    bool seesWaits() const { return seesWaits_; }

private:
    struct Sample {
        std::int64_t wallNs = 0;
        std::int64_t cpuNs = 0;
        std::int64_t queuedNs = 0; // time spent ready to run but not running
    };

    Sample sample() const;
    void tick();

    QTimer timer_;
    QElapsedTimer clock_;
    Sample last_;
    std::int64_t worstBlockedNs_ = 0;
    std::int64_t worstCpuNs_ = 0;
    std::int64_t worstWaitNs_ = 0;
    std::int64_t worstLateNs_ = 0;
    int ticks_ = 0;
    bool seesWaits_ = false;
};

// Nanoseconds the calling thread has so far spent ready to run while the
// machine ran other work; -1 where the kernel does not say. The difference
// of two readings is what load alone added to a wait on the thread's timers.
std::int64_t threadRunQueueNs();

// Prints the probe's figures beside a failed expectation.
std::string describe(const GuiLatenessProbe& probe);
