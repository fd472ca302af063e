#include "backends/linux/DesktopEntryMatch.h"

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string_view>
#include <system_error>

namespace quenlit::linux_backend {
namespace {

bool equalsIgnoringCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

bool classMatches(const std::vector<std::pair<std::string, std::string>>& wmClasses, std::string_view name) {
    if (name.empty()) return false;
    return std::any_of(wmClasses.begin(), wmClasses.end(), [&](const auto& wmClass) {
        return equalsIgnoringCase(wmClass.second, name) || equalsIgnoringCase(wmClass.first, name);
    });
}

std::optional<std::filesystem::path> canonicalPath(const std::filesystem::path& path) {
    std::error_code error;
    auto out = std::filesystem::canonical(path, error);
    if (error) return std::nullopt;
    return out;
}

}  // namespace

std::optional<std::size_t> matchDesktopEntry(
    const std::vector<platform::InstalledApplication>& entries,
    const std::vector<std::pair<std::string, std::string>>& wmClasses,
    const std::optional<std::filesystem::path>& executable,
    const std::function<std::optional<std::filesystem::path>(const std::string& program)>& resolve) {
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (classMatches(wmClasses, entries[i].startupWMClass)) return i;
    }
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (classMatches(wmClasses, entries[i].identifier)) return i;
    }
    if (!executable) return std::nullopt;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (entries[i].executable.empty()) continue;
        if (auto program = resolve(entries[i].executable); program && *program == *executable) return i;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> resolveProgram(const std::string& program) {
    if (program.empty()) return std::nullopt;
    if (program.find('/') != std::string::npos) return canonicalPath(program);
    const char* path = std::getenv("PATH");
    std::istringstream dirs(path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        if (dir.empty()) continue;
        if (auto found = canonicalPath(std::filesystem::path(dir) / program)) return found;
    }
    return std::nullopt;
}

std::optional<std::filesystem::path> executableOf(int pid) {
    std::error_code error;
    auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", error);
    if (error) return std::nullopt;  // gone, or another user's process
    // A program replaced on disk while running (an upgrade) still names its old file.
    std::string text = target.string();
    constexpr std::string_view deleted = " (deleted)";
    if (text.size() > deleted.size() &&
        text.compare(text.size() - deleted.size(), deleted.size(), deleted) == 0) {
        text.resize(text.size() - deleted.size());
    }
    return canonicalPath(text).value_or(std::filesystem::path(text));
}

bool processExists(int pid) {
    std::error_code error;
    return pid > 0 && std::filesystem::exists("/proc/" + std::to_string(pid), error);
}

}  // namespace quenlit::linux_backend
