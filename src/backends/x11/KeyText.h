#pragma once
// The keysyms, modifiers and text of X key presses, from an xkbcommon keymap and state with the
// user's compose rules.

#include "platform/InputEvents.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <string>

struct xkb_context;
struct xkb_keymap;
struct xkb_state;
struct xkb_compose_table;
struct xkb_compose_state;

namespace quenlit::x11 {

// The modifiers of a key press in an X modifier state, with which Control keys are down.
platform::Modifiers modifiersFor(std::uint16_t state, bool leftControlDown, bool rightControlDown);

// The keysyms, modifiers and text of key presses, from an xkbcommon keymap and state, with compose
// rules.
class KeyText {
  public:
    // The core keyboard's keymap and state on the server, the compose rules of the user's locale.
    static std::unique_ptr<KeyText> fromServer(xcb_connection_t* connection);
    // A keymap from rule names (tests), with the compose rules of `locale`.
    static std::unique_ptr<KeyText> fromNames(const char* layout, const char* variant, const char* locale);
    ~KeyText();
    KeyText(const KeyText&) = delete;
    KeyText& operator=(const KeyText&) = delete;

    struct Key {
        platform::EventType type = platform::EventType::keyDown;
        std::uint32_t keysym = 0;  // in the layout in effect; 0 for a key without one
        platform::Modifiers modifiers;
        std::u16string text;  // key presses only; empty for a dead key or a key without text
    };
    // Feeds one key press or release; the event it makes. A KeyText from the server takes the
    // modifiers and the group from the server's state instead (setModifiers), and needs only the
    // presses.
    Key key(std::uint8_t keycode, bool press);
    // The server's modifier and group state (an XKB state notification).
    void setModifiers(std::uint32_t base, std::uint32_t latched, std::uint32_t locked, std::int32_t baseGroup,
                      std::int32_t latchedGroup, std::uint32_t lockedGroup);

  private:
    KeyText() = default;
    bool load(xkb_keymap* keymap, xkb_state* state, const char* locale);
    void loadCompose();
    platform::Modifiers modifiers() const;

    xkb_context* context_ = nullptr;
    xkb_keymap* keymap_ = nullptr;
    xkb_state* state_ = nullptr;
    std::string locale_;
    xkb_compose_table* composeTable_ = nullptr;
    xkb_compose_state* compose_ = nullptr;
    bool leftControl_ = false;
    bool rightControl_ = false;
    bool serverState_ = false;
};

}  // namespace quenlit::x11
