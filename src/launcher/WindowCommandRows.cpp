#include "launcher/WindowCommandRows.h"

namespace quenlit {

std::optional<WindowSnap::Command> windowCommandFor(const AppItemKind& kind) {
    switch (kind.value()) {
        case AppItemKind::leftHalf:
            return WindowSnap::Command::left;
        case AppItemKind::rightHalf:
            return WindowSnap::Command::right;
        case AppItemKind::topHalf:
            return WindowSnap::Command::top;
        case AppItemKind::bottomHalf:
            return WindowSnap::Command::bottom;
        case AppItemKind::firstThird:
            return WindowSnap::Command::firstThird;
        case AppItemKind::lastTwoThirds:
            return WindowSnap::Command::lastTwoThirds;
        case AppItemKind::moveToTop:
            return WindowSnap::Command::moveToTop;
        case AppItemKind::moveToBottom:
            return WindowSnap::Command::moveToBottom;
        case AppItemKind::moveToLeft:
            return WindowSnap::Command::moveToLeft;
        case AppItemKind::moveToRight:
            return WindowSnap::Command::moveToRight;
        case AppItemKind::maximize:
            return WindowSnap::Command::maximize;
        case AppItemKind::reasonableSize:
            return WindowSnap::Command::reasonableSize;
        case AppItemKind::calculator:
        case AppItemKind::app:
        case AppItemKind::quit:
        case AppItemKind::folder:
            return std::nullopt;
    }
    return std::nullopt;
}

}  // namespace quenlit
