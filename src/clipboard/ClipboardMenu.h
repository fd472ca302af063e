#pragma once

// The clipboard panel's actions menu for one history entry: Paste, Copy, Delete Entry and Delete
// All Entries. It opens with Command-K for the selected row or with a right click on a row, is
// driven by the arrow keys, Return and Escape while the search field keeps the keyboard, and asks
// once more before the whole history goes.
//
// ClipboardActionsModel is the menu's state; the clipboard view installs what opening from the
// keyboard and performing an action do. ClipboardActionsMenuView says what the toolkit draws, and
// RightClickCatcher decides which clicks the overlay laid on each row takes.
//
// Main thread only.

#include "base/Signal.h"
#include "base/Uuid.h"
#include "clipboard/ClipboardItem.h"
#include "platform/Geometry.h"
#include "platform/InputEvents.h"
#include "platform/PanelWindow.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace quenlit {

class ClipboardMenuAction {
  public:
    // Declaration order is the order of the menu's rows and of keyboard navigation.
    enum Case : int { paste = 0, copy = 1, deleteEntry = 2, deleteAll = 3 };

    // Implicit, so a case reads as an action: perform(ClipboardMenuAction::copy).
    constexpr ClipboardMenuAction(Case c) : case_(c) {}

    // Nothing outside 0 to 3.
    static std::optional<ClipboardMenuAction> fromRaw(int raw);
    static constexpr std::array<Case, 4> allCases() { return {paste, copy, deleteEntry, deleteAll}; }

    constexpr Case value() const { return case_; }
    constexpr int rawValue() const { return static_cast<int>(case_); }
    // "Paste", "Copy", "Delete Entry", "Delete All Entries".
    std::string_view title() const;
    // The system image name: "arrow.down.doc", "doc.on.doc", "trash", "trash".
    std::string_view symbol() const;
    // Both delete actions are drawn in red, selected or not.
    bool isDrawnInRed() const;

    bool operator==(const ClipboardMenuAction&) const = default;

  private:
    Case case_;
};

// The row title and menu heading of an entry: "Image" for an image; for a text, the text with
// line breaks and tabs as spaces, trimmed, cut to its first 120 user-perceived characters and
// "…" when longer.
std::string shortenedEntryText(const ClipboardItem& item);

class ClipboardActionsModel {
  public:
    bool isOpen() const { return isOpen_; }
    // The raw value of the highlighted action.
    int selection() const { return selection_; }
    // "Delete All Entries" was chosen once and waits for its confirmation.
    bool confirmDeleteAll() const { return confirmDeleteAll_; }
    // The entry the menu acts on.
    const std::optional<ClipboardItem>& anchoredItem() const { return anchoredItem_; }
    // The anchored row's frame in the list's coordinate space; the view places the menu by it.
    platform::Rect anchorFrame() const { return anchorFrame_; }
    // Frames of the rows laid out so far, by entry id, kept up to date by the view.
    std::unordered_map<Uuid, platform::Rect>& rowFrames() { return rowFrames_; }
    const std::unordered_map<Uuid, platform::Rect>& rowFrames() const { return rowFrames_; }

    // Installed by the clipboard view: carries out a chosen action.
    std::function<void(ClipboardMenuAction)> onPerform;
    // Installed by the clipboard view: opens the menu for the selected row.
    std::function<void()> onToggle;

    // Opens the menu on `item` with Paste highlighted and no confirmation pending.
    void open(const ClipboardItem& item, platform::Rect anchorFrame);
    // Closes the menu and drops a pending confirmation; the highlight stays where it was.
    void close();
    // Command-K: closes an open menu (or a pending confirmation), otherwise asks the view to open it.
    void toggle();
    // A key offered before the panel's own dispatch, by its keysym; true when the menu consumed it. While a
    // confirmation is pending every key is consumed; with the menu closed none is; with the menu
    // open only Return, keypad Enter, Escape and the Up and Down arrows are, so typing still edits
    // the search field.
    bool handleKey(std::uint32_t keysym);
    // A click on an action's row, or the keyboard choosing it.
    void perform(ClipboardMenuAction action);
    void setConfirmDeleteAll(bool confirm);

    // Emitted after any change of isOpen, selection, confirmDeleteAll or anchoredItem.
    Signal<> changed;

  private:
    bool isOpen_ = false;
    int selection_ = 0;
    bool confirmDeleteAll_ = false;
    std::optional<ClipboardItem> anchoredItem_;
    platform::Rect anchorFrame_;
    std::unordered_map<Uuid, platform::Rect> rowFrames_;
};

// What the toolkit draws for the menu: a 260-point column with a one-line heading over one row
// per action.
struct ClipboardActionsMenuView {
    static constexpr double kWidth = 260;

    struct Row {
        ClipboardMenuAction action = ClipboardMenuAction::paste;
        std::string title;
        std::string symbol;
        bool isSelected = false;  // the accent background; symbol and title white unless red
        bool isRed = false;       // symbol and title in red whether selected or not
    };
    struct Presentation {
        // Empty without an anchored entry, else its shortened text.
        std::string header;
        std::vector<Row> rows;  // in the order of the actions
    };
    static Presentation presentation(const ClipboardActionsModel& model);
};

// The overlay laid over each history row. It takes part in hit-testing only while the event being
// handled is a right mouse-down, so left clicks, hovering and scrolling reach the row underneath;
// a right mouse-down on it calls `action`.
class RightClickCatcher {
  public:
    std::function<void()> action;

    static bool takesHit(std::optional<platform::EventType> currentEvent) {
        return currentEvent == platform::EventType::rightMouseDown;
    }
    // The decision for the event the window is handling now.
    static bool takesHit(platform::PanelWindow& window) { return takesHit(window.currentEventType()); }
    void rightMouseDown() const {
        if (action) action();
    }
};

}  // namespace quenlit
