#include "panel/SearchField.h"

#include "base/Text.h"

namespace quenlit {
namespace {

constexpr int kReturn = 36;
constexpr int kKeypadEnter = 76;
constexpr int kDownArrow = 125;
constexpr int kUpArrow = 126;

}  // namespace

SearchField::SearchField(NotificationCenter& notifications, Description description)
    : notifications_(notifications), description_(std::move(description)) {}

std::optional<std::string> SearchField::update(Description description, std::string_view fieldText) {
    description_ = std::move(description);
    return syncText(fieldText);
}

std::optional<std::string> SearchField::syncText(std::string_view fieldText) const {
    if (!description_.text.get) return std::nullopt;
    std::string bound = description_.text.get();
    if (bound == fieldText) return std::nullopt;
    return bound;
}

void SearchField::textDidChange(const std::string& fieldText) {
    if (description_.text.set) description_.text.set(fieldText);
}

void SearchField::submit() {
    // The description may be replaced by the owner while submitting; call a copy.
    auto onSubmit = description_.onSubmit;
    if (onSubmit) onSubmit();
}

bool SearchField::doCommand(std::string_view selector) {
    if (selector == "insertNewline:") {
        submit();
        return true;
    }
    if (selector == "moveUp:") {
        notifications_.post(Notification::arrowUpPressed);
        return true;
    }
    if (selector == "moveDown:") {
        notifications_.post(Notification::arrowDownPressed);
        return true;
    }
    return false;
}

bool SearchField::keyDown(int keyCode) {
    switch (keyCode) {
        case kReturn:
        case kKeypadEnter:
            submit();
            return true;
        case kDownArrow:
            notifications_.post(Notification::arrowDownPressed);
            return true;
        case kUpArrow:
            notifications_.post(Notification::arrowUpPressed);
            return true;
        default:
            return false;
    }
}

std::optional<SearchField::EditingAction> SearchField::performKeyEquivalent(
    platform::EventType type, std::uint64_t flags, std::string_view charactersIgnoringModifiers) {
    namespace bits = platform::eventFlags;
    if (type != platform::EventType::keyDown) return std::nullopt;
    if ((flags & bits::command) == 0 || (flags & (bits::option | bits::control)) != 0) return std::nullopt;
    const std::string key = text::lowercase(charactersIgnoringModifiers);
    if (key == "c") return EditingAction::copy;
    if (key == "x") return EditingAction::cut;
    if (key == "v") return EditingAction::paste;
    if (key == "a") return EditingAction::selectAll;
    return std::nullopt;
}

std::string_view SearchField::actionName(EditingAction action) {
    switch (action) {
        case EditingAction::copy:
            return "copy:";
        case EditingAction::cut:
            return "cut:";
        case EditingAction::paste:
            return "paste:";
        case EditingAction::selectAll:
            return "selectAll:";
    }
    return {};
}

}  // namespace quenlit
