#pragma once

// Hotkeys of an in-memory desktop: tests say which combinations other programs hold, read back
// what was registered, and press combinations as the user would.

#include "platform/HotKeys.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

namespace quenlit::fake {

class FakeHotKeys final : public platform::HotKeys {
  public:
    struct Registration {
        platform::HotKeyRef ref;
        std::uint32_t id;
        int keyCode;
        std::uint32_t modifiers;
    };

    // Combinations (key code, modifiers) that another program holds.
    std::vector<std::pair<int, std::uint32_t>> takenByOthers;
    // Every request in words, in order: "register 1 Super+Space", "unregister 1 Super+Space".
    std::vector<std::string> calls;

    const std::vector<Registration>& registrations() const { return registrations_; }

    // The user presses the combination: its registration, if any, reports its id. Returns whether
    // one did.
    bool press(int keyCode, std::uint32_t modifiers) {
        const auto it = find(keyCode, modifiers);
        if (it == registrations_.end()) return false;
        pressed.emit(it->id);
        return true;
    }

    Result<platform::HotKeyRef> registerHotKey(std::uint32_t id, int keyCode,
                                               std::uint32_t modifiers) override {
        calls.push_back("register " + std::to_string(id) + " " + describe(keyCode, modifiers));
        if (std::find(takenByOthers.begin(), takenByOthers.end(), std::make_pair(keyCode, modifiers)) !=
            takenByOthers.end()) {
            return Failure{"taken by another program"};
        }
        if (find(keyCode, modifiers) != registrations_.end()) {
            return Failure{"already registered by this program"};
        }
        const auto ref = static_cast<platform::HotKeyRef>(++lastRef_);
        registrations_.push_back({ref, id, keyCode, modifiers});
        return ref;
    }

    void unregisterHotKey(platform::HotKeyRef registration) override {
        const auto it = std::find_if(registrations_.begin(), registrations_.end(),
                                     [&](const Registration& r) { return r.ref == registration; });
        if (it == registrations_.end()) {
            calls.push_back("unregister unknown");
            return;
        }
        calls.push_back("unregister " + std::to_string(it->id) + " " + describe(it->keyCode, it->modifiers));
        registrations_.erase(it);
    }

    // Names as the X11 desktop gives them.
    std::string describe(int keyCode, std::uint32_t modifiers) const override {
        std::string out;
        if (modifiers & platform::hotKeyModifiers::command) out += "Super+";
        if (modifiers & platform::hotKeyModifiers::control) out += "Control+";
        if (modifiers & platform::hotKeyModifiers::option) out += "Alt+";
        if (modifiers & platform::hotKeyModifiers::shift) out += "Shift+";
        switch (keyCode) {
            case 49:
                return out + "Space";
            case 53:
                return out + "Escape";
            case 36:
                return out + "Return";
            default:
                return out + "key " + std::to_string(keyCode);
        }
    }

  private:
    std::vector<Registration>::const_iterator find(int keyCode, std::uint32_t modifiers) const {
        return std::find_if(registrations_.begin(), registrations_.end(), [&](const Registration& r) {
            return r.keyCode == keyCode && r.modifiers == modifiers;
        });
    }

    std::vector<Registration> registrations_;
    std::uint64_t lastRef_ = 0;
};

}  // namespace quenlit::fake
