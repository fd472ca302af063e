#pragma once

// Finding the icon a desktop entry names, the way freedesktop desktops and other launchers do: an
// absolute file as it is; otherwise the user's icon theme, the themes it inherits and hicolor, each
// described by its index.theme (and its icon-theme.cache while that is up to date); then the pixmap
// folders, where many older programs put "name.xpm" or "name_32x32.xpm".
//
// The lookup is our own rather than QIcon::fromTheme: Qt's reads each file with the image format
// guessed, which loads every image-format plugin of the system (JPEG, TIFF, WebP, ... about 1.4 MB
// resident) before it reaches its built-in PNG reader. Here a file is read in the format its name
// gives, so PNG and XPM need no plugin at all and only an SVG loads the SVG one.
//
// Main thread only: the themes' indexes are read once (ahead, on another thread, when
// readIconThemeAhead is called) and kept until useIconTheme is called again; a theme's cache, once
// replaced (a package installed icons), is opened again.

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

// Makes `theme` (hicolor behind it) the theme looked in, with the theme folders and the pixmap
// folders; Qt's own icon loader is pointed at the same, for the icons Qt's widgets draw themselves.
void useIconTheme(const QString& theme, const QStringList& searchPaths, const QStringList& pixmapFolders);

// The icon theme folders of this user and system ($HOME/.icons, then icons/ under the XDG data
// folders), and the pixmap folders (/usr/share/pixmaps and the like), as far as they exist.
QStringList defaultIconSearchPaths();
// Reads the theme's and its parents' indexes on another thread, while the program sets up the rest;
// the first lookup waits for it.
void readIconThemeAhead();
QStringList defaultPixmapFolders();

// The icon a desktop entry's Icon= value names (a theme name, a file name in a pixmap folder with
// or without an extension or size suffix, or an absolute path); null when there is none. Files are
// read when a pixmap is asked for, the one whose size suits it best.
QIcon findIcon(const QString& name);

// The theme's icon of that name (the theme, the themes it inherits, hicolor, then "name.png",
// "name.xpm" or "name.svg" in a pixmap folder); null when there is none.
QIcon themeIcon(const QString& name);

// A folder's icon: the theme's icon for the user's well-known folders (Downloads, Documents, the
// home folder, ...), else the theme's folder icon; null when the theme has neither.
QIcon folderIcon(const QString& path);

}  // namespace quenlit::ui
