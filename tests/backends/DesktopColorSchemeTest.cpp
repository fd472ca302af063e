#include "backends/linux/DesktopColorScheme.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace quenlit::linux_backend {
namespace {

TEST(DesktopColorScheme, ThePortalDecidesElseGtkElseKde) {
    struct Case {
        const char* name;
        ColorSchemeHints hints;
        bool dark;
    };
    const auto with = [](auto fill) {
        ColorSchemeHints h;
        fill(h);
        return h;
    };
    const std::vector<Case> cases{
        {"nothing tells: light", {}, false},
        {"the portal prefers dark", with([](auto& h) { h.portal = 1; }), true},
        {"the portal prefers light over a dark GTK theme", with([](auto& h) {
             h.portal = 2;
             h.gtkThemeVariable = "Adwaita:dark";
         }),
         false},
        {"the portal has no preference: GTK_THEME counts", with([](auto& h) {
             h.portal = 0;
             h.gtkThemeVariable = "Adwaita:dark";
         }),
         true},
        {"GTK_THEME names a light theme over a dark GNOME scheme", with([](auto& h) {
             h.gtkThemeVariable = "Adwaita";
             h.gnomeColorScheme = "prefer-dark";
         }),
         false},
        {"GNOME prefers dark", with([](auto& h) { h.gnomeColorScheme = "prefer-dark"; }), true},
        {"GNOME's default with a -dark theme", with([](auto& h) {
             h.gnomeColorScheme = "default";
             h.gtkThemeName = "Adwaita-dark";
         }),
         true},
        {"a theme name in capitals", with([](auto& h) { h.gtkThemeName = "Yaru-Dark"; }), true},
        {"GNOME prefers light over a -dark theme", with([](auto& h) {
             h.gnomeColorScheme = "prefer-light";
             h.gtkThemeName = "Adwaita-dark";
         }),
         false},
        {"GTK's dark preference", with([](auto& h) { h.gtkPreferDark = true; }), true},
        {"a dark KDE window colour (Breeze Dark)", with([](auto& h) {
             h.kdeWindowBackground = std::array<int, 3>{32, 35, 38};
         }),
         true},
        {"a light KDE window colour (Breeze)", with([](auto& h) {
             h.kdeWindowBackground = std::array<int, 3>{239, 240, 241};
         }),
         false},
        {"a theme called Darkness is not a -dark variant", with([](auto& h) { h.gtkThemeName = "Darkness"; }),
         false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(prefersDark(c.hints), c.dark);
    }
}

TEST(DesktopColorScheme, ReadsGtkAndKdeSettingsFiles) {
    testing::TempDir dir;
    const std::string config = (dir.path() / "config").string();
    std::filesystem::create_directories(dir.path() / "config" / "gtk-3.0");
    std::ofstream(dir.path() / "config" / "gtk-3.0" / "settings.ini")
        << "[Settings]\ngtk-application-prefer-dark-theme=1\ngtk-theme-name=Adwaita\n";
    std::ofstream(dir.path() / "config" / "kdeglobals") << "[Colors:Window]\nBackgroundNormal=32,35,38\n";
    const char* savedConfig = std::getenv("XDG_CONFIG_HOME");
    const std::string saved = savedConfig != nullptr ? savedConfig : "";
    const char* savedTheme = std::getenv("GTK_THEME");
    const std::string savedThemeValue = savedTheme != nullptr ? savedTheme : "";
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("GTK_THEME", "Adwaita:dark", 1);

    const ColorSchemeHints hints = readLocalColorSchemeHints(std::string("Adwaita"));
    EXPECT_EQ(hints.gtkThemeVariable, "Adwaita:dark");
    EXPECT_EQ(hints.gtkThemeName, "Adwaita");
    EXPECT_EQ(hints.gtkPreferDark, true);
    EXPECT_EQ(hints.kdeWindowBackground, (std::array<int, 3>{32, 35, 38}));
    EXPECT_TRUE(prefersDark(hints));

    if (savedConfig != nullptr) {
        ::setenv("XDG_CONFIG_HOME", saved.c_str(), 1);
    } else {
        ::unsetenv("XDG_CONFIG_HOME");
    }
    if (savedTheme != nullptr) {
        ::setenv("GTK_THEME", savedThemeValue.c_str(), 1);
    } else {
        ::unsetenv("GTK_THEME");
    }
}

}  // namespace
}  // namespace quenlit::linux_backend
