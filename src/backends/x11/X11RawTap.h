#pragma once
// The listen-only keyboard tap on X11: XInput 2 raw key and button presses of all master devices,
// read on a thread of its own and handed to the callback there as they arrive.

#include "backends/x11/KeyText.h"
#include "backends/x11/KeyboardTap.h"
#include "backends/x11/XTestInput.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>

namespace quenlit::x11 {

// Takes `c` over (and closes it when gone).
std::unique_ptr<platform::EventTap> makeRawTap(xcb_connection_t* c, std::uint8_t xinput,
                                               std::unique_ptr<KeyText> text,
                                               std::shared_ptr<TapDispatch> dispatch,
                                               std::shared_ptr<SyntheticKeyLog> ownEvents);

}  // namespace quenlit::x11
