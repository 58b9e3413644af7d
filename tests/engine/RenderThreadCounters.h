#pragma once

#include <atomic>
#include <cstdint>

// Allocations and mutex locks made on the render thread while the render
// callback runs, counted by the replaced operator new and
// pthread_mutex_lock in RenderThreadCounters.cpp.
extern std::atomic<int64_t> renderAllocations;
extern std::atomic<int64_t> renderMutexLocks;
