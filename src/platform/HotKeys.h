#pragma once

// System-wide hotkeys: a key with modifiers that reaches this program whatever application is in
// front. A key is its keysym (platform::keysym; a letter or digit is the key that prints it on the
// user's layout), the modifiers are named (Super is the desktop's own shortcut modifier; which
// Control key does not count).
//
// Main thread only. The desktop backend keeps a registration working across keyboard layout
// changes.

#include "base/Result.h"
#include "base/Signal.h"
#include "platform/Keys.h"

#include <cstdint>
#include <string>
#include <variant>

namespace quenlit::platform {

// One registration, to be handed back to unregisterHotKey.
enum class HotKeyRef : std::uint64_t {};

class HotKeys {
  public:
    virtual ~HotKeys() = default;

    // Claims the combination for this program; its presses are then reported through `pressed`
    // with `id`. Fails, leaving nothing claimed, when another program holds the combination, when
    // this program has already registered it, or when the key is not on the keyboard, with the
    // reason for a log line ("taken by another program"). The backend does not log the failure:
    // the caller does, with describe().
    virtual Result<HotKeyRef> registerHotKey(std::uint32_t id, std::uint32_t keysym, Modifiers modifiers) = 0;
    // Releases the combination; an unknown or already released registration is ignored.
    virtual void unregisterHotKey(HotKeyRef registration) = 0;

    // The combination as the desktop names it in messages ("Super+Space").
    virtual std::string describe(std::uint32_t keysym, Modifiers modifiers) const = 0;

    // Emitted on the main thread, from the event loop, once per press of a registered
    // combination, with the id it was registered with.
    Signal<std::uint32_t> pressed;
};

}  // namespace quenlit::platform
