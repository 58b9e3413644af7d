// Global operator new and pthread_mutex_lock replaced for the binaries that
// link this file: each call made while the render callback runs (inside
// RenderThreadMark) is counted. Left out of sanitizer builds, whose runtimes
// own these symbols.
#include "RenderThreadCounters.h"

#include "realtime/RenderThreadMark.h"

#include <cstddef>
#include <cstdlib>
#include <dlfcn.h>
#include <new>
#include <pthread.h>

std::atomic<int64_t> renderAllocations{0};
std::atomic<int64_t> renderMutexLocks{0};

namespace {

void* countedAllocation(size_t bytes, size_t alignment)
{
    if (RenderThreadMark::isInRenderCallback())
        renderAllocations.fetch_add(1);
    const size_t size = bytes == 0 ? 1 : bytes;
    void* memory = alignment <= alignof(std::max_align_t)
                       ? std::malloc(size)
                       : std::aligned_alloc(alignment, (size + alignment - 1) / alignment * alignment);
    if (memory == nullptr)
        throw std::bad_alloc();
    return memory;
}

using MutexLockFunction = int (*)(pthread_mutex_t*);
std::atomic<MutexLockFunction> realMutexLock{nullptr};

}  // namespace

void* operator new(size_t bytes) { return countedAllocation(bytes, 0); }
void* operator new[](size_t bytes) { return countedAllocation(bytes, 0); }
void* operator new(size_t bytes, std::align_val_t a) { return countedAllocation(bytes, static_cast<size_t>(a)); }
void* operator new[](size_t bytes, std::align_val_t a) { return countedAllocation(bytes, static_cast<size_t>(a)); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t, std::align_val_t) noexcept { std::free(p); }

extern "C" int pthread_mutex_lock(pthread_mutex_t* mutex)
{
    MutexLockFunction real = realMutexLock.load();
    if (real == nullptr) {
        real = reinterpret_cast<MutexLockFunction>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
        realMutexLock.store(real);
    }
    if (RenderThreadMark::isInRenderCallback())
        renderMutexLocks.fetch_add(1);
    return real(mutex);
}

