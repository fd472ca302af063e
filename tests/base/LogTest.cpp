#include "base/Log.h"

#include <gtest/gtest.h>

namespace quenlit::log {
namespace {

TEST(Log, RecordsCarryThePrefixAndTheMessageAsGiven) {
    auto sink = std::make_shared<MemorySink>();
    installSinks({sink});
    write("clipboard: saved 3 items");
    write("");
    write("two\nlines");
    installSinks({});
    write("after the sinks are gone");
    EXPECT_EQ(sink->lines(), (std::vector<std::string>{"Quenlit focus: clipboard: saved 3 items",
                                                       "Quenlit focus: ", "Quenlit focus: two\nlines"}));
}

TEST(Log, TimestampIsUtcWithWholeSeconds) {
    using namespace std::chrono;
    const sys_days day = year{2026} / December / 6;
    EXPECT_EQ(isoTimestamp(day + 13h + 2min + 42s + 999ms), "2026-12-06T13:02:42Z");
    EXPECT_EQ(isoTimestamp(sys_days{year{1999} / January / 1}), "1999-01-01T00:00:00Z");
}

}  // namespace
}  // namespace quenlit::log
