#include "realtime/DeadWoodList.h"

#include <algorithm>
#include <utility>

DeadWoodList::DeadWoodList(const std::atomic<uint64_t>& renderCycles, uint64_t cyclesToWait)
    : renderCycles_(renderCycles), cyclesToWait_(cyclesToWait)
{
}

DeadWoodList::~DeadWoodList()
{
    stopTimer();
}

void DeadWoodList::startTimer(std::chrono::milliseconds period)
{
    std::lock_guard<std::mutex> lock(timerMutex_);
    if (timerRunning_)
        return;
    timerRunning_ = true;
    timerThread_ = std::thread([this, period] { timerLoop(period); });
}

void DeadWoodList::stopTimer()
{
    {
        std::lock_guard<std::mutex> lock(timerMutex_);
        timerRunning_ = false;
    }
    timerCondition_.notify_all();
    if (timerThread_.joinable())
        timerThread_.join();
}

void DeadWoodList::timerLoop(std::chrono::milliseconds period)
{
    std::unique_lock<std::mutex> lock(timerMutex_);
    while (timerRunning_) {
        timerCondition_.wait_for(lock, period, [this] { return !timerRunning_; });
        if (!timerRunning_)
            break;
        lock.unlock();
        releaseDue();
        lock.lock();
    }
}

void DeadWoodList::retire(std::shared_ptr<const void> object)
{
    if (!object)
        return;
    // Sequentially consistent, like the publisher's swap and the callback's
    // increment: a count read here is not older than the swap before it.
    const uint64_t cycle = renderCycles_.load();
    {
        std::lock_guard<std::mutex> lock(listMutex_);
        entries_.push_back(Entry{std::move(object), cycle});
    }
    releaseDue();
}

size_t DeadWoodList::releaseDue()
{
    std::vector<Entry> due;
    {
        std::lock_guard<std::mutex> lock(listMutex_);
        const uint64_t now = renderCycles_.load();
        auto firstDue = std::stable_partition(entries_.begin(), entries_.end(), [&](const Entry& entry) {
            return now < entry.retiredAtCycle + cyclesToWait_;
        });
        due.assign(std::make_move_iterator(firstDue), std::make_move_iterator(entries_.end()));
        entries_.erase(firstDue, entries_.end());
    }
    return due.size();  // the objects are freed here, outside the lock
}

void DeadWoodList::releaseAll()
{
    std::vector<Entry> all;
    {
        std::lock_guard<std::mutex> lock(listMutex_);
        all.swap(entries_);
    }
}

size_t DeadWoodList::size() const
{
    std::lock_guard<std::mutex> lock(listMutex_);
    return entries_.size();
}
