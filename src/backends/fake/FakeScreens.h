#pragma once

#include "platform/Screens.h"

namespace quenlit::fake {

class FakeScreens final : public platform::Screens {
  public:
    std::vector<platform::Screen> list;
    std::optional<std::size_t> mainIndex = 0;
    // The monitor of the focused window or the pointer; unset means the primary one.
    std::optional<std::size_t> activeIndex;

    std::vector<platform::Screen> screens() override { return list; }
    std::optional<platform::Screen> mainScreen() override {
        if (!mainIndex || *mainIndex >= list.size()) return std::nullopt;
        return list[*mainIndex];
    }
    std::optional<platform::Screen> activeScreen() override {
        if (activeIndex && *activeIndex < list.size()) return list[*activeIndex];
        return mainScreen();
    }
};

}  // namespace quenlit::fake
