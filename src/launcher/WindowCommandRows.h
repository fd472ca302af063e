#pragma once

// Which of the twelve window commands a launcher row stands for.

#include "automation/WindowSnap.h"
#include "launcher/AppItem.h"

#include <optional>

namespace quenlit {

// The command of a window-command launcher row; absent for every other kind of row.
std::optional<WindowSnap::Command> windowCommandFor(const AppItemKind& kind);

}  // namespace quenlit
