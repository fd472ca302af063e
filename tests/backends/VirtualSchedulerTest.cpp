#include "backends/fake/VirtualScheduler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlit::fake {
namespace {

using platform::Seconds;

TEST(VirtualScheduler, DelayedWorkRunsAtItsDueTimeInOrder) {
    VirtualScheduler s;
    std::vector<std::string> order;
    s.postAfter(Seconds(0.5), [&] { order.push_back("b@" + std::to_string(s.elapsed())); });
    s.postAfter(Seconds(0.2), [&] { order.push_back("a@" + std::to_string(s.elapsed())); });
    s.post([&] { order.push_back("now"); });
    s.advance(Seconds(0.3));
    EXPECT_EQ(order, (std::vector<std::string>{"now", "a@0.200000"}));
    s.advance(Seconds(1));
    EXPECT_EQ(order.back(), "b@0.500000");
    EXPECT_DOUBLE_EQ(s.elapsed(), 1.3);
}

TEST(VirtualScheduler, DebounceByCancellingThePreviousTask) {
    // Ten changes 0.1 s apart, each re-arming a 0.5 s save: one save, 0.5 s after the last.
    VirtualScheduler s;
    std::vector<double> saves;
    platform::TaskHandle pending;
    for (int i = 0; i < 10; ++i) {
        pending.cancel();
        pending = s.postAfter(Seconds(0.5), [&] { saves.push_back(s.elapsed()); });
        s.advance(Seconds(0.1));
    }
    s.advance(Seconds(2));
    ASSERT_EQ(saves.size(), 1u);
    EXPECT_NEAR(saves[0], 1.4, 1e-9);
}

TEST(VirtualScheduler, BackgroundResultComesBackOnTheMainQueueUnlessCancelled) {
    VirtualScheduler s;
    std::vector<int> results;
    s.runInBackground<int>([](const platform::TaskHandle&) { return 7; },
                           [&](int v) { results.push_back(v); });
    auto cancelled = s.runInBackground<int>([](const platform::TaskHandle&) { return 8; },
                                            [&](int v) { results.push_back(v); });
    cancelled.cancel();
    EXPECT_EQ(s.pendingBackgroundCount(), 2u);
    s.runPending();
    EXPECT_EQ(results, std::vector<int>{7});
    EXPECT_EQ(s.pendingMainCount(), 0u);
}

}  // namespace
}  // namespace quenlit::fake
