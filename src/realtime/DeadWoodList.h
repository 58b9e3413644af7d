#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

// Objects the render callback may still hold after they were unpublished
// (a routing snapshot, an LTC reader): kept here until the render counter has
// moved on far enough that no block can begin with them, then freed, never by
// a thread that waits for the audio thread.
//
// The publisher swaps the new object in first (sequentially consistent, like
// the callback's counter increment) and retires the old one with the counter
// value it then reads: a block that counts itself after the swap loads the
// new object, so once the counter is `cyclesToWait` further on, no block
// reads the old one.
//
// Threads:
// - retire, releaseDue, releaseAll, size: any non-real-time thread (the GUI
//   thread, the owner); they take listMutex_ only while moving entries, and
//   free the objects after letting it go.
// - The timer thread (startTimer; stopped on a flag and joined by stopTimer
//   and the destructor) calls releaseDue once per period, so retired objects
//   go even when nothing else is ever published.
// - The render callback never touches the list; it only increments the
//   counter this list reads.
class DeadWoodList {
public:
    explicit DeadWoodList(const std::atomic<uint64_t>& renderCycles, uint64_t cyclesToWait = 2);
    ~DeadWoodList();
    DeadWoodList(const DeadWoodList&) = delete;
    DeadWoodList& operator=(const DeadWoodList&) = delete;

    void startTimer(std::chrono::milliseconds period);
    void stopTimer();

    // Keeps `object` until the counter has passed today's value by
    // cyclesToWait, and frees the entries already due (a later retire is one
    // of the two ways the list empties).
    void retire(std::shared_ptr<const void> object);
    // Frees the entries whose wait is over; returns how many went.
    size_t releaseDue();
    // Frees everything: the caller knows no block can run (the unit stopped).
    void releaseAll();
    size_t size() const;

private:
    struct Entry {
        std::shared_ptr<const void> object;
        uint64_t retiredAtCycle = 0;
    };
    void timerLoop(std::chrono::milliseconds period);

    const std::atomic<uint64_t>& renderCycles_;
    const uint64_t cyclesToWait_;
    mutable std::mutex listMutex_;
    std::vector<Entry> entries_;

    std::thread timerThread_;
    std::mutex timerMutex_;
    std::condition_variable timerCondition_;
    bool timerRunning_ = false;  // guarded by timerMutex_
};
