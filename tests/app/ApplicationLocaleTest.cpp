// The application object, made in a comma-decimal environment, keeps the
// C library's number formatting at "C" and everything else at the user's.
// A binary of its own: the test makes the one application object itself.

#include "app/TonvaleApplication.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

TEST(ApplicationLocaleTest, NumbersStayPlainWhileTheRestFollowsTheUser)
{
    const char* const commaLocale = "de_DE.UTF-8";
    if (std::setlocale(LC_ALL, commaLocale) == nullptr)
        GTEST_SKIP() << commaLocale << " is not generated here (scripts/install-deps.sh makes it)";
    std::setlocale(LC_ALL, "C");
    ::setenv("LC_ALL", commaLocale, 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);

    int argc = 1;
    char name[] = "tonvale";
    char* argv[] = {name, nullptr};
    TonvaleApplication application(argc, argv);

    EXPECT_STREQ(std::setlocale(LC_NUMERIC, nullptr), "C");
    EXPECT_STREQ(std::setlocale(LC_CTYPE, nullptr), commaLocale) << "the application object took the environment";
    char text[16];
    std::snprintf(text, sizeof text, "%.3f", 23.976);
    EXPECT_STREQ(text, "23.976");
}
