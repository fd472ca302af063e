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
        std::uint32_t keysym;
        platform::Modifiers modifiers;
    };

    // Combinations (keysym, modifiers) that another program holds.
    std::vector<std::pair<std::uint32_t, platform::Modifiers>> takenByOthers;
    // Every request in words, in order: "register 1 Super+Space", "unregister 1 Super+Space".
    std::vector<std::string> calls;

    const std::vector<Registration>& registrations() const { return registrations_; }

    // The user presses the combination: its registration, if any, reports its id. Returns whether
    // one did.
    bool press(std::uint32_t keysym, platform::Modifiers modifiers) {
        const auto it = find(keysym, modifiers);
        if (it == registrations_.end()) return false;
        pressed.emit(it->id);
        return true;
    }

    Result<platform::HotKeyRef> registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                               platform::Modifiers modifiers) override {
        calls.push_back("register " + std::to_string(id) + " " + describe(keysym, modifiers));
        if (std::find(takenByOthers.begin(), takenByOthers.end(), std::make_pair(keysym, modifiers)) !=
            takenByOthers.end()) {
            return Failure{"taken by another program"};
        }
        if (find(keysym, modifiers) != registrations_.end()) {
            return Failure{"already registered by this program"};
        }
        const auto ref = static_cast<platform::HotKeyRef>(++lastRef_);
        registrations_.push_back({ref, id, keysym, modifiers});
        return ref;
    }

    void unregisterHotKey(platform::HotKeyRef registration) override {
        const auto it = std::find_if(registrations_.begin(), registrations_.end(),
                                     [&](const Registration& r) { return r.ref == registration; });
        if (it == registrations_.end()) {
            calls.push_back("unregister unknown");
            return;
        }
        calls.push_back("unregister " + std::to_string(it->id) + " " + describe(it->keysym, it->modifiers));
        registrations_.erase(it);
    }

    // Names as the X11 desktop gives them.
    std::string describe(std::uint32_t keysym, platform::Modifiers modifiers) const override {
        std::string out;
        if (modifiers.super) out += "Super+";
        if (modifiers.control) out += "Control+";
        if (modifiers.alt) out += "Alt+";
        if (modifiers.shift) out += "Shift+";
        switch (keysym) {
            case platform::keysym::space:
                return out + "Space";
            case platform::keysym::escape:
                return out + "Escape";
            case platform::keysym::returnKey:
                return out + "Return";
            default:
                return out + "keysym " + std::to_string(keysym);
        }
    }

  private:
    std::vector<Registration>::const_iterator find(std::uint32_t keysym,
                                                   platform::Modifiers modifiers) const {
        return std::find_if(registrations_.begin(), registrations_.end(), [&](const Registration& r) {
            return r.keysym == keysym && r.modifiers == modifiers;
        });
    }

    std::vector<Registration> registrations_;
    std::uint64_t lastRef_ = 0;
};

}  // namespace quenlit::fake
