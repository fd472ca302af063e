#pragma once

// Finding the icon a desktop entry names, the way freedesktop desktops and other launchers do: an
// absolute file as it is; otherwise the user's icon theme, the themes it inherits and hicolor
// (Qt's icon loader walks that chain and reads the themes' caches); then the pixmap folders, where
// many older programs put "name.xpm" or "name_32x32.xpm".

#include <QIcon>
#include <QString>
#include <QStringList>

#include <functional>
#include <string>
#include <vector>

namespace quenlit::ui {

// A place that may name the user's icon theme ("XSETTINGS", "GNOME", "KDE"), read only when the
// places before it name no installed theme; empty when it names none.
struct IconThemeSource {
    std::string name;
    std::function<std::string()> read;
};

struct IconThemeChoice {
    QString name;
    std::string source;  // the source's name, or "default"
};

// The first theme named by the sources that is installed under `searchPaths`, else the first
// installed of the common themes, else hicolor.
IconThemeChoice chooseIconTheme(const std::vector<IconThemeSource>& sources, const QStringList& searchPaths);

// The theme KDE's settings file (kdeglobals, [Icons] Theme=) names; empty when none.
std::string kdeIconTheme(const QString& kdeGlobals);

// Points Qt's icon loader at `theme` (hicolor behind it), the theme folders and the pixmap folders.
void useIconTheme(const QString& theme, const QStringList& searchPaths, const QStringList& pixmapFolders);

// The icon theme folders of this user and system ($HOME/.icons, then icons/ under the XDG data
// folders), and the pixmap folders (/usr/share/pixmaps and the like), as far as they exist.
QStringList defaultIconSearchPaths();
QStringList defaultPixmapFolders();

// The icon a desktop entry's Icon= value names (a theme name, a file name in a pixmap folder with
// or without an extension or size suffix, or an absolute path); null when there is none.
QIcon findIcon(const QString& name);

// A folder's icon: the theme's icon for the user's well-known folders (Downloads, Documents, the
// home folder, ...), else the theme's folder icon; null when the theme has neither.
QIcon folderIcon(const QString& path);

}  // namespace quenlit::ui
