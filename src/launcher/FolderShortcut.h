#pragma once

#include "base/Uuid.h"

#include <filesystem>
#include <string>
#include <vector>

namespace quenlit {

struct FolderShortcut {
    Uuid id;
    std::string name;
    std::filesystem::path path;  // a directory
    std::vector<std::string> aliases;
    std::string systemSymbolName;

    // The user's download folder, named "Downloads" whatever the folder is called on disk.
    static const FolderShortcut& downloads();
    static const std::vector<FolderShortcut>& builtIns();

    bool operator==(const FolderShortcut&) const = default;
};

}  // namespace quenlit
