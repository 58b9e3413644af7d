#include "engine/take/TakeNaming.h"

#include "core/ConfigManager.h"
#include "core/settings/MediaKeys.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>

namespace {

std::string readFile(const std::string& path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(TakeNamingTest, NamesFollowTheCounterAndWrapLetters)
{
    struct Case {
        const char* prefix;
        int fileNumber;
        const char* name;
    };
    const Case cases[] = {
        {"ABC", 1, "ABC0001"},
        {"ABC", 42, "ABC0042"},
        {"ABC", 9999, "ABC9999"},
        {"ABC", 10000, "ABD0001"},
        {"ABC", 19999, "ABE0001"},
        {"ABZ", 10000, "ACA0001"},   // carry into the middle letter
        {"AZZ", 10000, "BAA0001"},   // carry into the first letter
        {"ZZZ", 1, "ZZZ0001"},
        {"ZZZ", 9999, "ZZZ9999"},
        {"ZZZ", 10000, "AAA0001"},   // wraps from ZZZ to AAA
        {"ZZZ", 20000, "AAB0002"},
        // 17576 letter steps bring the letters back to the prefix.
        {"ABC", 17576 * 9999 + 1, "ABC0001"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + " " + std::to_string(c.fileNumber));
        EXPECT_EQ(formatTakeName(c.prefix, c.fileNumber), c.name);
    }
}

TEST(TakeNamingTest, PrefixIsTheFirstThreeLettersOfTheIdentifier)
{
    struct Case {
        const char* identifier;
        const char* prefix;
    };
    const Case cases[] = {
        {"9f-xq2rk", "FXQ"},
        {"12-ab", "ABA"},
        {"0123456789", "AAA"},
        {"", "AAA"},
        {"\xc3\xa9" "a1b2c3d", "ABC"}, // non-ASCII bytes are skipped
        {"studio-mac", "STU"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.identifier);
        EXPECT_EQ(takeNamePrefixFromIdentifier(c.identifier), c.prefix);
    }
}

class TakeNameDrawTest : public TempHomeTest {
protected:
    ConfigManager* config() { return ConfigManager::getInstance(); }
};

TEST_F(TakeNameDrawTest, EveryDrawAdvancesAndSavesTheCounter)
{
    EXPECT_EQ(generateTakeName("ABC"), "ABC0001");
    EXPECT_EQ(config()->getInt(MediaKeys::kFileNumber, 0), 2);
    // On disk at once, before the name is used.
    EXPECT_NE(readFile(config()->getConfigPath()).find("recording.fileNumber=2\n"), std::string::npos);

    config()->setInt(MediaKeys::kFileNumber, 9999);
    EXPECT_EQ(generateTakeName("ABC"), "ABC9999");
    EXPECT_EQ(generateTakeName("ABC"), "ABD0001");
    EXPECT_EQ(config()->getInt(MediaKeys::kFileNumber, 0), 10001);
    EXPECT_NE(readFile(config()->getConfigPath()).find("recording.fileNumber=10001\n"), std::string::npos);
}

TEST_F(TakeNameDrawTest, CounterBelowOneStartsAgainAtOne)
{
    for (int stored : {0, -7}) {
        SCOPED_TRACE(stored);
        config()->setInt(MediaKeys::kFileNumber, stored);
        EXPECT_EQ(generateTakeName("ABC"), "ABC0001");
        EXPECT_EQ(config()->getInt(MediaKeys::kFileNumber, 0), 2);
    }
}

TEST_F(TakeNameDrawTest, DefaultDrawUsesThisMachinesPrefix)
{
    const std::string expectedPrefix = takeNamePrefixFromIdentifier(getMachineIdentifier());
    EXPECT_EQ(takeNamePrefix(), expectedPrefix);
    EXPECT_EQ(generateTakeName(), expectedPrefix + "0001");
    EXPECT_EQ(generateTakeName(), expectedPrefix + "0002");
}

TEST_F(TakeNameDrawTest, MachineIdentifierSourcesInOrder)
{
    const std::string blank = home_.pathStd() + "/blank-id";
    const std::string good = home_.pathStd() + "/good-id";
    const std::string missing = home_.pathStd() + "/missing-id";
    std::ofstream(blank) << " \n";
    std::ofstream(good) << "9f2c0e7d4b\n";

    EXPECT_EQ(machineIdentifierFrom({missing, blank, good}, "host"), "9f2c0e7d4b");
    EXPECT_EQ(machineIdentifierFrom({missing, blank}, "stage-mac\n"), "stage-mac");
    EXPECT_EQ(machineIdentifierFrom({missing}, ""), kFallbackMachineIdentifier);
    EXPECT_FALSE(getMachineIdentifier().empty());
}

TEST_F(TakeNameDrawTest, CollidingNamesAreSkippedAndLogged)
{
    const std::set<std::string> existing = {"ABC0001", "ABC0002"};
    const auto inUse = [&](const std::string& name) { return existing.count(name) > 0; };
    const auto draw = [] { return generateTakeName("ABC"); };

    std::string reason;
    EXPECT_EQ(drawUnusedTakeName(draw, inUse, reason), "ABC0003");
    EXPECT_TRUE(reason.empty());
    EXPECT_EQ(config()->getInt(MediaKeys::kFileNumber, 0), 4);
    const std::string log = home_.logText();
    EXPECT_NE(log.find("CoreAudio: Take name ABC0001 is already in use, drawing the next name"), std::string::npos);
    EXPECT_NE(log.find("CoreAudio: Take name ABC0002 is already in use, drawing the next name"), std::string::npos);

    EXPECT_EQ(drawUnusedTakeName(draw, [](const std::string&) { return true; }, reason, 5), "");
    EXPECT_FALSE(reason.empty());
    EXPECT_EQ(config()->getInt(MediaKeys::kFileNumber, 0), 9);
}

} // namespace
