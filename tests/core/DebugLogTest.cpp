#include "core/DebugLog.h"

#include "support/TempHome.h"

#include <QDir>

namespace {

class DebugLogTest : public TempHomeTest {};

TEST_F(DebugLogTest, AppendsBareLinesToTheHomeLogAndPrefixesStandardError)
{
    testing::internal::CaptureStderr();
    debugLog("first");
    debugLog("");
    debugLog("two\nlines");
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err, "[LOG] first\n[LOG] \n[LOG] two\nlines\n");
    EXPECT_EQ(home_.logText(), "first\n\ntwo\nlines\n");
    EXPECT_EQ(debugLogPath(), home_.pathStd() + "/tonvale_debug.log");
}

TEST_F(DebugLogTest, WithoutHomeTheLogGoesToTmp)
{
    qunsetenv("HOME");
    EXPECT_EQ(debugLogPath(), "/tmp/tonvale_debug.log");
}

TEST_F(DebugLogTest, AnUnwritableLogFileStillReachesStandardError)
{
    // A folder where the log file should be: the append cannot open it.
    ASSERT_TRUE(QDir(home_.path()).mkdir("tonvale_debug.log"));
    testing::internal::CaptureStderr();
    debugLog("still here");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "[LOG] still here\n");
}

} // namespace
