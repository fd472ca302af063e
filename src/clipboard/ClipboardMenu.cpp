#include "clipboard/ClipboardMenu.h"

#include "base/Text.h"

#include <memory>

namespace quenlit {

std::optional<ClipboardMenuAction> ClipboardMenuAction::fromRaw(int raw) {
    if (raw < 0 || raw > 3) return std::nullopt;
    return ClipboardMenuAction(static_cast<Case>(raw));
}

std::string_view ClipboardMenuAction::title() const {
    switch (case_) {
        case paste:
            return "Paste";
        case copy:
            return "Copy";
        case deleteEntry:
            return "Delete Entry";
        case deleteAll:
            return "Delete All Entries";
    }
    return {};
}

std::string_view ClipboardMenuAction::symbol() const {
    switch (case_) {
        case paste:
            return "arrow.down.doc";
        case copy:
            return "doc.on.doc";
        case deleteEntry:
        case deleteAll:
            return "trash";
    }
    return {};
}

bool ClipboardMenuAction::isDrawnInRed() const {
    return case_ == deleteEntry || case_ == deleteAll;
}

std::string shortenedEntryText(const ClipboardItem& item) {
    if (item.kind == ClipboardItem::Kind::image) return "Image";
    return item.title();
}

void ClipboardActionsModel::open(const ClipboardItem& item, platform::Rect anchorFrame) {
    anchorFrame_ = anchorFrame;
    anchoredItem_ = item;
    selection_ = ClipboardMenuAction(ClipboardMenuAction::paste).rawValue();
    confirmDeleteAll_ = false;
    isOpen_ = true;
    changed.emit();
}

void ClipboardActionsModel::close() {
    isOpen_ = false;
    anchoredItem_.reset();
    confirmDeleteAll_ = false;
    changed.emit();
}

void ClipboardActionsModel::toggle() {
    if (isOpen_ || confirmDeleteAll_) {
        close();
        return;
    }
    // A copy: the view may install a new callback while this one runs.
    if (auto callback = onToggle) callback();
}

void ClipboardActionsModel::perform(ClipboardMenuAction action) {
    if (auto callback = onPerform) callback(action);
}

void ClipboardActionsModel::setConfirmDeleteAll(bool confirm) {
    if (confirmDeleteAll_ == confirm) return;
    confirmDeleteAll_ = confirm;
    changed.emit();
}

bool ClipboardActionsModel::handleKey(std::uint32_t keysym) {
    namespace key = platform::keysym;
    const bool isReturn = keysym == key::returnKey || keysym == key::keypadEnter;
    if (confirmDeleteAll_) {
        if (isReturn) {
            perform(ClipboardMenuAction::deleteAll);
        } else if (keysym == key::escape) {
            close();
        }
        return true;
    }
    if (!isOpen_) return false;
    if (isReturn) {
        if (auto action = ClipboardMenuAction::fromRaw(selection_)) perform(*action);
        return true;
    }
    switch (keysym) {
        case key::escape:
            close();
            return true;
        case key::down:
            selection_ = (selection_ + 5) % 4;
            changed.emit();
            return true;
        case key::up:
            selection_ = (selection_ + 3) % 4;
            changed.emit();
            return true;
        default:
            return false;
    }
}

ClipboardActionsMenuView::Presentation ClipboardActionsMenuView::presentation(
    const ClipboardActionsModel& model) {
    Presentation p;
    if (model.anchoredItem()) p.header = shortenedEntryText(*model.anchoredItem());
    for (ClipboardMenuAction action : ClipboardMenuAction::allCases()) {
        Row row;
        row.action = action;
        row.title = std::string(action.title());
        row.symbol = std::string(action.symbol());
        row.isSelected = action.rawValue() == model.selection();
        row.isRed = action.isDrawnInRed();
        p.rows.push_back(std::move(row));
    }
    return p;
}

}  // namespace quenlit
