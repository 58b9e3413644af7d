#include "core/NumberText.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

namespace {

// Runs the cases in a comma-decimal locale, where printf-style conversions
// would write "23,976"; the helpers must not care.
class NumberTextTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        startLocale_ = std::setlocale(LC_ALL, nullptr);
        if (std::setlocale(LC_ALL, "de_DE.UTF-8") == nullptr)
            GTEST_SKIP() << "de_DE.UTF-8 is not generated here (scripts/install-deps.sh makes it)";
    }
    void TearDown() override { std::setlocale(LC_ALL, startLocale_.c_str()); }

    std::string startLocale_;
};

TEST_F(NumberTextTest, FixedTextWritesAFullStopAndPadsAfterTheSign)
{
    struct Case {
        double value;
        int decimals;
        int width;
        const char* expected;
    };
    const Case cases[] = {
        {23.976, 3, 7, "023.976"},
        {25.0, 3, 7, "025.000"},
        {100.0, 3, 7, "100.000"},
        {-6.0, 6, 0, "-6.000000"},
        {80.0, 6, 0, "80.000000"},
        {0.5, 6, 0, "0.500000"},
        {-1.5, 1, 6, "-001.5"},
        {1234567.25, 1, 0, "1234567.2"},
        {29.97, 2, 3, "29.97"},
        {0.04, 0, 0, "0"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(fixedText(c.value, c.decimals, c.width), c.expected) << c.value;
}

TEST_F(NumberTextTest, ParseDecimalReadsBothSeparatorsAndTheLeadingNumber)
{
    struct Case {
        const char* text;
        bool ok;
        double expected;
    };
    const Case cases[] = {
        {"12.5", true, 12.5},
        {"12,500000", true, 12.5},          // written through a comma locale
        {"-6,000000", true, -6.0},
        {"  +0,25", true, 0.25},
        {"1e3", true, 1000.0},
        {"1,5e2", true, 150.0},
        {"23.976-ND", true, 23.976},
        {"1.5,7", true, 1.5},               // a comma after the decimals ends the number
        {"1,2,3", true, 1.2},
        {"7,", true, 7.0},
        {",5", false, 0.0},
        {"-,5", false, 0.0},
        {"abc", false, 0.0},
        {"", false, 0.0},
        {"  ", false, 0.0},
    };
    for (const Case& c : cases) {
        double value = -99.0;
        EXPECT_EQ(parseDecimal(c.text, value), c.ok) << c.text;
        EXPECT_DOUBLE_EQ(value, c.ok ? c.expected : -99.0) << c.text;
    }
}

TEST_F(NumberTextTest, WrittenTextReadsBackExactly)
{
    for (double value : {0.1, -6.5, 23.976, 29.97, 1e-6, 123456.789012}) {
        double back = 0.0;
        ASSERT_TRUE(parseDecimal(fixedText(value, 6), back));
        EXPECT_NEAR(back, value, 5e-7) << value;
    }
}

} // namespace
