#pragma once

// The selection of a panel's list: which row is selected and how far the selection may go.
// Observers hear of every assignment of selectedIndex, before the views read it again.

#include "base/Signal.h"

#include <cstdint>

namespace quenlit {

class NavigationState {
  public:
    std::int64_t selectedIndex() const { return selectedIndex_; }
    std::int64_t maxIndex() const { return maxIndex_; }

    // Every assignment notifies, even of the same value.
    void setSelectedIndex(std::int64_t index);
    void setMaxIndex(std::int64_t index) { maxIndex_ = index; }

    // Back to the first row, with the bound of a list of `itemCount` rows.
    void sync(std::int64_t itemCount);
    void moveUp();
    void moveDown();

    // Rows the list shows whole at once, told by the list view whenever its height changes; a
    // page move goes this far, stopping at the first or last row. One until the view says.
    std::int64_t pageSize() const { return pageSize_; }
    void setPageSize(std::int64_t rows) { pageSize_ = rows < 1 ? 1 : rows; }
    void movePageUp();
    void movePageDown();

    // Emitted with the new value after every assignment of selectedIndex.
    Signal<std::int64_t> selectedIndexChanged;

  private:
    std::int64_t selectedIndex_ = 0;
    std::int64_t maxIndex_ = 0;
    std::int64_t pageSize_ = 1;
};

}  // namespace quenlit
