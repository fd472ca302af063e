#pragma once

// Whether the desktop asks for dark colours, and when that changes. The freedesktop Settings
// portal answers on GNOME, KDE and most others, and announces changes; without it (or when it has
// no preference) GTK's and KDE's own settings are read once: the GTK_THEME variable, GNOME's
// colour scheme and theme name, the XSETTINGS theme name, GTK's settings.ini, KDE's window colour.
//
// Main thread only: the portal's answers and signals arrive through the GLib main context, which
// Qt's event loop runs.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace quenlit::linux_backend {

struct ColorSchemeHints {
    // org.freedesktop.appearance color-scheme: 0 no preference, 1 prefer dark, 2 prefer light.
    std::optional<std::uint32_t> portal;
    std::optional<std::string> gtkThemeVariable;            // GTK_THEME, "Adwaita:dark"
    std::optional<std::string> gnomeColorScheme;            // "prefer-dark", "prefer-light", "default"
    std::optional<std::string> gtkThemeName;                // GNOME's gtk-theme or XSETTINGS Net/ThemeName
    std::optional<bool> gtkPreferDark;                      // gtk-application-prefer-dark-theme
    std::optional<std::array<int, 3>> kdeWindowBackground;  // kdeglobals [Colors:Window] BackgroundNormal
};

// The decision, in that order of trust: the portal's preference, then GTK_THEME, GNOME's colour
// scheme, a theme whose name ends in "-dark" or ":dark", GTK's dark preference, a dark KDE window
// colour; light when nothing tells.
bool prefersDark(const ColorSchemeHints& hints);

// Everything but the portal, from the environment and the user's files. `xsettingsThemeName` is
// the XSETTINGS manager's Net/ThemeName where there is one.
ColorSchemeHints readLocalColorSchemeHints(std::optional<std::string> xsettingsThemeName);

class DesktopColorScheme {
  public:
    // Reads the local settings at once and asks the portal; `changed` runs on the main thread
    // whenever the answer (dark or not) changes, the portal's first reply included.
    DesktopColorScheme(std::optional<std::string> xsettingsThemeName, std::function<void(bool dark)> changed);
    ~DesktopColorScheme();
    DesktopColorScheme(const DesktopColorScheme&) = delete;
    DesktopColorScheme& operator=(const DesktopColorScheme&) = delete;

    bool dark() const;

    struct Portal;

  private:
    void portalSaid(std::uint32_t value);

    ColorSchemeHints hints_;
    std::function<void(bool)> changed_;
    bool dark_ = false;
    std::unique_ptr<Portal> portal_;
};

}  // namespace quenlit::linux_backend
