// The dead-wood list frees a retired object only once the render counter has
// moved on two cycles, by a later retire, its timer or releaseAll, and never
// makes the retiring thread wait.
#include "realtime/DeadWoodList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <memory>

namespace {

using namespace std::chrono_literals;

TEST(DeadWoodListTest, FreesOnlyAfterTwoCyclesByALaterRetireOrReleaseAll)
{
    std::atomic<uint64_t> cycles{10};
    DeadWoodList list(cycles);
    auto first = std::make_shared<int>(1);
    std::weak_ptr<int> firstWatch = first;
    list.retire(std::move(first));
    EXPECT_EQ(list.releaseDue(), 0u);
    cycles = 11;
    EXPECT_EQ(list.releaseDue(), 0u);
    EXPECT_FALSE(firstWatch.expired()) << "a block that began before the swap may still run";
    cycles = 12;
    auto second = std::make_shared<int>(2);
    std::weak_ptr<int> secondWatch = second;
    list.retire(std::move(second));
    EXPECT_TRUE(firstWatch.expired()) << "the later retire freed the first";
    EXPECT_FALSE(secondWatch.expired());
    EXPECT_EQ(list.size(), 1u);
    list.releaseAll();
    EXPECT_TRUE(secondWatch.expired());
    EXPECT_EQ(list.size(), 0u);
}

TEST(DeadWoodListTest, TimerFreesWhatIsDueWithoutAnotherRetire)
{
    std::atomic<uint64_t> cycles{0};
    DeadWoodList list(cycles);
    std::promise<void> freed;
    std::future<void> freedFuture = freed.get_future();
    list.retire(std::shared_ptr<int>(new int(1), [&freed](int* p) {
        delete p;
        freed.set_value();
    }));
    list.startTimer(1ms);
    EXPECT_EQ(freedFuture.wait_for(20ms), std::future_status::timeout) << "the counter has not moved";
    cycles = 2;
    EXPECT_EQ(freedFuture.wait_for(10s), std::future_status::ready);
    list.stopTimer();
    EXPECT_EQ(list.size(), 0u);
}

}  // namespace
