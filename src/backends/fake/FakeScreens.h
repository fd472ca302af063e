#pragma once

#include "platform/Screens.h"

namespace quenlit::fake {

class FakeScreens final : public platform::Screens {
  public:
    std::vector<platform::Screen> list;
    std::optional<std::size_t> mainIndex = 0;

    std::vector<platform::Screen> screens() override { return list; }
    std::optional<platform::Screen> mainScreen() override {
        if (!mainIndex || *mainIndex >= list.size()) return std::nullopt;
        return list[*mainIndex];
    }
};

}  // namespace quenlit::fake
