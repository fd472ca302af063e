#include "ui/IconTheme.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <map>
#include <vector>

namespace quenlit::ui {
namespace {

// Tried in this order when no setting names an installed theme: GNOME's and KDE's own, then the
// themes other desktops ship by default.
const char* const kCommonThemes[] = {"Adwaita",  "breeze",       "Yaru",   "Papirus", "elementary",
                                     "Humanity", "gnome",        "oxygen", "Tango",   "mate",
                                     "Faenza",   "HighContrast", "hicolor"};

bool installed(const QString& theme, const QStringList& searchPaths) {
    if (theme.isEmpty() || theme.contains('/')) return false;
    for (const QString& path : searchPaths) {
        if (QFileInfo::exists(path + "/" + theme + "/index.theme")) return true;
    }
    return false;
}

// The files of a pixmap folder by the icon name they give: "mini.xterm_32x32.xpm" and
// "mini.xterm.xpm" both under "mini.xterm", with their pixel size when the name carries one. A
// folder is listed once, on the first icon not found in the theme.
struct PixmapFile {
    QString path;
    QSize size;  // empty when the name carries none
};
using PixmapIndex = std::multimap<QString, PixmapFile>;

const PixmapIndex& pixmapIndex(const QString& folder) {
    static std::map<QString, PixmapIndex> indexes;
    auto [it, added] = indexes.try_emplace(folder);
    if (!added) return it->second;
    static const QRegularExpression sized(R"(^(.+)_(\d+)x(\d+)$)");
    const QDir dir(folder);
    for (const QFileInfo& file : dir.entryInfoList({"*.png", "*.xpm", "*.svg", "*.svgz"}, QDir::Files)) {
        const QString stem = file.completeBaseName();
        const QRegularExpressionMatch m = sized.match(stem);
        if (m.hasMatch()) {
            it->second.emplace(m.captured(1), PixmapFile{file.filePath(), QSize(m.captured(2).toInt(),
                                                                                m.captured(3).toInt())});
        } else {
            it->second.emplace(stem, PixmapFile{file.filePath(), {}});
        }
        // An entry may name the file with its extension ("Icon=foo.png").
        it->second.emplace(file.fileName(), PixmapFile{file.filePath(), {}});
    }
    return it->second;
}

QIcon fromPixmapFolders(const QString& name) {
    for (const QString& folder : QIcon::fallbackSearchPaths()) {
        const auto [first, last] = pixmapIndex(folder).equal_range(name);
        if (first == last) continue;
        QIcon icon;
        for (auto it = first; it != last; ++it)
            icon.addFile(it->second.path, it->second.size);
        return icon;
    }
    return {};
}

}  // namespace

IconThemeChoice chooseIconTheme(const std::vector<IconThemeSource>& sources, const QStringList& searchPaths) {
    for (const IconThemeSource& source : sources) {
        const QString theme = QString::fromStdString(source.read ? source.read() : std::string());
        if (installed(theme, searchPaths)) return {theme, source.name};
    }
    for (const char* theme : kCommonThemes) {
        if (installed(theme, searchPaths)) return {theme, "default"};
    }
    return {"hicolor", "default"};
}

std::string kdeIconTheme(const QString& kdeGlobals) {
    if (kdeGlobals.isEmpty() || !QFileInfo(kdeGlobals).isFile()) return {};
    const QSettings settings(kdeGlobals, QSettings::IniFormat);
    return settings.value("Icons/Theme").toString().toStdString();
}

void useIconTheme(const QString& theme, const QStringList& searchPaths, const QStringList& pixmapFolders) {
    QIcon::setThemeSearchPaths(searchPaths);
    QIcon::setFallbackSearchPaths(pixmapFolders);
    QIcon::setFallbackThemeName("hicolor");
    QIcon::setThemeName(theme);
}

QStringList defaultIconSearchPaths() {
    QStringList paths;
    const QString home = QDir::homePath() + "/.icons";
    if (QFileInfo(home).isDir()) paths << home;
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString icons = data + "/icons";
        if (QFileInfo(icons).isDir() && !paths.contains(icons)) paths << icons;
    }
    return paths;
}

QStringList defaultPixmapFolders() {
    QStringList paths;
    for (const QString& data : QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation)) {
        const QString pixmaps = data + "/pixmaps";
        if (QFileInfo(pixmaps).isDir() && !paths.contains(pixmaps)) paths << pixmaps;
    }
    return paths;
}

QIcon findIcon(const QString& name) {
    if (name.isEmpty()) return {};
    if (QDir::isAbsolutePath(name)) {
        return QFileInfo(name).isFile() ? QIcon(name) : QIcon();
    }
    // Qt's loader also looks for "name.png", "name.xpm" and "name.svg" in the pixmap folders.
    QIcon icon = QIcon::fromTheme(name);
    // A theme entry Qt cannot draw (an SVG without the SVG plugin) counts as none.
    if (!icon.isNull() && !icon.pixmap(QSize(24, 24)).isNull()) return icon;
    return fromPixmapFolders(name);
}

QIcon folderIcon(const QString& path) {
    const QString folder = QDir::cleanPath(path);
    const std::pair<QStandardPaths::StandardLocation, const char*> wellKnown[] = {
        {QStandardPaths::DownloadLocation, "folder-download"},
        {QStandardPaths::DocumentsLocation, "folder-documents"},
        {QStandardPaths::MusicLocation, "folder-music"},
        {QStandardPaths::PicturesLocation, "folder-pictures"},
        {QStandardPaths::MoviesLocation, "folder-videos"},
        {QStandardPaths::DesktopLocation, "user-desktop"},
        {QStandardPaths::HomeLocation, "user-home"},
    };
    for (const auto& [location, iconName] : wellKnown) {
        const QString known = QStandardPaths::writableLocation(location);
        if (!known.isEmpty() && QDir::cleanPath(known) == folder) {
            QIcon icon = QIcon::fromTheme(iconName);
            if (!icon.isNull()) return icon;
            break;
        }
    }
    return QIcon::fromTheme("folder");
}

}  // namespace quenlit::ui
