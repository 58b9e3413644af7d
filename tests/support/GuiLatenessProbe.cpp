#include "support/GuiLatenessProbe.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <string>

namespace {

std::int64_t threadCpuNs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

// The second field of /proc/thread-self/schedstat.
std::int64_t threadRunQueueNs()
{
    const int fd = ::open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    char text[128];
    const ssize_t n = ::read(fd, text, sizeof text);
    ::close(fd);
    if (n <= 0)
        return -1;
    const char* const begin = text;
    const char* const end = begin + n;
    const char* p = std::find(begin, end, ' ');
    if (p == end)
        return -1;
    std::int64_t queuedNs = -1;
    if (std::from_chars(p + 1, end, queuedNs).ec != std::errc())
        return -1;
    return queuedNs;
}

GuiLatenessProbe::GuiLatenessProbe()
{
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(kPeriodMs);
    QObject::connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

GuiLatenessProbe::Sample GuiLatenessProbe::sample() const
{
    return {clock_.nsecsElapsed(), threadCpuNs(), threadRunQueueNs()};
}

void GuiLatenessProbe::start()
{
    worstBlockedNs_ = 0;
    worstCpuNs_ = 0;
    worstLateNs_ = 0;
    worstWaitNs_ = 0;
    ticks_ = 0;
    clock_.start();
    last_ = sample();
    seesWaits_ = last_.queuedNs >= 0;
    timer_.start();
}

void GuiLatenessProbe::stop()
{
    timer_.stop();
    tick();
}

void GuiLatenessProbe::tick()
{
    const Sample now = sample();
    constexpr std::int64_t kPeriodNs = std::int64_t(kPeriodMs) * 1000000;
    const std::int64_t lateNs = now.wallNs - last_.wallNs - kPeriodNs;
    const std::int64_t cpuNs = now.cpuNs - last_.cpuNs;
    std::int64_t blockedNs = cpuNs;
    if (seesWaits_ && now.queuedNs >= 0) {
        constexpr std::int64_t kSlackNs = std::int64_t(kWaitSlackMs) * 1000000;
        const std::int64_t waitNs = lateNs - (now.queuedNs - last_.queuedNs) - cpuNs;
        worstWaitNs_ = std::max(worstWaitNs_, waitNs);
        blockedNs += std::max<std::int64_t>(0, waitNs - kSlackNs);
    }
    worstBlockedNs_ = std::max(worstBlockedNs_, blockedNs);
    worstCpuNs_ = std::max(worstCpuNs_, cpuNs);
    worstLateNs_ = std::max(worstLateNs_, lateNs);
    last_ = now;
    ++ticks_;
}

std::string describe(const GuiLatenessProbe& probe)
{
    return "held " + std::to_string(probe.worstBlockedMs()) + " ms (CPU " + std::to_string(probe.worstCpuMs())
           + " ms, unexplained wait " + std::to_string(probe.worstWaitMs())
           + " ms, wall lateness with the machine's load " + std::to_string(probe.worstLateMs()) + " ms) over "
           + std::to_string(probe.ticks()) + " ticks" + (probe.seesWaits() ? "" : ", waits unseen");
}
