#include "panel/SearchField.h"

#include <gtest/gtest.h>

namespace quenlit {
namespace {

namespace key = platform::keysym;
using M = platform::Modifiers;
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
    EXPECT_TRUE(field.keyDown(key::up));
    EXPECT_TRUE(field.keyDown(key::down));
    EXPECT_FALSE(field.keyDown('a'));
    EXPECT_FALSE(field.keyDown(key::backSpace));
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
    field.keyDown(key::returnKey);
    EXPECT_EQ(later, 1);
    EXPECT_EQ(submits, 0);
}

struct EquivalentCase {
    const char* label;
    platform::EventType type;
    M modifiers;
    const char* characters;
    std::optional<Action> action;
};

TEST(SearchFieldKeyEquivalent, ControlWithOrWithoutShift) {
    const auto keyDown = platform::EventType::keyDown;
    const M control{.control = true};
    const EquivalentCase cases[] = {
        {"Control-C", keyDown, control, "c", Action::copy},
        {"Control-X", keyDown, control, "x", Action::cut},
        {"Control-Shift-V", keyDown, {.shift = true, .control = true}, "V", Action::paste},
        {"Control-A", keyDown, control, "a", Action::selectAll},
        {"right Control-A", keyDown, {.control = true, .rightControl = true}, "a", Action::selectAll},
        {"Control-Alt-V", keyDown, {.control = true, .alt = true}, "v", std::nullopt},
        {"Control-Super-C", keyDown, {.control = true, .super = true}, "c", std::nullopt},
        {"Super-V alone", keyDown, {.super = true}, "v", std::nullopt},
        {"plain V", keyDown, {}, "v", std::nullopt},
        {"Control-Z", keyDown, control, "z", std::nullopt},
        {"a key-up", platform::EventType::keyUp, control, "c", std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(SearchField::performKeyEquivalent(c.type, c.modifiers, c.characters), c.action) << c.label;
    }
}

}  // namespace
}  // namespace quenlit
