#pragma once

// GNOME Wayland's hotkeys and synthesised keys, through Quenlit's Shell extension.
//
// Hotkeys: the extension binds the launcher's and the clipboard's keys (Super+Space and
// Super+Escape by default, in its own settings), taking them from GNOME's own use while this
// program runs; other combinations cannot be bound there.
//
// Synthesised keys are typed by the shell's own virtual keyboard, by keysym, about 20 ms apart.
// Control+V, which synthesised input uses only for the paste shortcut, becomes the paste key of the
// window in front: Control+Shift+V in terminals, Shift+Insert in xterm and URxvt (through XWayland,
// once the entry is the primary selection too), Control+V elsewhere.

#include "backends/gnome/ShellExtension.h"
#include "backends/linux/PasteKey.h"
#include "platform/HotKeys.h"
#include "platform/InputEvents.h"

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace quenlit::gnome {

// The extension's name of a hotkey ("launcher-hotkey", "clipboard-hotkey"), absent for a
// combination it does not bind.
std::optional<std::string> extensionHotKeyName(std::uint32_t keysym, platform::Modifiers modifiers);

class GnomeHotKeys final : public platform::HotKeys {
  public:
    explicit GnomeHotKeys(ShellExtension& shell);
    Result<platform::HotKeyRef> registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                               platform::Modifiers modifiers) override;
    void unregisterHotKey(platform::HotKeyRef registration) override;
    std::string describe(std::uint32_t keysym, platform::Modifiers modifiers) const override;

  private:
    struct Registration {
        std::string name;
        std::uint32_t id;
    };
    ShellExtension& shell_;
    Connection presses_;
    std::map<std::uint64_t, Registration> registrations_;
    std::uint64_t next_ = 1;
};

// The keys that type one event: its modifiers pressed around the key (Control+V as `pasteKey`), or
// its text key by key. Empty when the event cannot be typed.
std::vector<ShellKey> keysForEvent(const platform::InputEvent& event, linux_backend::PasteKey pasteKey);

class GnomeInput final : public platform::InputSynthesizer {
  public:
    explicit GnomeInput(ShellExtension& shell) : shell_(shell) {}
    std::unique_ptr<platform::EventSource> createEventSource() override;
    // The paste key of the window in front; unset, Control+V.
    std::function<linux_backend::PasteKey()> frontPasteKey;

  private:
    ShellExtension& shell_;
};

}  // namespace quenlit::gnome
