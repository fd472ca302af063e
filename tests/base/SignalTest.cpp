#include "base/Signal.h"

#include <gtest/gtest.h>

#include <optional>

namespace quenlit {
namespace {

TEST(Signal, ConnectionLivesAsLongAsItsHandle) {
    Signal<int> changed;
    std::vector<int> seen;
    {
        Connection c = changed.connect([&](int v) { seen.push_back(v); });
        changed.emit(1);
        EXPECT_EQ(changed.connectionCount(), 1u);
    }
    changed.emit(2);
    EXPECT_EQ(seen, std::vector<int>{1});
    EXPECT_EQ(changed.connectionCount(), 0u);
}

TEST(Signal, SlotDisconnectedDuringEmissionIsNotCalled) {
    Signal<> fired;
    int secondCalls = 0;
    std::optional<Connection> second;
    Connection first = fired.connect([&] { second.reset(); });
    second.emplace(fired.connect([&] { ++secondCalls; }));
    fired.emit();
    EXPECT_EQ(secondCalls, 0);
}

TEST(Signal, HandleOutlivingTheSignalIsHarmless) {
    Connection c;
    {
        Signal<> s;
        c = s.connect([] {});
    }
    c.disconnect();
    EXPECT_FALSE(c.connected());
}

}  // namespace
}  // namespace quenlit
