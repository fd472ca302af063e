#include "launcher/FolderShortcut.h"

#include "base/Paths.h"

namespace quenlit {

const FolderShortcut& FolderShortcut::downloads() {
    static const FolderShortcut shortcut{
        *Uuid::parse("5D0C2A1E-7B3F-4C8D-9E6A-0F1B2C3D4E5F"),
        "Downloads",
        XdgDirs::current().downloadsDir(),
        {"dl"},
        "arrow.down.circle.fill",
    };
    return shortcut;
}

const std::vector<FolderShortcut>& FolderShortcut::builtIns() {
    static const std::vector<FolderShortcut> list{downloads()};
    return list;
}

}  // namespace quenlit
