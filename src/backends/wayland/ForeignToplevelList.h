#pragma once

// The compositor's list of windows through wlr-foreign-toplevel-management: a window enters the
// list at its handle's first "done", its properties change at each later "done", and it leaves at
// "closed".
//
// Main thread only; destroy before the connection.

#include "backends/wayland/ForeignToplevels.h"

#include <cstdint>
#include <memory>
#include <vector>

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace quenlit::wayland {

class WaylandConnection;
struct ToplevelEvents;

class ForeignToplevelList final : public Toplevels {
  public:
    // Binds the compositor's manager; the list stays empty when it offers none.
    explicit ForeignToplevelList(WaylandConnection& connection);
    ~ForeignToplevelList() override;
    ForeignToplevelList(const ForeignToplevelList&) = delete;
    ForeignToplevelList& operator=(const ForeignToplevelList&) = delete;

    std::vector<Toplevel> list() const override;
    bool activate(std::uint64_t handle) override;
    bool setMinimized(std::uint64_t handle, bool minimized) override;

    // Whether the compositor lists windows to us.
    bool available() const { return manager_ != nullptr; }

    struct Entry;

  private:
    friend struct ToplevelEvents;
    Entry* find(std::uint64_t handle) const;
    void remove(Entry* entry);

    WaylandConnection& connection_;
    zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
    std::vector<std::unique_ptr<Entry>> entries_;  // in the order announced
    std::uint64_t nextHandle_ = 1;
};

}  // namespace quenlit::wayland
