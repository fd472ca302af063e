#include "clipboard/ClipboardMenu.h"

#include "base/Text.h"

#include <memory>

namespace quenlit {
namespace {

constexpr std::size_t kShortenedLength = 120;

// The byte length of the first `count` user-perceived characters of s (all of s when shorter).
std::size_t prefixLength(std::string_view s, std::size_t count) {
    return text::Characters(s).endOfFirst(count);
}

// Line feeds and tabs become spaces. A CR LF pair is one line break, so it becomes one space
// rather than a carriage return that would break the one-line title.
std::string flattened(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (std::size_t i = 0; i < s.size(); ++i) {
        const char c = s[i];
        if (c == '\r' && i + 1 < s.size() && s[i + 1] == '\n') {
            out.push_back(' ');
            ++i;
        } else if (c == '\n' || c == '\t') {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return out;
}

}  // namespace

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
    // Trimming first gives the same text as flattening first (line feeds and tabs are white
    // space), and lets a text of 100,000 characters be shortened without copying all of it.
    const std::string_view trimmed = text::trim(item.text());
    // Flattening only ever joins a space with a prepended mark before it and combining marks
    // after it, so the first 121 characters of the flattened text lie within three times as many
    // characters of the original.
    const std::size_t window = prefixLength(trimmed, 3 * (kShortenedLength + 1));
    std::string flat = flattened(trimmed.substr(0, window));
    const std::size_t cut = prefixLength(flat, kShortenedLength);
    if (cut == flat.size() && window == trimmed.size()) return flat;
    flat.resize(cut);
    return flat + "…";
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

bool ClipboardActionsModel::handleKey(std::uint16_t keyCode) {
    namespace key = platform::keyCode;
    const bool isReturn = keyCode == key::returnKey || keyCode == key::keypadEnter;
    if (confirmDeleteAll_) {
        if (isReturn) {
            perform(ClipboardMenuAction::deleteAll);
        } else if (keyCode == key::escape) {
            close();
        }
        return true;
    }
    if (!isOpen_) return false;
    if (isReturn) {
        if (auto action = ClipboardMenuAction::fromRaw(selection_)) perform(*action);
        return true;
    }
    switch (keyCode) {
        case key::escape:
            close();
            return true;
        case key::downArrow:
            selection_ = (selection_ + 5) % 4;
            changed.emit();
            return true;
        case key::upArrow:
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
