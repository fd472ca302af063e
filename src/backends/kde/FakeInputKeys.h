#pragma once

// Synthesised keys on KDE Plasma through KWin's fake input (org_kde_kwin_fake_input), which KWin
// offers only to a program whose installed desktop entry names its executable and lists the
// interface in X-KDE-Wayland-Interfaces; `authenticate` is then granted without a dialog.
//
// Keys are evdev codes that KWin runs through the user's own keymap, exactly as a key of a real
// keyboard: a key is the position that types the virtual key's letter on a US layout. Modifiers are
// pressed as the left Control, Shift and Alt keys around the key and released after it. Command+V
// (synthesised input uses it only for the paste shortcut) becomes the paste key of the window in
// front: Control+Shift+V in terminals, Shift+Insert for xterm and URxvt (once the entry is their
// primary selection too), else Control+V. Text is not typed: a text event fails.
//
// Main thread only; destroy before the connection.

#include "platform/InputEvents.h"

#include <functional>
#include <memory>
#include <string>

namespace quenlit::wayland {
class WaylandConnection;
}

namespace quenlit::kde {

class FakeInputKeys final : public platform::InputSynthesizer {
  public:
    explicit FakeInputKeys(wayland::WaylandConnection& connection);

    // Whether KWin offered fake input to this program.
    bool available() const;

    std::unique_ptr<platform::EventSource> createEventSource() override;

    // The class and desktop file name of the window in front, which choose the paste key; unset,
    // Control+V is sent.
    std::function<std::pair<std::string, std::string>()> focusedClass;
    // Whether the front program is a terminal emulator by its desktop entry.
    std::function<bool()> focusedIsTerminal;
    // Offers the clipboard as the primary selection too (for Shift+Insert in xterm and URxvt).
    std::function<bool()> publishPrimary;

    class Source;

  private:
    wayland::WaylandConnection& connection_;
};

}  // namespace quenlit::kde
