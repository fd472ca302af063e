#include "panel/PanelList.h"

#include <utility>

namespace quenlit {

PanelList::PanelList(NavigationState& navigationState, platform::Scheduler& scheduler, Hooks hooks)
    : navigationState_(navigationState),
      scheduler_(scheduler),
      hooks_(std::move(hooks)),
      lastSelection_(navigationState.selectedIndex()) {
    connections_.push_back(navigationState_.selectedIndexChanged.connect(
        [this](std::int64_t index) { selectionChanged(index); }));
}

void PanelList::setSearchFocused(bool focused) {
    if (isSearchFocused_ == focused) return;
    isSearchFocused_ = focused;
    if (hooks_.changed) hooks_.changed();
}

void PanelList::focusSearchLater() {
    scheduler_.postAfter(kFocusDelay, self_.bind([](PanelList& self) { self.setSearchFocused(true); }));
}

void PanelList::clampTo(std::int64_t count) {
    navigationState_.setMaxIndex(count > 0 ? count - 1 : 0);
    if (navigationState_.selectedIndex() > navigationState_.maxIndex()) {
        navigationState_.setSelectedIndex(navigationState_.maxIndex());
    }
}

void PanelList::selectionChanged(std::int64_t index) {
    // Every assignment is announced, but only a move of the selection scrolls.
    if (index != lastSelection_) {
        lastSelection_ = index;
        if (hooks_.idAt && hooks_.scrollTo) {
            if (auto id = hooks_.idAt(index)) hooks_.scrollTo(*id);
        }
    }
    if (hooks_.changed) hooks_.changed();
}

}  // namespace quenlit
