#pragma once

// The key that pastes the clipboard in another program's window: Control+V in ordinary
// applications; Control+Shift+V in terminal emulators, which keep Control+V for the shell; and, on
// X11 only, Shift+Insert in xterm and URxvt, which bind neither and paste the PRIMARY selection
// with it.

#include <string_view>

namespace quenlit::linux_backend {

enum class PasteKey { controlV, controlShiftV, shiftInsert };

// A window of this WM_CLASS (instance and class) on X11.
PasteKey pasteKeyForClass(std::string_view instance, std::string_view klass);
// A window of this app id on Wayland. Never Shift+Insert: the Wayland backend does not offer the
// clipboard as the primary selection.
PasteKey pasteKeyForAppId(std::string_view appId);

}  // namespace quenlit::linux_backend
