#include "backends/gnome/GnomePasteboard.h"

#include "backends/linux/ClipboardTypes.h"
#include "base/Log.h"
#include "base/Text.h"

#include <algorithm>

namespace quenlit::gnome {

namespace types = platform::pasteboardType;

GnomePasteboard::GnomePasteboard(ShellExtension& shell) : shell_(shell) {
    changes_ = shell_.clipboardChanged.connect([this](bool ours, bool empty) {
        ++count_;
        offered_.reset();
        if (!ours) own_.reset();
        changed.emit(ours || !empty ? platform::PasteboardChange::newOwner
                                    : platform::PasteboardChange::ownerGone);
    });
}

const std::vector<std::string>& GnomePasteboard::offered() {
    if (!offered_) {
        auto listed = shell_.clipboardTypes();
        offered_ = listed ? std::move(listed.value()) : std::vector<std::string>{};
    }
    return *offered_;
}

std::vector<std::string> GnomePasteboard::types() {
    if (own_) {
        std::vector<std::string> out;
        for (const auto& entry : *own_)
            out.push_back(entry.first);
        return out;
    }
    return linux_backend::pasteboardTypesForTargets(offered());
}

std::optional<std::string> GnomePasteboard::read(std::string_view type, std::size_t limit) {
    if (own_) {
        for (const auto& [t, bytes] : *own_) {
            if (t == type) return bytes;
        }
        return std::nullopt;
    }
    const auto target = linux_backend::targetForType(type, offered());
    if (!target) return std::nullopt;
    auto bytes = shell_.clipboardRead(*target);
    if (!bytes) return std::nullopt;
    if (bytes.value().size() > limit) {
        log::write("clipboard: " + std::string(type) + " on the clipboard is larger than " +
                   std::to_string(limit >> 20) + " MB — skipped");
        return std::nullopt;
    }
    if (linux_backend::isLatin1Target(*target)) return linux_backend::latin1ToUtf8(bytes.value());
    return std::move(bytes.value());
}

std::vector<platform::PasteboardItem> GnomePasteboard::items() {
    std::vector<platform::PasteboardItem> out;
    const auto list = read(types::fileURL, linux_backend::kClipboardTextLimit);
    if (!list) return out;
    for (std::string& url : linux_backend::parseUriList(*list)) {
        platform::PasteboardItem item;
        item.data.emplace_back(std::string(types::fileURL), std::move(url));
        out.push_back(std::move(item));
    }
    return out;
}

std::optional<std::string> GnomePasteboard::data(std::string_view type) {
    if (type == types::string) return string(type);
    return read(type, linux_backend::kClipboardDataLimit);
}

std::optional<std::string> GnomePasteboard::string(std::string_view type) {
    auto text = read(type, linux_backend::kClipboardTextLimit);
    if (!text) return std::nullopt;
    while (!text->empty() && text->back() == '\0')
        text->pop_back();
    return text::validUtf8(*text);
}

std::optional<std::vector<std::string>> GnomePasteboard::legacyFilenames() {
    auto raw = read(types::legacyFilenames, linux_backend::kClipboardTextLimit);
    if (!raw) return std::nullopt;
    return linux_backend::parseGnomeCopiedFiles(*raw);
}

Result<> GnomePasteboard::write(const std::vector<platform::PasteboardOffer>& offers) {
    std::vector<std::pair<std::string, std::string>> own;
    for (const auto& [type, data] : offers)
        own.emplace_back(type, data);
    own_ = std::move(own);
    const auto* offered = best();
    if (offered == nullptr) return Failure{"nothing to offer"};
    auto written = shell_.clipboardWrite(offered->first, offered->second);
    if (!written) {
        own_.reset();
        return written;
    }
    return {};
}

const std::pair<std::string, std::string>* GnomePasteboard::best() const {
    // The one type the shell offers: text first, then images, else the first declared.
    if (!own_ || own_->empty()) return nullptr;
    for (std::string_view preferred : {types::string, types::png, types::tiff}) {
        for (const auto& entry : *own_) {
            if (entry.first == preferred) return &entry;
        }
    }
    return &own_->front();
}

bool GnomePasteboard::mirrorToPrimary() {
    const auto* offered = best();
    if (offered == nullptr) return false;
    auto written = shell_.primaryWrite(offered->first, offered->second);
    if (!written) log::write("clipboard: " + written.error().reason);
    return written.has_value();
}

}  // namespace quenlit::gnome
