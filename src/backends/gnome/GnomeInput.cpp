#include "backends/gnome/GnomeInput.h"

#include "backends/linux/KeyPositions.h"
#include "base/Text.h"

#include <algorithm>

namespace quenlit::gnome {
namespace {

constexpr std::uint32_t kControlL = 0xffe3;
constexpr std::uint32_t kShiftL = 0xffe1;
constexpr std::uint32_t kAltL = 0xffe9;
constexpr std::uint32_t kInsert = 0xff63;

}  // namespace

std::optional<std::string> extensionHotKeyName(std::uint32_t keysym, platform::Modifiers modifiers) {
    if (modifiers.withoutSides() != platform::Modifiers{.super = true}) return std::nullopt;
    if (keysym == platform::keysym::space) return "launcher-hotkey";
    if (keysym == platform::keysym::escape) return "clipboard-hotkey";
    return std::nullopt;
}

GnomeHotKeys::GnomeHotKeys(ShellExtension& shell) : shell_(shell) {
    presses_ = shell.hotKeyPressed.connect([this](const std::string& name) {
        for (const auto& [ref, registration] : registrations_) {
            if (registration.name == name) {
                pressed.emit(registration.id);
                return;
            }
        }
    });
}

Result<platform::HotKeyRef> GnomeHotKeys::registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                                         platform::Modifiers modifiers) {
    const auto name = extensionHotKeyName(keysym, modifiers);
    if (!name) return Failure::unsupported("GNOME Shell binds only Super+Space and Super+Escape for Quenlit");
    for (const auto& [ref, registration] : registrations_) {
        if (registration.name == *name) return Failure{"already registered"};
    }
    const auto& bound = shell_.boundHotKeys();
    if (std::find(bound.begin(), bound.end(), *name) == bound.end())
        return Failure{
            "GNOME Shell did not bind it (its accelerator in the extension's settings may be invalid)"};
    const std::uint64_t ref = next_++;
    registrations_[ref] = {*name, id};
    return static_cast<platform::HotKeyRef>(ref);
}

void GnomeHotKeys::unregisterHotKey(platform::HotKeyRef registration) {
    registrations_.erase(static_cast<std::uint64_t>(registration));
}

std::string GnomeHotKeys::describe(std::uint32_t keysym, platform::Modifiers modifiers) const {
    return linux_backend::describeHotKey(keysym, modifiers);
}

std::vector<ShellKey> keysForEvent(const platform::InputEvent& event, linux_backend::PasteKey pasteKey) {
    std::vector<ShellKey> keys;
    if (event.type != platform::EventType::keyDown && event.type != platform::EventType::keyUp) return keys;
    if (!event.text.empty()) {
        // The whole text with the press; mutter adds Shift for the characters on its level.
        if (event.type != platform::EventType::keyDown) return keys;
        for (char32_t c : text::codePoints(event.text)) {
            const auto keysym = linux_backend::keysymForCodePoint(c);
            if (!keysym) return {};
            keys.push_back({*keysym, true});
            keys.push_back({*keysym, false});
        }
        return keys;
    }
    if (event.keysym == 0) return keys;
    const bool down = event.type == platform::EventType::keyDown;
    std::vector<std::uint32_t> modifiers;
    std::uint32_t keysym = event.keysym;
    const bool paste = event.modifiers.withoutSides() == platform::Modifiers{.control = true} &&
                       (event.keysym == 'v' || event.keysym == 'V');
    if (paste && pasteKey == linux_backend::PasteKey::shiftInsert) {
        modifiers.push_back(kShiftL);
        keysym = kInsert;
    } else {
        if (event.modifiers.control) modifiers.push_back(kControlL);
        if (event.modifiers.shift || (paste && pasteKey == linux_backend::PasteKey::controlShiftV))
            modifiers.push_back(kShiftL);
        if (event.modifiers.alt) modifiers.push_back(kAltL);
    }
    if (down) {
        for (std::uint32_t m : modifiers)
            keys.push_back({m, true});
        keys.push_back({keysym, true});
    } else {
        keys.push_back({keysym, false});
        for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
            keys.push_back({*it, false});
    }
    return keys;
}

namespace {

class Source final : public platform::EventSource {
  public:
    Source(ShellExtension& shell, const std::function<linux_backend::PasteKey()>& frontPasteKey)
        : shell_(shell), frontPasteKey_(frontPasteKey) {}

    std::optional<platform::InputEvent> keyboardEvent(std::uint32_t keysym, bool keyDown) override {
        if (keysym == 0) return std::nullopt;
        platform::InputEvent event;
        event.type = keyDown ? platform::EventType::keyDown : platform::EventType::keyUp;
        event.keysym = keysym;
        return event;
    }

    bool post(const platform::InputEvent& event) override {
        // The paste key is chosen at the press; its release lifts the same keys.
        if (event.type == platform::EventType::keyDown)
            pasteKey_ = frontPasteKey_ ? frontPasteKey_() : linux_backend::PasteKey::controlV;
        const auto keys = keysForEvent(event, pasteKey_);
        if (keys.empty()) return false;
        shell_.sendKeys(keys);
        return true;
    }

  private:
    ShellExtension& shell_;
    const std::function<linux_backend::PasteKey()>& frontPasteKey_;
    linux_backend::PasteKey pasteKey_ = linux_backend::PasteKey::controlV;
};

}  // namespace

std::unique_ptr<platform::EventSource> GnomeInput::createEventSource() {
    return std::make_unique<Source>(shell_, frontPasteKey);
}

}  // namespace quenlit::gnome
