#include "backends/sway/SwayScreens.h"

#include <algorithm>

namespace quenlit::sway {

std::optional<SwayOutput> primaryOutput(const std::vector<SwayOutput>& outputs) {
    const auto atOrigin = std::find_if(outputs.begin(), outputs.end(), [](const SwayOutput& output) {
        return output.active && output.rect.x == 0 && output.rect.y == 0;
    });
    if (atOrigin != outputs.end()) return *atOrigin;
    const auto active =
        std::find_if(outputs.begin(), outputs.end(), [](const SwayOutput& output) { return output.active; });
    if (active != outputs.end()) return *active;
    return std::nullopt;
}

std::vector<platform::Screen> screensFrom(const std::vector<SwayOutput>& outputs) {
    const auto primary = primaryOutput(outputs);
    if (!primary) return {};
    const platform::Point origin = primary->rect.origin();
    const double h0 = primary->rect.height;
    auto convert = [&](const platform::Rect& r) {
        return platform::Rect{r.x - origin.x, h0 - (r.y - origin.y + r.height), r.width, r.height};
    };
    auto screenOf = [&](const SwayOutput& output) {
        // A workspace without a rectangle (none shown yet) leaves the whole output free.
        const platform::Rect usable =
            output.usable.width > 0 && output.usable.height > 0 ? output.usable : output.rect;
        return platform::Screen{convert(output.rect), convert(usable)};
    };
    std::vector<platform::Screen> out{screenOf(*primary)};
    for (const SwayOutput& output : outputs) {
        if (output.active && output.name != primary->name) out.push_back(screenOf(output));
    }
    return out;
}

std::optional<platform::Screen> focusedScreen(const std::vector<SwayOutput>& outputs) {
    const auto all = screensFrom(outputs);
    if (all.empty()) return std::nullopt;
    const auto primary = primaryOutput(outputs);
    // screensFrom lists the primary output first, then the other active ones in sway's order.
    std::size_t index = 1;
    for (const SwayOutput& output : outputs) {
        if (!output.active || output.name == primary->name) continue;
        if (output.focused && index < all.size()) return all[index];
        ++index;
    }
    return all.front();
}

platform::Point accessibilityOrigin(const std::vector<SwayOutput>& outputs) {
    const auto primary = primaryOutput(outputs);
    return primary ? primary->rect.origin() : platform::Point{};
}

platform::Rect layoutToAccessibility(const platform::Rect& layout, platform::Point origin) {
    return {layout.x - origin.x, layout.y - origin.y, layout.width, layout.height};
}

platform::Point accessibilityToLayout(platform::Point point, platform::Point origin) {
    return {point.x + origin.x, point.y + origin.y};
}

SwayScreens::SwayScreens(SwayIpc& sway) : sway_(sway) {}

std::vector<platform::Screen> SwayScreens::screens() {
    const auto outputs = sway_.outputs();
    if (!outputs) return {};
    return screensFrom(*outputs);
}

std::optional<platform::Screen> SwayScreens::mainScreen() {
    auto all = screens();
    if (all.empty()) return std::nullopt;
    return all.front();
}

std::optional<platform::Screen> SwayScreens::activeScreen() {
    const auto outputs = sway_.outputs();
    if (!outputs) return std::nullopt;
    return focusedScreen(*outputs);
}

}  // namespace quenlit::sway
