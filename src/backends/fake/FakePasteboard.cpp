#include "backends/fake/FakePasteboard.h"

#include <algorithm>

namespace quenlit::fake {

void FakePasteboard::copy(std::vector<platform::PasteboardItem> items, std::vector<std::string> extraTypes) {
    ++changeCount_;
    items_ = std::move(items);
    types_.clear();
    for (const auto& item : items_) {
        for (const auto& [type, bytes] : item.data) {
            if (std::find(types_.begin(), types_.end(), type) == types_.end()) types_.push_back(type);
        }
    }
    for (auto& t : extraTypes)
        types_.push_back(std::move(t));
    legacyList.reset();
    announce(platform::PasteboardChange::newOwner);
}

void FakePasteboard::clearByAnotherProgram() {
    empty();
    announce(platform::PasteboardChange::cleared);
}

void FakePasteboard::ownerExits() {
    empty();
    announce(platform::PasteboardChange::ownerGone);
}

void FakePasteboard::announce(platform::PasteboardChange change) {
    if (announcing) changed.emit(change);
}

void FakePasteboard::empty() {
    ++changeCount_;
    types_.clear();
    items_.clear();
    legacyList.reset();
}

void FakePasteboard::copyText(const std::string& text, std::vector<std::string> extraTypes) {
    copy({{{{std::string(platform::pasteboardType::string), text}}}}, std::move(extraTypes));
}

std::optional<std::string> FakePasteboard::data(std::string_view type) {
    if (std::find(types_.begin(), types_.end(), type) == types_.end()) return std::nullopt;
    for (const auto& item : items_) {
        if (auto d = item.dataFor(type)) return d;
    }
    return std::string();
}

std::optional<std::string> FakePasteboard::string(std::string_view type) {
    for (const auto& item : items_) {
        if (auto d = item.dataFor(type)) return d;
    }
    return std::nullopt;
}

long FakePasteboard::clearContents() {
    empty();
    return changeCount_;
}

void FakePasteboard::declareTypes(const std::vector<std::string>& types) {
    types_ = types;
    items_ = {platform::PasteboardItem{}};
}

bool FakePasteboard::setData(std::string_view data, std::string_view type) {
    if (std::find(types_.begin(), types_.end(), type) == types_.end()) return false;
    if (items_.empty()) items_.emplace_back();
    items_.front().data.emplace_back(std::string(type), std::string(data));
    return true;
}

bool FakePasteboard::setString(std::string_view text, std::string_view type) {
    return setData(text, type);
}

}  // namespace quenlit::fake
