#pragma once

// JACK runs the clients of its graph one after the other each period and
// hands the port buffers from one to the next through futexes in shared
// memory that ThreadSanitizer cannot see. Each process cycle of ours (and of
// the test clients) says so with these two calls, so the hand-off is not
// reported as a race; in other builds they are empty.
#if defined(__SANITIZE_THREAD__)
extern "C" void __tsan_acquire(void* address);
extern "C" void __tsan_release(void* address);
#endif

namespace JackGraphOrder {

#if defined(__SANITIZE_THREAD__)
inline char token;
inline void enterCycle() { __tsan_acquire(&token); }
inline void leaveCycle() { __tsan_release(&token); }
#else
inline void enterCycle() {}
inline void leaveCycle() {}
#endif

}  // namespace JackGraphOrder
