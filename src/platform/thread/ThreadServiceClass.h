#pragma once

#include <string>

// How much of the machine a thread may claim, from the audio-adjacent
// workers down to housekeeping. The classes order threads against each
// other; none is real-time (the render callback's thread belongs to the
// audio system).
enum class ThreadServiceClass {
    UserInteractive,
    UserInitiated,  // keeps pace with something the user is doing: the ring writer
    Utility,        // long-running work the user knows about: live backup
    Background,     // work nobody waits for: the copy queue
};

// Gives the calling thread a service class. relativePriority lowers the
// thread within its class, from 0 (the class itself) to -15. On Linux a class
// is a nice value of the thread alone; raising a thread above the default
// needs the right to (root or CAP_SYS_NICE, or a raised RLIMIT_NICE).
// False with the reason when the class cannot be given; the thread then keeps
// what it had.
bool setCurrentThreadServiceClass(ThreadServiceClass serviceClass, int relativePriority, std::string& reason);

// The nice value setCurrentThreadServiceClass gives for a class and a
// relative priority in range.
int niceValueFor(ThreadServiceClass serviceClass, int relativePriority);
