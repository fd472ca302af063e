#include "ui/IconTheme.h"

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

// A folder of a theme, as its index.theme describes it: the icon size it is meant for and, for
// scalable and threshold folders, the sizes it may be drawn at.
struct IconDir {
    enum class Type { fixed, scalable, threshold };
    Type type = Type::threshold;
    int size = 0;
    int scale = 1;
    int minSize = 0;
    int maxSize = 0;
    int threshold = 2;
};

// One file an icon can be drawn from.
struct IconFile {
    QString path;
    QByteArray format;  // from the file's name ("png", "xpm", "svg", ...); empty: guessed from the content
    IconDir dir;
    bool anySize = false;  // a file outside any theme folder, which suits every size
};

bool isSvg(const QByteArray& format) {
    return format == "svg" || format == "svgz";
}

// The image format a file's name gives; empty for a name that gives none Qt knows, whose format
// is then guessed from the content.
QByteArray formatOf(const QString& path) {
    static const QByteArray known[] = {"png",  "xpm", "svg",  "svgz", "jpg", "jpeg", "gif", "bmp", "ico",
                                       "webp", "tif", "tiff", "xbm",  "pbm", "pgm",  "ppm", "tga", "icns"};
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    return std::find(std::begin(known), std::end(known), suffix) != std::end(known) ? suffix : QByteArray();
}

// Whether Qt can read SVG here (the SVG image plugin is a separate package). Asked only when an
// SVG is all there is, since asking loads the plugin.
bool canReadSvg() {
    static const bool can = [] {
        QByteArray svg(R"(<svg xmlns="http://www.w3.org/2000/svg" width="1" height="1"/>)");
        QBuffer buffer(&svg);
        QImageReader reader(&buffer, "svg");
        reader.setAutoDetectImageFormat(false);
        return reader.canRead();
    }();
    return can;
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

bool matchesSize(const IconFile& file, int size, int scale) {
    if (file.anySize) return true;
    const IconDir& d = file.dir;
    if (d.scale != scale) return false;
    switch (d.type) {
        case IconDir::Type::fixed:
            return d.size == size;
        case IconDir::Type::scalable:
            return d.minSize <= size && size <= d.maxSize;
        case IconDir::Type::threshold:
            return d.size - d.threshold <= size && size <= d.size + d.threshold;
    }
    return false;
}

int sizeDistance(const IconFile& file, int size, int scale) {
    if (file.anySize) return 0;
    const IconDir& d = file.dir;
    const int wanted = size * scale;
    int low = d.size * d.scale;
    int high = low;
    if (d.type == IconDir::Type::scalable) {
        low = d.minSize * d.scale;
        high = d.maxSize * d.scale;
    } else if (d.type == IconDir::Type::threshold) {
        low = (d.size - d.threshold) * d.scale;
        high = (d.size + d.threshold) * d.scale;
    }
    if (wanted < low) return low - wanted;
    if (wanted > high) return wanted - high;
    return 0;
}

// The file to draw at `size` pixels of `scale`: the first whose folder is meant for that size,
// a picture before an SVG (drawing one loads the SVG plugin); else the nearest in size, the larger
// of two as near, since scaling down loses less than scaling up.
const IconFile* chooseFile(const std::vector<IconFile>& files, int size, int scale) {
    const IconFile* nearest[2] = {nullptr, nullptr};  // picture, SVG
    int nearestDistance[2] = {0, 0};
    for (bool svg : {false, true}) {
        for (const IconFile& f : files) {
            if (isSvg(f.format) != svg) continue;
            if (matchesSize(f, size, scale)) {
                if (!svg || canReadSvg()) return &f;
                break;
            }
            const int distance = sizeDistance(f, size, scale);
            const IconFile*& best = nearest[svg ? 1 : 0];
            if (best == nullptr || distance < nearestDistance[svg ? 1 : 0] ||
                (distance == nearestDistance[svg ? 1 : 0] &&
                 f.dir.size * f.dir.scale > best->dir.size * best->dir.scale)) {
                best = &f;
                nearestDistance[svg ? 1 : 0] = distance;
            }
        }
    }
    const bool svgNearer =
        nearest[1] != nullptr && (nearest[0] == nullptr || nearestDistance[1] < nearestDistance[0]);
    if (svgNearer && canReadSvg()) return nearest[1];
    return nearest[0];
}

// Reads the file in the format its name gives (only an unnamed format is guessed, which may
// load every image plugin), no larger than `size`: an SVG drawn at that size, a larger picture
// scaled down, a smaller one left as it is.
void prepare(QImageReader& reader, const IconFile& file) {
    reader.setFileName(file.path);
    reader.setFormat(file.format);
    reader.setAutoDetectImageFormat(file.format.isEmpty());
}

QImage readIcon(const IconFile& file, const QSize& size) {
    QImageReader reader;
    prepare(reader, file);
    if (isSvg(file.format)) {
        const QSize natural = reader.size();
        reader.setScaledSize(natural.isEmpty() ? size : natural.scaled(size, Qt::KeepAspectRatio));
    }
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > size.width() || image.height() > size.height()))
        image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

// An icon drawn from files found by the lookup, read when a size is asked for. Every mode is drawn
// as the normal one: the launcher shows no disabled or selected icons.
class FileIconEngine final : public QIconEngine {
  public:
    FileIconEngine(QString name, std::vector<IconFile> files)
        : name_(std::move(name)), files_(std::move(files)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal scale = painter->device() != nullptr ? painter->device()->devicePixelRatio() : 1.0;
        QPixmap pixmap = scaledPixmap(rect.size() * scale, mode, state, scale);
        if (pixmap.isNull()) return;
        pixmap.setDevicePixelRatio(scale);
        const QSize drawn = pixmap.deviceIndependentSize().toSize();
        painter->drawPixmap(QRect(rect.topLeft() + QPoint((rect.width() - drawn.width()) / 2,
                                                          (rect.height() - drawn.height()) / 2),
                                  drawn),
                            pixmap);
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const IconFile* file = chooseFile(files_, std::min(size.width(), size.height()), 1);
        if (file == nullptr) return {};
        if (isSvg(file->format)) return size;
        QImageReader reader;
        prepare(reader, *file);
        const QSize natural = reader.size();
        if (natural.isEmpty() || (natural.width() <= size.width() && natural.height() <= size.height()))
            return natural;
        return natural.scaled(size, Qt::KeepAspectRatio);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // `size` in device pixels, as Qt asks.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale) override {
        const int integerScale = std::max(1, static_cast<int>(std::ceil(scale)));
        const IconFile* file =
            chooseFile(files_, std::min(size.width(), size.height()) / integerScale, integerScale);
        if (file == nullptr) return {};
        return QPixmap::fromImage(readIcon(*file, size));
    }

    // The sizes the theme's folders are meant for (a scalable folder's nominal one: its pictures
    // are drawn that large); none for a file outside a theme.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const IconFile& f : files_) {
            if (!f.anySize) sizes.append(QSize(f.dir.size, f.dir.size));
        }
        return sizes;
    }

    QString iconName() override { return name_; }
    bool isNull() override { return files_.empty(); }
    QString key() const override { return QStringLiteral("QuenlitFileIcon"); }
    QIconEngine* clone() const override { return new FileIconEngine(*this); }

  private:
    QString name_;
    std::vector<IconFile> files_;
};

QIcon iconOf(const QString& name, std::vector<IconFile> files) {
    if (files.empty()) return {};
    // SVG files alone, which Qt cannot draw without the SVG plugin, count as none.
    if (std::all_of(files.begin(), files.end(), [](const IconFile& f) { return isSvg(f.format); }) &&
        !canReadSvg())
        return {};
    return QIcon(new FileIconEngine(name, std::move(files)));
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

QIcon themeIcon(const QString& name) {
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
