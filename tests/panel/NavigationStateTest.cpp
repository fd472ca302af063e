#include "panel/NavigationState.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quenlit {
namespace {

struct PageCase {
    const char* label;
    std::int64_t itemCount;
    std::int64_t pageSize;  // as the list view reports it
    std::int64_t start;
    std::string moves;  // "d" page down, "u" page up
    std::int64_t expected;
};

TEST(NavigationStateTest, PageMovesGoByTheRowsShownWholeAndStopAtTheEnds) {
    const PageCase cases[] = {
        {"a page down from the first row", 20, 8, 0, "d", 8},
        {"two pages down", 20, 8, 0, "dd", 16},
        {"the last page stops at the last row", 20, 8, 16, "d", 19},
        {"at the last row nothing moves", 20, 8, 19, "d", 19},
        {"a list shorter than a page: its last row", 4, 8, 0, "d", 3},
        {"a page up", 20, 8, 17, "u", 9},
        {"the first page stops at the first row", 20, 8, 5, "u", 0},
        {"down then up comes back", 20, 8, 3, "du", 3},
        {"an empty list stays at 0", 0, 8, 0, "dudu", 0},
        {"a view too short for a whole row still moves by one", 20, 0, 4, "d", 5},
    };
    for (const auto& c : cases) {
        NavigationState state;
        state.sync(c.itemCount);
        state.setPageSize(c.pageSize);
        state.setSelectedIndex(c.start);
        for (char move : c.moves) {
            if (move == 'd') state.movePageDown();
            if (move == 'u') state.movePageUp();
        }
        EXPECT_EQ(state.selectedIndex(), c.expected) << c.label;
    }
}

TEST(NavigationStateTest, APageMoveThatGoesNowhereAnnouncesNothing) {
    NavigationState state;
    state.sync(5);
    state.setPageSize(3);
    std::vector<std::int64_t> heard;
    Connection c = state.selectedIndexChanged.connect([&](std::int64_t index) { heard.push_back(index); });
    state.movePageUp();
    state.movePageDown();
    state.movePageDown();
    state.movePageDown();
    EXPECT_EQ(heard, (std::vector<std::int64_t>{3, 4}));
}

}  // namespace
}  // namespace quenlit
