#pragma once

// The key that pastes the clipboard in another program's window: Control+V in ordinary
// applications; Control+Shift+V in terminal emulators, which keep Control+V for the shell; and
// Shift+Insert in xterm and URxvt, which bind neither and paste the PRIMARY selection with it (on
// Wayland they run through XWayland, their app id is their X class).

#include <string_view>

namespace quenlit::linux_backend {

enum class PasteKey { controlV, controlShiftV, shiftInsert };

// A window of this WM_CLASS (instance and class) on X11.
PasteKey pasteKeyForClass(std::string_view instance, std::string_view klass);
// A window of this app id on Wayland; never Shift+Insert (xterm and URxvt are X11 programs, asked
// by their class).
PasteKey pasteKeyForAppId(std::string_view appId);

}  // namespace quenlit::linux_backend
