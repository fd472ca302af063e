#include "panel/SearchField.h"

#include <gtest/gtest.h>

namespace quenlit {
namespace {

namespace flags = platform::eventFlags;
namespace key = platform::keyCode;
using Action = SearchField::EditingAction;

class SearchFieldTest : public ::testing::Test {
  protected:
    SearchField::Description description() {
        return {{[this] { return query; }, [this](const std::string& text) { query = text; }},
                "Search apps, files, commands…",
                18,
                [this] { ++submits; }};
    }
    void SetUp() override {
        up = notifications.observe(Notification::arrowUpPressed, [this] { posted.push_back("up"); });
        down = notifications.observe(Notification::arrowDownPressed, [this] { posted.push_back("down"); });
    }

    NotificationCenter notifications;
    std::string query;
    int submits = 0;
    std::vector<std::string> posted;
    Connection up;
    Connection down;
};

TEST_F(SearchFieldTest, TypingWritesTheBindingAndTheFieldIsRewrittenOnlyWhenTheyDiffer) {
    SearchField field(notifications, description());
    EXPECT_EQ(field.placeholder(), "Search apps, files, commands…");
    EXPECT_EQ(field.fontSize(), 18);
    field.textDidChange("ma");
    EXPECT_EQ(query, "ma");
    EXPECT_EQ(field.update(description(), "ma"), std::nullopt) << "equal: the caret stays where it is";
    query.clear();  // the owner cleared its query after choosing a row
    EXPECT_EQ(field.update(description(), "ma"), std::optional<std::string>(""));
}

TEST_F(SearchFieldTest, ReturnSubmitsAndArrowsPostTheirNotifications) {
    SearchField field(notifications, description());
    EXPECT_TRUE(field.keyDown(key::returnKey));
    EXPECT_TRUE(field.keyDown(key::keypadEnter));
    EXPECT_TRUE(field.keyDown(key::upArrow));
    EXPECT_TRUE(field.keyDown(key::downArrow));
    EXPECT_FALSE(field.keyDown(key::ansiA));
    EXPECT_FALSE(field.keyDown(key::deleteBackward));
    field.doCommand(SearchField::Command::insertNewline);
    field.doCommand(SearchField::Command::moveDown);
    field.doCommand(SearchField::Command::moveUp);
    EXPECT_EQ(submits, 3);
    EXPECT_EQ(posted, (std::vector<std::string>{"up", "down", "down", "up"}));
}

TEST_F(SearchFieldTest, SubmitReachesTheLatestDescription) {
    SearchField field(notifications, description());
    int later = 0;
    auto next = description();
    next.onSubmit = [&] { ++later; };
    field.update(next, query);
    field.keyDown(36);
    EXPECT_EQ(later, 1);
    EXPECT_EQ(submits, 0);
}

struct EquivalentCase {
    const char* label;
    platform::EventType type;
    std::uint64_t flags;
    const char* characters;
    std::optional<Action> action;
};

TEST(SearchFieldKeyEquivalent, CommandWithOrWithoutShift) {
    const auto keyDown = platform::EventType::keyDown;
    const EquivalentCase cases[] = {
        {"Command-C", keyDown, flags::command, "c", Action::copy},
        {"Command-X", keyDown, flags::command, "x", Action::cut},
        {"Command-Shift-V", keyDown, flags::command | flags::shift, "V", Action::paste},
        {"Command-A", keyDown, flags::command, "a", Action::selectAll},
        {"Command-Option-V", keyDown, flags::command | flags::option, "v", std::nullopt},
        {"Command-Control-C", keyDown, flags::command | flags::control, "c", std::nullopt},
        {"Control-V alone", keyDown, flags::control, "v", std::nullopt},
        {"plain V", keyDown, 0, "v", std::nullopt},
        {"Command-Z", keyDown, flags::command, "z", std::nullopt},
        {"a key-up", platform::EventType::keyUp, flags::command, "c", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SearchField::performKeyEquivalent(c.type, c.flags, c.characters), c.action) << c.label;
    }
}

}  // namespace
}  // namespace quenlit
