#include "RenderTestSupport.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using RoutingTest = RenderTest;

TEST_F(RoutingTest, InputNamesResolveToChannelsWithTheVirtualGeneratorAndNone)
{
    routeInputs({inputNames_[2], "", "(None)", "LTCGEN", "No Such Input", inputNames_[7]});
    const auto snapshot = engine_->getRoutingSnapshot();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->trackInputs, (std::vector<int>{2, -1, -1, -2, -1, 7}));
    EXPECT_TRUE(logHas("CoreAudio: Track 3 -> LTCGEN (virtual)"));
    EXPECT_TRUE(logHas("CoreAudio: Track 0 -> Input 2 (" + inputNames_[2] + ")"));
    EXPECT_TRUE(logHas("CoreAudio: Track 4 - input not found: No Such Input"));
    EXPECT_FALSE(logHas("input not found: (None)"));
    EXPECT_FALSE(logHas("CoreAudio: Track 1 - input not found"));
}

TEST_F(RoutingTest, OutputRoutingResolvesByTheCallersNamesAndKeepsDuplicates)
{
    engine_->setSlateMicPort(inputNames_[5]);
    EXPECT_EQ(engine_->getRoutingSnapshot()->slateInput, -1) << "resolved only by applyOutputRouting";
    engine_->setComInput1Port("Nowhere");
    const std::vector<std::string> names = {"A", "B", "C", "B"};
    whileStopped([&] {
        engine_->applyOutputRouting({{"A", "A"}, {"B", "Z"}}, std::vector<std::map<std::string, bool>>(2), names, {},
                                    {"C", "Missing"}, {"A"}, {"B"});
    });
    const auto snapshot = engine_->getRoutingSnapshot();
    EXPECT_EQ(snapshot->trackOutputs, (std::vector<std::vector<int>>{{0, 0}, {3}}));
    EXPECT_EQ(snapshot->mixOutputs, std::vector<int>{2});
    EXPECT_EQ(engine_->getMixOutputIndices(), std::vector<int>{2});
    EXPECT_EQ(snapshot->comsOutputs, std::vector<int>{0});
    EXPECT_EQ(snapshot->ltcGeneratorOutputs, std::vector<int>{3});
    EXPECT_EQ(snapshot->slateInput, 5);
    EXPECT_EQ(snapshot->com1Input, -1);
    EXPECT_TRUE(logHas("CoreAudio: Mix output port NOT FOUND: Missing"));
    EXPECT_TRUE(logHas("CoreAudio: Slate Mic resolved to input index 5 (" + inputNames_[5] + ")"));
    EXPECT_TRUE(logHas("CoreAudio: COM1 port NOT FOUND: Nowhere"));

    whileStopped([&] { engine_->setComsOutputPorts({outputNames_[6], "B", outputNames_[1]}); });
    EXPECT_EQ(engine_->getComsOutputIndices(), (std::vector<int>{6, 1}));
}

TEST_F(RoutingTest, ReplacedSnapshotGoesAtOnceWhileStopped)
{
    ASSERT_TRUE(engine_->stop());
    std::weak_ptr<const RoutingSnapshot> old = engine_->getRoutingSnapshot();
    engine_->setInputRouting({inputNames_[0]});
    EXPECT_TRUE(old.expired());
}

// While the unit runs, the publisher returns at once, without a block being
// rendered, and the old snapshot is freed only after the render callback has
// begun two more blocks (here by the dead-wood timer's step).
TEST_F(RoutingTest, ReplacedSnapshotOutlivesTwoBlocksWhileRendering)
{
    std::weak_ptr<const RoutingSnapshot> old = engine_->getRoutingSnapshot();
    engine_->setInputRouting({inputNames_[1]});
    EXPECT_EQ(engine_->getRoutingSnapshot()->trackInputs, std::vector<int>{1});
    for (int block = 0; block < 2; ++block) {
        engine_->releaseDueRetiredObjects();
        EXPECT_FALSE(old.expired()) << "after " << block << " blocks";
        system_->renderBlocks(1, 64);
    }
    engine_->releaseDueRetiredObjects();
    EXPECT_TRUE(old.expired());
}

}  // namespace
