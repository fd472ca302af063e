#pragma once

// The single-line search input at the top of each panel, as a model: the toolkit's text field
// draws it and forwards what happens to it; this class decides what that means. The field keeps
// its owner's query in step with what the user types, turns Return into the owner's submit
// action, turns Up and Down into the arrow notifications, and decides the editing shortcuts.
//
// In the assembled program the panel's own key dispatch sees Return and the arrows first, so the
// field's handling of them is a second line, used only where the panel lets those keys through.
//
// Main thread only.

#include "panel/Notifications.h"
#include "platform/InputEvents.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quenlit {

// Two-way access to a text value owned by someone else (a view's query).
struct TextBinding {
    std::function<std::string()> get;
    std::function<void(const std::string&)> set;
};

class SearchField {
  public:
    // What the owning view asks of the field; handed in again on every update of that view.
    struct Description {
        TextBinding text;
        std::string placeholder;
        double fontSize = 13;  // points, regular weight; fixed once the platform field exists
        std::function<void()> onSubmit;
    };

    // The editing shortcuts the field performs itself, sent to whatever has the keyboard focus.
    enum class EditingAction { copy, cut, paste, selectAll };

    SearchField(NotificationCenter& notifications, Description description);

    const std::string& placeholder() const { return description_.placeholder; }
    double fontSize() const { return description_.fontSize; }

    // The owning view was updated: keeps its new description, and answers the text to put into
    // the platform field when the field's text differs from the bound text. Nothing is answered
    // when they are equal, so the caret is not disturbed while the user types.
    std::optional<std::string> update(Description description, std::string_view fieldText);
    // The same comparison against the description in force, for owners that keep theirs.
    std::optional<std::string> syncText(std::string_view fieldText) const;
    // The user changed the field's text.
    void textDidChange(const std::string& fieldText);
    // The field editor's commands the field takes over from standard editing: a new line submits,
    // moving up or down posts the arrow notification. Every other editing command keeps the
    // toolkit's behaviour and never reaches the field.
    enum class Command { insertNewline, moveUp, moveDown };
    void doCommand(Command command);
    // A key-down the field receives itself; returns true when it consumed the key (Return and
    // keypad Enter submit, the Up and Down arrows post their notifications).
    bool keyDown(std::uint32_t keysym);

    // The editing shortcut of a key press: a key-down with Control held and neither Alt nor Super
    // (Shift is allowed), whose characters ignoring modifiers are c, x, v or a in either case. When the
    // answer is absent, or the toolkit could not perform the action, the key gets the toolkit's standard
    // handling.
    static std::optional<EditingAction> performKeyEquivalent(platform::EventType type,
                                                             platform::Modifiers modifiers,
                                                             std::string_view charactersIgnoringModifiers);

  private:
    void submit();

    NotificationCenter& notifications_;
    Description description_;
};

}  // namespace quenlit
