#include "backends/linux/ThreadScheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quenlit::linux_backend {
namespace {

TEST(ThreadScheduler, BackgroundWorkHandsItsResultToTheMainThread) {
    ThreadScheduler s;
    std::thread::id mainId = std::this_thread::get_id();
    std::thread::id workerId;
    std::thread::id doneId;
    int value = 0;
    s.runInBackground<int>(
        [&](const platform::TaskHandle&) {
            workerId = std::this_thread::get_id();
            return 42;
        },
        [&](int v) {
            value = v;
            doneId = std::this_thread::get_id();
            s.quit();
        });
    s.run();
    EXPECT_EQ(value, 42);
    EXPECT_NE(workerId, mainId);
    EXPECT_EQ(doneId, mainId);
}

TEST(ThreadScheduler, DelaysAreHonouredAndCancelledTasksSkipped) {
    ThreadScheduler s;
    std::vector<int> order;
    auto start = s.now();
    auto skipped = s.postAfter(platform::Seconds(0.01), [&] { order.push_back(0); });
    s.postAfter(platform::Seconds(0.05), [&] {
        order.push_back(2);
        s.quit();
    });
    s.postAfter(platform::Seconds(0.02), [&] { order.push_back(1); });
    skipped.cancel();
    s.run();
    EXPECT_EQ(order, (std::vector<int>{1, 2}));
    EXPECT_GE(s.now() - start, std::chrono::milliseconds(50));
}

TEST(ThreadScheduler, PostFromAnotherThreadWakesTheLoop) {
    ThreadScheduler s;
    std::atomic<bool> ran{false};
    std::thread t([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        s.post([&] {
            ran = s.isMainThread();
            s.quit();
        });
    });
    s.run();
    t.join();
    EXPECT_TRUE(ran);
}

}  // namespace
}  // namespace quenlit::linux_backend
