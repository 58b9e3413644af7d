#include "engine/render/AutomixEngine.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

namespace {

struct Levels {
    std::array<float, 32> values{};
};

std::array<float, 32> runBlocks(AutomixEngine& automix, const Levels& levels, int blocks)
{
    std::array<float, 32> gains{};
    for (int b = 0; b < blocks; ++b) {
        automix.processAudio(levels.values.data(), 32);
        automix.calculateAutomixGains(gains.data(), 32);
    }
    return gains;
}

TEST(AutomixEngineTest, DisabledOrUngroupedTracksPassAtUnity)
{
    AutomixEngine automix;
    Levels levels;
    levels.values.fill(0.5f);
    automix.setTrackGroup(0, 1);
    for (const float gain : runBlocks(automix, levels, 3))
        EXPECT_EQ(gain, 1.0f) << "disabled";
    EXPECT_EQ(automix.getNOM(), 0.0f);

    automix.setTrackGroup(0, 0);
    automix.setGlobalEnabled(true);
    for (const float gain : runBlocks(automix, levels, 3))
        EXPECT_EQ(gain, 1.0f) << "every track in group 0";
    EXPECT_EQ(automix.getTrackNOMContribution(0), 0.0f);
}

TEST(AutomixEngineTest, LoneSpeakerTakesTheGainAndSilentMembersSitAtTheFloor)
{
    AutomixEngine automix;
    automix.setGlobalEnabled(true);
    for (int t = 0; t < 3; ++t)
        automix.setTrackGroup(t, 1);
    Levels levels;
    levels.values[0] = 0.5f;

    std::array<float, 32> gains = runBlocks(automix, levels, 1);
    EXPECT_NEAR(automix.getTrackNOMContribution(0), 0.35f, 1e-6f);
    EXPECT_EQ(gains[0], 1.0f) << "0.35^3.5 is above the group weight threshold";
    EXPECT_NEAR(gains[1], 0.06f, 1e-7f);

    float previousShare = automix.getTrackNOMContribution(0);
    for (int b = 0; b < 5; ++b) {
        runBlocks(automix, levels, 1);
        const float share = automix.getTrackNOMContribution(0);
        EXPECT_NEAR(share, previousShare + (1.0f - previousShare) * 0.35f, 1e-5f) << "35 % of the distance per block";
        previousShare = share;
    }
    gains = runBlocks(automix, levels, 60);
    EXPECT_NEAR(automix.getTrackNOMContribution(0), 1.0f, 1e-4f);
    EXPECT_NEAR(automix.getNOM(), 1.0f, 1e-4f);
    EXPECT_EQ(gains[0], 1.0f);
    EXPECT_NEAR(gains[1], 0.06f, 1e-7f);
    EXPECT_NEAR(gains[2], 0.06f, 1e-7f);
    EXPECT_EQ(gains[3], 1.0f) << "not in a group";
}

TEST(AutomixEngineTest, TwoEqualSpeakersShareHalfAndHalf)
{
    AutomixEngine automix;
    automix.setGlobalEnabled(true);
    automix.setTrackGroup(4, 2);
    automix.setTrackGroup(9, 2);
    automix.setTrackGroup(20, 3);
    Levels levels;
    levels.values[4] = 0.3f;
    levels.values[9] = 0.3f;
    levels.values[20] = 0.2f;
    const std::array<float, 32> gains = runBlocks(automix, levels, 100);
    EXPECT_NEAR(gains[4], 0.5f, 1e-4f);
    EXPECT_NEAR(gains[9], 0.5f, 1e-4f);
    EXPECT_NEAR(gains[20], 1.0f, 1e-4f);
    EXPECT_NEAR(automix.getNOM(), 2.0f, 1e-3f) << "one per active group";
}

TEST(AutomixEngineTest, EnvelopeFallsByFivePercentAndLeavesTheGroupBelowTheGate)
{
    AutomixEngine automix;
    automix.setGlobalEnabled(true);
    automix.setTrackGroup(0, 1);
    Levels levels;
    levels.values[0] = 0.5f;
    runBlocks(automix, levels, 50);
    levels.values[0] = 0.0f;
    // The envelope starts near 0.5 and loses 5 % per block; it stays above the
    // gate for about 100 blocks, so the lone track keeps its share that long.
    runBlocks(automix, levels, 90);
    EXPECT_GT(automix.getTrackNOMContribution(0), 0.99f);
    std::array<float, 32> gains = runBlocks(automix, levels, 60);
    EXPECT_LT(automix.getTrackNOMContribution(0), 0.5f) << "target 0 once the envelope is under the gate";
    gains = runBlocks(automix, levels, 100);
    EXPECT_NEAR(gains[0], 0.06f, 1e-7f);
}

TEST(AutomixEngineTest, GroupsAreClampedAndOutOfRangeTracksIgnored)
{
    AutomixEngine automix;
    automix.setGlobalEnabled(true);
    automix.setTrackGroup(5, 9);
    EXPECT_EQ(automix.getTrackGroup(5), 4);
    Levels levels;
    levels.values[5] = 0.5f;
    runBlocks(automix, levels, 3);
    EXPECT_GT(automix.getTrackNOMContribution(5), 0.0f);
    automix.setTrackGroup(5, -1);
    EXPECT_EQ(automix.getTrackGroup(5), 0);
    EXPECT_FALSE(automix.isTrackEnabled(5));
    EXPECT_EQ(automix.getTrackNOMContribution(5), 0.0f);

    automix.setTrackGroup(32, 1);
    automix.setTrackGroup(-1, 1);
    EXPECT_EQ(automix.getTrackGroup(32), 0);
    EXPECT_EQ(automix.getTrackNOMContribution(-1), 0.0f);

    automix.setTrackGroup(5, 2);
    runBlocks(automix, levels, 3);
    automix.setGlobalEnabled(false);
    EXPECT_EQ(automix.getTrackNOMContribution(5), 0.0f);
    EXPECT_EQ(automix.getNOM(), 0.0f);
}

}  // namespace
