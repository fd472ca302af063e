#pragma once

// The other programs' windows as the compositor lists them (wlr-foreign-toplevel-management):
// each with its app id, title and state, and the requests to activate and minimise it. The list
// follows the compositor's events as the Wayland connection dispatches them.
//
// Main thread only.

#include "base/Signal.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quenlit::wayland {

struct Toplevel {
    std::uint64_t handle = 0;  // stable while the window exists; never reused
    std::string appId;
    std::string title;
    bool activated = false;
    bool minimized = false;
    bool maximized = false;
    bool fullscreen = false;
    bool operator==(const Toplevel&) const = default;
};

class Toplevels {
  public:
    virtual ~Toplevels() = default;
    // In the order the compositor announced them, the oldest first; only complete ones (after
    // their first "done").
    virtual std::vector<Toplevel> list() const = 0;
    // False when the window is gone.
    virtual bool activate(std::uint64_t handle) = 0;
    virtual bool setMinimized(std::uint64_t handle, bool minimized) = 0;

    // After a window appeared, closed or changed its state ("done" of its handle).
    Signal<> changed;
};

}  // namespace quenlit::wayland
