#pragma once

// Which desktop entry a running program belongs to, from what its windows call themselves (the X
// window class, the Wayland app id) or, failing that, from its executable. Shared by the display
// backends, which each read those names their own way.

#include "platform/Workspace.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace quenlit::linux_backend {

// The desktop entry of a running application, by index into `entries`: the first entry whose
// StartupWMClass equals one of the window names (each an (instance, class) pair, ignoring ASCII
// case), else the first whose desktop-file ID does, else the first whose Exec program, resolved
// through `resolveProgram`, is the process's executable. Absent when none fits.
std::optional<std::size_t> matchDesktopEntry(
    const std::vector<platform::InstalledApplication>& entries,
    const std::vector<std::pair<std::string, std::string>>& wmClasses,
    const std::optional<std::filesystem::path>& executable,
    const std::function<std::optional<std::filesystem::path>(const std::string& program)>& resolveProgram);

// The canonical path of an Exec program: a path as written, a bare name looked up in PATH.
std::optional<std::filesystem::path> resolveProgram(const std::string& program);

// The program a process runs (/proc/PID/exe); absent when it is gone or another user's.
std::optional<std::filesystem::path> executableOf(int processIdentifier);

bool processExists(int processIdentifier);

}  // namespace quenlit::linux_backend
