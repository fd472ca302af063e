#include "backends/linux/DesktopEntryMatch.h"

#include <gtest/gtest.h>

namespace quenlit::linux_backend {
namespace {

struct MatchCase {
    const char* name;
    std::vector<std::pair<std::string, std::string>> classes;
    std::optional<std::filesystem::path> executable;
    std::optional<std::size_t> expected;
};

TEST(MatchDesktopEntry, PrefersTheWindowClassThenTheIdentifierThenTheProgram) {
    std::vector<platform::InstalledApplication> entries(4);
    entries[0] = {"org.gnome.Nautilus", "/a/org.gnome.Nautilus.desktop", "Files", "", "", "nautilus"};
    entries[1] = {"code", "/a/code.desktop", "Code", "", "Code", "/usr/share/code/code"};
    entries[2] = {
        "firefox-esr", "/a/firefox-esr.desktop", "Firefox", "", "", "/usr/lib/firefox-esr/firefox-esr"};
    entries[3] = {"editor", "/a/editor.desktop", "Editor", "", "", "/usr/bin/editor"};
    auto resolve = [](const std::string& program) -> std::optional<std::filesystem::path> {
        if (program == "nautilus") return std::filesystem::path("/usr/bin/nautilus");
        if (program.front() == '/') return std::filesystem::path(program);
        return std::nullopt;
    };
    const std::vector<MatchCase> cases{
        {"StartupWMClass against the class, any case", {{"code", "CODE"}}, std::nullopt, 1},
        {"StartupWMClass against the instance", {{"code", "Something"}}, std::nullopt, 1},
        {"desktop-file ID against the class", {{"Navigator", "firefox-esr"}}, std::nullopt, 2},
        {"StartupWMClass wins over the ID", {{"firefox-esr", "Code"}}, std::nullopt, 1},
        {"program found in PATH", {{"x", "Y"}}, std::filesystem::path("/usr/bin/nautilus"), 0},
        {"program by absolute path", {}, std::filesystem::path("/usr/bin/editor"), 3},
        {"no class and an unknown program",
         {{"x", "Y"}},
         std::filesystem::path("/usr/bin/other"),
         std::nullopt},
        {"nothing to go by", {}, std::nullopt, std::nullopt},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(matchDesktopEntry(entries, c.classes, c.executable, resolve), c.expected) << c.name;
    }
}

}  // namespace
}  // namespace quenlit::linux_backend
