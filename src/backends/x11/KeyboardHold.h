#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace quenlit::x11 {

// The user's keyboards, grabbed one by one: while held, their keys come here instead of to the
// core keyboard, and are sent on through XTest when they are let go.
class KeyboardHold {
  public:
    KeyboardHold() = default;
    ~KeyboardHold();
    KeyboardHold(const KeyboardHold&) = delete;
    KeyboardHold& operator=(const KeyboardHold&) = delete;

    // Connects when first needed: many people never have text typed for them.
    bool connect();
    bool active() const { return !held_.empty(); }
    // Grabs every keyboard attached to a master except the master's own XTest keyboard, through
    // which this program and others type.
    void begin();
    // Lets the keyboards go; the keys they typed meanwhile, in order, as (keycode, press).
    std::vector<std::pair<std::uint8_t, bool>> end();

  private:
    xcb_connection_t* c_ = nullptr;
    int opcode_ = -1;
    std::vector<int> held_;
};

}  // namespace quenlit::x11
