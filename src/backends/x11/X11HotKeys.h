#pragma once

// Global hotkeys as passive key grabs on the root window. Each combination is grabbed once for
// every state of Caps Lock, Num Lock and Scroll Lock, so a lock key never breaks it; a grab that
// another program already holds fails the registration as a whole. After a keyboard mapping
// change every registration is grabbed again for the new key codes.

#include "backends/x11/KeyTranslation.h"
#include "backends/x11/X11Connection.h"
#include "backends/x11/X11EventHub.h"
#include "platform/HotKeys.h"

#include <vector>

namespace quenlit::x11 {

class X11HotKeys final : public platform::HotKeys {
  public:
    X11HotKeys(X11Connection& connection, X11EventHub& events);
    ~X11HotKeys() override;
    X11HotKeys(const X11HotKeys&) = delete;
    X11HotKeys& operator=(const X11HotKeys&) = delete;

    Result<platform::HotKeyRef> registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                               platform::Modifiers modifiers) override;
    void unregisterHotKey(platform::HotKeyRef registration) override;
    std::string describe(std::uint32_t keysym, platform::Modifiers modifiers) const override;

    // A key press that reached a window of ours while it holds the keyboard (the root grabs do
    // not fire then): reports it and returns true when it is one of the registered combinations.
    bool handleGrabbedKeyPress(xcb_keycode_t keycode, std::uint16_t state);

  private:
    struct Registration {
        std::uint64_t ref;
        std::uint32_t id;
        std::uint32_t keysym;
        platform::Modifiers modifiers;
        xcb_keycode_t keycode = 0;
        std::uint16_t mask = 0;
        std::vector<std::uint16_t> grabbedMasks;
    };

    bool onEvent(xcb_generic_event_t* event);
    void readModifierMapping();
    std::optional<std::string> grab(Registration& r);  // an error description on failure
    void ungrab(Registration& r);
    xcb_keycode_t keycodeFor(std::uint32_t keysym) const;
    std::uint16_t maskFor(platform::Modifiers modifiers) const;
    std::vector<std::uint16_t> lockCombinations() const;

    X11Connection& x_;
    X11EventHub& events_;
    int handlerToken_ = 0;
    std::vector<Registration> registrations_;
    std::uint64_t nextRef_ = 1;
    std::uint16_t superMask_ = XCB_MOD_MASK_4;
    std::uint16_t altMask_ = XCB_MOD_MASK_1;
    std::uint16_t numLockMask_ = 0;
    std::uint16_t scrollLockMask_ = 0;
    KeyboardMapping mapping_;
};

}  // namespace quenlit::x11
