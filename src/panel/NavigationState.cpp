#include "panel/NavigationState.h"

namespace quenlit {

void NavigationState::setSelectedIndex(std::int64_t index) {
    selectedIndex_ = index;
    selectedIndexChanged.emit(index);
}

void NavigationState::sync(std::int64_t itemCount) {
    setSelectedIndex(0);
    maxIndex_ = itemCount - 1 < 0 ? 0 : itemCount - 1;
    if (selectedIndex_ > maxIndex_) setSelectedIndex(maxIndex_);
}

void NavigationState::moveUp() {
    if (selectedIndex_ >= 1) setSelectedIndex(selectedIndex_ - 1);
}

void NavigationState::moveDown() {
    if (selectedIndex_ < maxIndex_) setSelectedIndex(selectedIndex_ + 1);
}

void NavigationState::movePageUp() {
    if (selectedIndex_ > 0) setSelectedIndex(selectedIndex_ > pageSize_ ? selectedIndex_ - pageSize_ : 0);
}

void NavigationState::movePageDown() {
    if (selectedIndex_ < maxIndex_)
        setSelectedIndex(maxIndex_ - selectedIndex_ > pageSize_ ? selectedIndex_ + pageSize_ : maxIndex_);
}

}  // namespace quenlit
