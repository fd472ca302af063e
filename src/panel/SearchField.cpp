#include "panel/SearchField.h"

#include "base/Text.h"

namespace quenlit {

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

void SearchField::doCommand(Command command) {
    switch (command) {
        case Command::insertNewline:
            submit();
            return;
        case Command::moveUp:
            notifications_.post(Notification::arrowUpPressed);
            return;
        case Command::moveDown:
            notifications_.post(Notification::arrowDownPressed);
            return;
    }
}

bool SearchField::keyDown(std::uint32_t keysym) {
    namespace key = platform::keysym;
    switch (keysym) {
        case key::returnKey:
        case key::keypadEnter:
            submit();
            return true;
        case key::down:
            notifications_.post(Notification::arrowDownPressed);
            return true;
        case key::up:
            notifications_.post(Notification::arrowUpPressed);
            return true;
        default:
            return false;
    }
}

std::optional<SearchField::EditingAction> SearchField::performKeyEquivalent(
    platform::EventType type, platform::Modifiers modifiers, std::string_view charactersIgnoringModifiers) {
    if (type != platform::EventType::keyDown) return std::nullopt;
    if (!modifiers.control || modifiers.alt || modifiers.super) return std::nullopt;
    const std::string key = text::lowercase(charactersIgnoringModifiers);
    if (key == "c") return EditingAction::copy;
    if (key == "x") return EditingAction::cut;
    if (key == "v") return EditingAction::paste;
    if (key == "a") return EditingAction::selectAll;
    return std::nullopt;
}

}  // namespace quenlit
