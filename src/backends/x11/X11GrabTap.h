#pragma once
// The swallowing keyboard tap on X11: Control + each swallowable key grabbed on the root window,
// decided on a thread of its own while the keyboard waits frozen.

#include "backends/x11/KeyboardTap.h"

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <vector>

namespace quenlit::x11 {

// Takes `c` over (and closes it when gone); null when no grab can be made.
std::unique_ptr<platform::EventTap> makeGrabTap(xcb_connection_t* c, std::uint8_t xinput,
                                                const std::vector<std::uint32_t>& keysyms,
                                                std::shared_ptr<TapDispatch> dispatch,
                                                std::shared_ptr<FreezeRecord> freezes);

}  // namespace quenlit::x11
