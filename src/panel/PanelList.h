#pragma once

// What both list panels (the launcher and the clipboard history) share about their list: the
// selection that the arrow keys move, scrolling only when the selection really moved, the search
// field's focus shortly after showing, and keeping the user's selection when the list changes
// under it (a catalogue scan, a capture).
//
// Main thread only. The navigation state and the scheduler outlive the helper; delayed work holds
// it weakly.

#include "base/Signal.h"
#include "base/Uuid.h"
#include "base/WeakSelf.h"
#include "panel/NavigationState.h"
#include "platform/Scheduler.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace quenlit {

class PanelList {
  public:
    struct Hooks {
        // The id of the row at an index of the list, absent beyond it (for scrolling).
        std::function<std::optional<Uuid>(std::int64_t index)> idAt;
        // The row with this id should be scrolled into view.
        std::function<void(Uuid)> scrollTo;
        // Something the view shows changed.
        std::function<void()> changed;
    };

    PanelList(NavigationState& navigationState, platform::Scheduler& scheduler, Hooks hooks);
    PanelList(const PanelList&) = delete;
    PanelList& operator=(const PanelList&) = delete;

    NavigationState& navigationState() { return navigationState_; }
    std::int64_t selectedIndex() const { return navigationState_.selectedIndex(); }

    bool isSearchFocused() const { return isSearchFocused_; }
    // The toolkit reports where the keyboard focus went.
    void setSearchFocused(bool focused);
    // Marks the search field focused once the panel had time to show (kFocusDelay).
    void focusSearchLater();

    // A new list of `count` rows: the first row is selected.
    void reset(std::int64_t count) { navigationState_.sync(count); }
    // The same list changed to `count` rows: the selection is only clamped, so the row the user
    // moved to stays selected.
    void clampTo(std::int64_t count);
    // A click on the row at `index` selects it.
    void select(std::size_t index) { navigationState_.setSelectedIndex(static_cast<std::int64_t>(index)); }

    static constexpr platform::Seconds kFocusDelay{0.05};

  private:
    void selectionChanged(std::int64_t index);

    NavigationState& navigationState_;
    platform::Scheduler& scheduler_;
    Hooks hooks_;
    bool isSearchFocused_ = false;
    std::int64_t lastSelection_;
    std::vector<Connection> connections_;
    WeakSelf<PanelList> self_{this};
};

}  // namespace quenlit
