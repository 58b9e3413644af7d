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
// waiting inside it: a read, a sleep, a lock), or it was ready to run and the
// machine gave its cores to other processes. Only the first is ours, so the
// probe counts, per gap between two ticks, the wall time beyond the period
// less the time the kernel kept the thread waiting on a run queue
// (/proc/thread-self/schedstat), and separately the thread's own CPU time
// (CLOCK_THREAD_CPUTIME_ID). Where the kernel offers no run-queue figure, only
// the CPU time counts and blocking waits go unseen.
class GuiLatenessProbe : public QObject {
public:
    static constexpr int kPeriodMs = 10;

    GuiLatenessProbe();

    void start();
    void stop();

    // The longest gap between two ticks beyond the period that the thread
    // spent running or waiting in its own code, in milliseconds: what the
    // 50 ms rule for the GUI thread bounds, whatever else loads the machine.
    qint64 worstBlockedMs() const { return worstBlockedNs_ / 1000000; }
    // The thread's own CPU time in the longest-running gap, in milliseconds.
    qint64 worstCpuMs() const { return worstCpuNs_ / 1000000; }
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
