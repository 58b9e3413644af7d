// Service classes as the kernel sees them: the nice value of the thread that
// asked, and of no other thread.

#include "platform/thread/ThreadServiceClass.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <sys/resource.h>
#include <thread>
#include <unistd.h>

namespace {

int currentThreadNice()
{
    errno = 0;
    return ::getpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()));
}

struct Outcome {
    bool ok = false;
    std::string reason;
    int niceBefore = 0;
    int niceAfter = 0;
};

// On a fresh thread, so nothing leaks into the test's own thread.
Outcome askOnAFreshThread(ThreadServiceClass serviceClass, int relativePriority)
{
    Outcome outcome;
    std::thread worker([&] {
        outcome.niceBefore = currentThreadNice();
        outcome.ok = setCurrentThreadServiceClass(serviceClass, relativePriority, outcome.reason);
        outcome.niceAfter = currentThreadNice();
    });
    worker.join();
    return outcome;
}

TEST(ThreadServiceClassTest, EachClassBecomesTheThreadsOwnNiceValue)
{
    const struct {
        const char* name;
        ThreadServiceClass serviceClass;
        int relativePriority;
        int expectedNice;
    } cases[] = {
        {"user-interactive", ThreadServiceClass::UserInteractive, 0, -10},
        {"user-initiated", ThreadServiceClass::UserInitiated, 0, -5},
        {"utility", ThreadServiceClass::Utility, 0, 5},
        {"utility, lowest within it", ThreadServiceClass::Utility, -15, 8},
        {"background", ThreadServiceClass::Background, 0, 15},
    };
    const int testThreadNice = currentThreadNice();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(niceValueFor(c.serviceClass, c.relativePriority), c.expectedNice);
        const Outcome outcome = askOnAFreshThread(c.serviceClass, c.relativePriority);
        if (outcome.ok) {
            EXPECT_EQ(outcome.niceAfter, c.expectedNice);
        } else {
            // Only raising a thread may be refused, and then nothing changes.
            EXPECT_LT(c.expectedNice, outcome.niceBefore) << outcome.reason;
            EXPECT_FALSE(outcome.reason.empty());
            EXPECT_EQ(outcome.niceAfter, outcome.niceBefore);
        }
        EXPECT_EQ(currentThreadNice(), testThreadNice) << "another thread's class must not touch this one";
    }
}

TEST(ThreadServiceClassTest, RelativePriorityOutsideItsRangeIsRefused)
{
    for (const int relativePriority : {1, -16}) {
        SCOPED_TRACE(relativePriority);
        const Outcome outcome = askOnAFreshThread(ThreadServiceClass::Utility, relativePriority);
        EXPECT_FALSE(outcome.ok);
        EXPECT_NE(outcome.reason.find("outside -15..0"), std::string::npos) << outcome.reason;
        EXPECT_EQ(outcome.niceAfter, outcome.niceBefore);
    }
}

} // namespace
