#pragma once

#include <atomic>
#include <thread>

// A pointer the render callback borrows for part of a block, and that the
// GUI thread can take back with the guarantee that no block still uses it.
//
// Audio thread: enter() marks the use and loads the pointer, leave() ends
// the use; no locks, no allocation.
// GUI thread: exchange() unpublishes the old pointer and returns it once the
// callback is outside its use. The wait lasts at most one use in progress
// (a few microseconds), whether or not further blocks are rendered, so it
// holds also when the device died while the unit renders on.
//
// Every access is sequentially consistent: either the callback's mark comes
// first and the GUI thread waits for its end, or the exchange comes first and
// the callback loads the new pointer.
template <typename T>
class RealtimeSlot {
public:
    // Audio thread.
    T* enter()
    {
        inUse_.store(true);
        return object_.load();
    }
    void leave() { inUse_.store(false); }

    // GUI thread (one at a time).
    T* exchange(T* replacement)
    {
        T* previous = object_.exchange(replacement);
        while (inUse_.load())
            std::this_thread::yield();
        return previous;
    }

private:
    std::atomic<T*> object_{nullptr};
    std::atomic<bool> inUse_{false};
};

// Keeps a slot entered for one scope of the render callback.
template <typename T>
class RealtimeSlotUse {
public:
    explicit RealtimeSlotUse(RealtimeSlot<T>& slot) : slot_(slot), object_(slot.enter()) {}
    ~RealtimeSlotUse() { slot_.leave(); }
    RealtimeSlotUse(const RealtimeSlotUse&) = delete;
    RealtimeSlotUse& operator=(const RealtimeSlotUse&) = delete;
    T* get() const { return object_; }

private:
    RealtimeSlot<T>& slot_;
    T* object_;
};
