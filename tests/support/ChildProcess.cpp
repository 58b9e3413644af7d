#include "support/ChildProcess.h"

#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr int kChildSetupFailed = 125;

} // namespace

KilledChild runChildThenKill(const std::function<char()>& work)
{
    KilledChild result;
    int ready[2];
    if (::pipe(ready) != 0)
        return result;
    const pid_t child = ::fork();
    if (child < 0)
        return result;
    if (child == 0) {
        ::close(ready[0]);
        const char verdict = work();
        if (::write(ready[1], &verdict, 1) != 1)
            ::_exit(kChildSetupFailed);
        for (;;)
            ::pause();
    }
    ::close(ready[1]);
    char verdict = 0;
    result.reported = ::read(ready[0], &verdict, 1) == 1;
    result.verdict = verdict;
    ::close(ready[0]);
    ::kill(child, SIGKILL);
    int status = 0;
    if (::waitpid(child, &status, 0) == child)
        result.killedBySigkill = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    return result;
}

int runChildWithFileSizeLimit(int64_t fileSizeLimitBytes, const std::function<int()>& work)
{
    const pid_t child = ::fork();
    if (child < 0)
        return -1;
    if (child == 0) {
        // Past the limit a write fails with EFBIG instead of killing the process.
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{static_cast<rlim_t>(fileSizeLimitBytes), static_cast<rlim_t>(fileSizeLimitBytes)};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            ::_exit(kChildSetupFailed);
        ::_exit(work());
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return -1;
    return WEXITSTATUS(status);
}
