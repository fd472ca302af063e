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

void FakePasteboard::clearContents() {
    empty();
}

Result<> FakePasteboard::write(const std::vector<platform::PasteboardOffer>& offers) {
    if (writeFailure) return Failure{*writeFailure};
    empty();
    platform::PasteboardItem item;
    for (const auto& [type, data] : offers) {
        types_.push_back(type);
        item.data.emplace_back(type, data);
    }
    items_ = {std::move(item)};
    return {};
}

}  // namespace quenlit::fake
