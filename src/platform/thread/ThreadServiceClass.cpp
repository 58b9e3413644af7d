#include "platform/thread/ThreadServiceClass.h"

#include <cerrno>
#include <cstring>
#include <sys/resource.h>
#include <unistd.h>

namespace {

constexpr int kLowestRelativePriority = -15;

int classNiceValue(ThreadServiceClass serviceClass)
{
    switch (serviceClass) {
    case ThreadServiceClass::UserInteractive: return -10;
    case ThreadServiceClass::UserInitiated: return -5;
    case ThreadServiceClass::Utility: return 5;
    case ThreadServiceClass::Background: return 15;
    }
    return 0;
}

} // namespace

int niceValueFor(ThreadServiceClass serviceClass, int relativePriority)
{
    // Each step of five below the class is one nice step lower.
    return classNiceValue(serviceClass) + (-relativePriority) / 5;
}

bool setCurrentThreadServiceClass(ThreadServiceClass serviceClass, int relativePriority, std::string& reason)
{
    if (relativePriority > 0 || relativePriority < kLowestRelativePriority) {
        reason = "relative priority " + std::to_string(relativePriority) + " is outside -15..0";
        return false;
    }
    // On Linux a thread's nice value is its own: PRIO_PROCESS with the
    // thread id touches this thread only.
    if (::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), niceValueFor(serviceClass, relativePriority)) != 0) {
        reason = std::strerror(errno);
        return false;
    }
    return true;
}
