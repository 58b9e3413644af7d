#pragma once

#include <cstdint>
#include <functional>

// Real child processes for the failures a recorder must survive: a process
// killed in the middle of a take, and a disk that fills up.

struct KilledChild {
    bool reported = false; // the child sent its verdict before it was killed
    char verdict = 0;
    bool killedBySigkill = false;
};

// Forks; the child runs `work` and sends the character it returns to the
// parent, then waits. The parent kills it with SIGKILL as soon as the
// character arrives (or the child died), reaps it and returns what happened.
KilledChild runChildThenKill(const std::function<char()>& work);

// Forks; the child runs `work` with files limited to `fileSizeLimitBytes`
// (writes beyond fail as on a full disk) and exits with its result. Returns
// that exit code, or -1 when the child did not exit normally.
int runChildWithFileSizeLimit(int64_t fileSizeLimitBytes, const std::function<int()>& work);
