#include "ui/IconTheme.h"

#include "ui/IconFiles.h"
#include "ui/IconThemeCache.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>
#include <QRegularExpression>
#include <QSettings>
#include <QStandardPaths>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <optional>
#include <thread>
#include <tuple>
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

// index.theme is a desktop-entry style file: "[Group]" lines, then "Key=Value" lines.
using IndexGroups = std::map<QString, std::map<QString, QString>>;

IndexGroups readIndex(const QString& file) {
    IndexGroups groups;
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly)) return groups;
    std::map<QString, QString>* group = nullptr;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith('#')) continue;
        if (line.startsWith('[') && line.endsWith(']')) {
            group = &groups[line.mid(1, line.size() - 2)];
            continue;
        }
        const qsizetype equals = line.indexOf('=');
        if (group == nullptr || equals <= 0) continue;
        group->emplace(line.left(equals).trimmed(), line.mid(equals + 1).trimmed());
    }
    return groups;
}

QStringList listOf(const std::map<QString, QString>& group, const QString& key) {
    QStringList items;
    if (auto it = group.find(key); it != group.end()) {
        for (const QString& item : it->second.split(',', Qt::SkipEmptyParts)) {
            if (!item.trimmed().isEmpty()) items << item.trimmed();
        }
    }
    return items;
}

std::optional<int> numberOf(const std::map<QString, QString>& group, const QString& key) {
    auto it = group.find(key);
    if (it == group.end()) return std::nullopt;
    bool ok = false;
    const int n = it->second.toInt(&ok);
    return ok ? std::optional<int>(n) : std::nullopt;
}

// One folder a theme is installed in (a theme may be spread over several search paths).
struct ThemeBase {
    QString path;  // with a trailing "/"
    // Which of the theme's folders hold which icon, when the folder has an up-to-date cache.
    std::unique_ptr<IconThemeCache> cache;
    std::vector<int> subdirOfCached;  // the cache's folder index -> index into Theme::subdirs, or -1
    // Without a cache: which of the theme's folders exist here, looked at once rather than on
    // every lookup (hicolor names hundreds, most of them missing).
    std::vector<bool> exists;
};

struct Theme {
    // The folders the index describes, relative to a base ("48x48/apps"), in the order it lists them.
    std::vector<std::pair<QString, IconDir>> subdirs;
    std::vector<ThemeBase> bases;
    QStringList inherits;
};

// The files of a pixmap folder by the icon name they give: "mini.xterm_32x32.xpm" and
// "mini.xterm.xpm" both under "mini.xterm", with their pixel size when the name carries one. A
// folder is listed once, on the first icon not found in the theme.
struct PixmapFile {
    QString path;
    int size = 0;  // 0 when the name carries none
};
using PixmapIndex = std::multimap<QString, PixmapFile>;

struct Lookup {
    QString theme;
    QStringList searchPaths;
    QStringList pixmapFolders;
    std::map<QString, std::optional<Theme>> themes;  // absent: not installed
    std::optional<std::vector<Theme*>> chain;
    std::map<QString, PixmapIndex> pixmapIndexes;
};

Lookup& lookup() {
    static Lookup l{QIcon::themeName(), defaultIconSearchPaths(), defaultPixmapFolders(), {}, {}, {}};
    return l;
}

// The themes' indexes read ahead on another thread; every lookup waits for it first, so the
// lookup's tables are only ever touched by one thread at a time.
struct ReadingAhead {
    std::thread reading;
    ~ReadingAhead() { finish(); }
    void finish() {
        if (reading.joinable()) reading.join();
    }
};

ReadingAhead& readingAhead() {
    static ReadingAhead r;
    return r;
}

// Opens the base's cache again (at first, and after gtk-update-icon-cache replaced it); without
// one, looks once at which of the theme's folders exist there.
void useCache(ThemeBase& base, const std::vector<std::pair<QString, IconDir>>& subdirs) {
    base.cache = IconThemeCache::open(base.path.chopped(1));
    base.subdirOfCached.clear();
    base.exists.clear();
    if (base.cache) {
        QHash<QString, int> indexes;
        for (std::size_t i = 0; i < subdirs.size(); ++i)
            indexes.insert(subdirs[i].first, static_cast<int>(i));
        for (const QString& cached : base.cache->directories())
            base.subdirOfCached.push_back(indexes.value(cached, -1));
    } else {
        for (const auto& [subdir, dir] : subdirs)
            base.exists.push_back(QFileInfo(base.path + subdir).isDir());
    }
}

Theme* loadTheme(const QString& name) {
    Lookup& l = lookup();
    auto [it, added] = l.themes.try_emplace(name);
    if (!added) return it->second ? &*it->second : nullptr;
    if (name.isEmpty() || name.contains('/')) return nullptr;
    // A theme may be spread over several search paths; its index is the first one found.
    QStringList bases;
    QString index;
    for (const QString& path : l.searchPaths) {
        const QString base = path + "/" + name;
        if (!QFileInfo(base).isDir()) continue;
        bases << base;
        if (index.isEmpty() && QFileInfo::exists(base + "/index.theme")) index = base + "/index.theme";
    }
    if (index.isEmpty()) return nullptr;
    const IndexGroups groups = readIndex(index);
    const auto head = groups.find("Icon Theme");
    if (head == groups.end()) return nullptr;
    Theme theme;
    theme.inherits = listOf(head->second, "Inherits");
    QStringList subdirs = listOf(head->second, "Directories");
    for (const QString& scaled : listOf(head->second, "ScaledDirectories")) {
        if (!subdirs.contains(scaled)) subdirs << scaled;
    }
    for (const QString& subdir : subdirs) {
        const auto group = groups.find(subdir);
        if (group == groups.end()) continue;
        const std::optional<int> size = numberOf(group->second, "Size");
        if (!size || *size <= 0) continue;
        IconDir dir;
        dir.size = *size;
        dir.scale = std::max(1, numberOf(group->second, "Scale").value_or(1));
        dir.minSize = numberOf(group->second, "MinSize").value_or(*size);
        dir.maxSize = numberOf(group->second, "MaxSize").value_or(*size);
        dir.threshold = numberOf(group->second, "Threshold").value_or(2);
        const auto type = group->second.find("Type");
        if (type != group->second.end() && type->second == "Fixed") dir.type = IconDir::Type::fixed;
        if (type != group->second.end() && type->second == "Scalable") dir.type = IconDir::Type::scalable;
        theme.subdirs.emplace_back(subdir, dir);
    }
    for (const QString& path : bases) {
        ThemeBase base{path + "/", {}, {}, {}};
        useCache(base, theme.subdirs);
        theme.bases.push_back(std::move(base));
    }
    it->second = std::move(theme);
    return &*it->second;
}

// The user's theme, the themes it inherits (depth first, each once), then hicolor.
const std::vector<Theme*>& themeChain() {
    Lookup& l = lookup();
    if (l.chain) return *l.chain;
    std::vector<Theme*> chain;
    QStringList visited;
    const auto visit = [&](const QString& name, const auto& self) -> void {
        if (visited.contains(name)) return;
        visited << name;
        Theme* theme = loadTheme(name);
        if (theme == nullptr) return;
        chain.push_back(theme);
        for (const QString& parent : theme->inherits)
            self(parent, self);
    };
    visit(l.theme, visit);
    visit("hicolor", visit);
    l.chain = std::move(chain);
    return *l.chain;
}

// The theme's files for `name`, one per folder that has it (PNG before SVG before XPM), folder
// by folder in the order of the index, and for each folder base by base.
std::vector<IconFile> filesInTheme(Theme& theme, const QString& name) {
    struct Found {
        std::size_t subdir;
        std::size_t base;
        const char* format;
    };
    std::vector<Found> found;
    for (std::size_t b = 0; b < theme.bases.size(); ++b) {
        ThemeBase& base = theme.bases[b];
        if (base.cache && !base.cache->isCurrent()) useCache(base, theme.subdirs);
        std::optional<std::vector<IconThemeCache::Entry>> cached;
        if (base.cache) cached = base.cache->lookup(name);
        if (cached) {
            for (const IconThemeCache::Entry& entry : *cached) {
                const int subdir = base.subdirOfCached[static_cast<std::size_t>(entry.directory)];
                const char* format = (entry.suffixes & IconThemeCache::png)   ? "png"
                                     : (entry.suffixes & IconThemeCache::svg) ? "svg"
                                     : (entry.suffixes & IconThemeCache::xpm) ? "xpm"
                                                                              : nullptr;
                if (subdir >= 0 && format != nullptr)
                    found.push_back({static_cast<std::size_t>(subdir), b, format});
            }
            continue;
        }
        // No cache, or one that turned out malformed: every folder is looked in.
        for (std::size_t s = 0; s < theme.subdirs.size(); ++s) {
            if (base.cache == nullptr && !base.exists[s]) continue;
            for (const char* format : {"png", "svg", "xpm"}) {
                if (QFileInfo::exists(base.path + theme.subdirs[s].first + "/" + name + "." + format)) {
                    found.push_back({s, b, format});
                    break;
                }
            }
        }
    }
    std::sort(found.begin(), found.end(), [](const Found& x, const Found& y) {
        return std::tie(x.subdir, x.base) < std::tie(y.subdir, y.base);
    });
    std::vector<IconFile> files;
    for (const Found& f : found) {
        files.push_back(
            {theme.bases[f.base].path + theme.subdirs[f.subdir].first + "/" + name + "." + f.format, f.format,
             theme.subdirs[f.subdir].second, false});
    }
    return files;
}

std::vector<IconFile> filesInThemes(const QString& name) {
    for (Theme* theme : themeChain()) {
        std::vector<IconFile> files = filesInTheme(*theme, name);
        if (!files.empty()) return files;
    }
    return {};
}

// "name.png", "name.xpm" or "name.svg" in the first pixmap folder that has one.
std::vector<IconFile> filesInPixmapFolders(const QString& name) {
    for (const QString& folder : lookup().pixmapFolders) {
        for (const char* format : {"png", "xpm", "svg"}) {
            const QString path = folder + "/" + name + "." + format;
            if (QFileInfo::exists(path)) return {IconFile{path, format, {}, true}};
        }
    }
    return {};
}

const PixmapIndex& pixmapIndex(const QString& folder) {
    auto [it, added] = lookup().pixmapIndexes.try_emplace(folder);
    if (!added) return it->second;
    static const QRegularExpression sized(R"(^(.+)_(\d+)x(\d+)$)");
    const QDir dir(folder);
    for (const QFileInfo& file : dir.entryInfoList({"*.png", "*.xpm", "*.svg", "*.svgz"}, QDir::Files)) {
        const QString stem = file.completeBaseName();
        const QRegularExpressionMatch m = sized.match(stem);
        if (m.hasMatch()) {
            it->second.emplace(m.captured(1), PixmapFile{file.filePath(), m.captured(2).toInt()});
        } else {
            it->second.emplace(stem, PixmapFile{file.filePath(), 0});
        }
        // An entry may name the file with its extension ("Icon=foo.png").
        it->second.emplace(file.fileName(), PixmapFile{file.filePath(), 0});
    }
    return it->second;
}

// The files a pixmap folder has under `name` in any size or with any extension.
std::vector<IconFile> filesInPixmapIndexes(const QString& name) {
    for (const QString& folder : lookup().pixmapFolders) {
        const auto [first, last] = pixmapIndex(folder).equal_range(name);
        if (first == last) continue;
        std::vector<IconFile> files;
        for (auto it = first; it != last; ++it) {
            IconFile file{it->second.path, formatOf(it->second.path), {}, it->second.size == 0};
            file.dir.type = IconDir::Type::fixed;
            file.dir.size = file.dir.minSize = file.dir.maxSize = it->second.size;
            files.push_back(std::move(file));
        }
        return files;
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
    readingAhead().finish();
    lookup() = Lookup{theme, searchPaths, pixmapFolders, {}, {}, {}};
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

void readIconThemeAhead() {
    readingAhead().finish();
    (void)lookup();  // the theme's name is Qt's, asked on this thread
    readingAhead().reading = std::thread([] { (void)themeChain(); });
}

QIcon themeIcon(const QString& name) {
    readingAhead().finish();
    if (name.isEmpty()) return {};
    std::vector<IconFile> files = filesInThemes(name);
    if (files.empty()) files = filesInPixmapFolders(name);
    // "network-wireless-signal-good" drawn as "network-wireless" when the theme has no such
    // variant, as desktops do; only after every exact match was looked for.
    for (QString generic = name; files.empty() && generic.lastIndexOf('-') > 0;) {
        generic.truncate(generic.lastIndexOf('-'));
        files = filesInThemes(generic);
    }
    return iconOf(name, std::move(files));
}

QIcon findIcon(const QString& name) {
    readingAhead().finish();
    if (name.isEmpty()) return {};
    if (QDir::isAbsolutePath(name)) {
        if (!QFileInfo(name).isFile()) return {};
        return iconOf(name, {IconFile{name, formatOf(name), {}, true}});
    }
    QIcon icon = themeIcon(name);
    if (!icon.isNull()) return icon;
    return iconOf(name, filesInPixmapIndexes(name));
}

QIcon folderIcon(const QString& path) {
    readingAhead().finish();
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
            QIcon icon = themeIcon(iconName);
            if (!icon.isNull()) return icon;
            break;
        }
    }
    return themeIcon("folder");
}

}  // namespace quenlit::ui
