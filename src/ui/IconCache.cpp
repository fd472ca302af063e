#include "ui/IconCache.h"

#include "base/Log.h"
#include "ui/IconTheme.h"
#include "ui/Symbols.h"

#include <malloc.h>

#include <QElapsedTimer>
#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>

namespace quenlit::ui {
namespace {

// Long enough for the rest of a showing (the first rows' icons come in several slices).
constexpr int kTrimDelayMilliseconds = 500;

// Loading is spread over turns of the event loop so typing stays responsive: each turn loads
// icons for at most this long (and at least one).
constexpr qint64 kMillisecondsPerTurn = 4;

std::string keyOf(const IconRef& ref, int size, const QColor& color, qreal dpr) {
    std::string key = std::to_string(static_cast<int>(ref.source)) + "|" + ref.name + "|" +
                      std::to_string(size) + "|" + std::to_string(dpr);
    if (ref.source == IconRef::Source::symbol) key += "|" + color.name(QColor::HexArgb).toStdString();
    return key;
}

// An application's or a folder's own icon; absent when there is none to draw.
std::optional<QPixmap> resolve(const IconRef& ref, int size, qreal dpr) {
    const QString name = QString::fromStdString(ref.name);
    QIcon icon;
    if (ref.source == IconRef::Source::file && QFileInfo(name).isDir()) {
        icon = folderIcon(name);
        if (icon.isNull()) {
            static QFileIconProvider provider;
            icon = provider.icon(QFileInfo(name));
        }
    } else {
        icon = findIcon(name);
    }
    if (icon.isNull()) return std::nullopt;
    QPixmap pixmap = icon.pixmap(QSize(size, size), dpr);
    if (pixmap.isNull()) return std::nullopt;
    return pixmap;
}

}  // namespace

IconCache::IconCache() {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] { loadSome(); });
    trimTimer_.setSingleShot(true);
    trimTimer_.setInterval(kTrimDelayMilliseconds);
    QObject::connect(&trimTimer_, &QTimer::timeout, [] { malloc_trim(0); });
}

std::optional<QPixmap> IconCache::pixmap(const IconRef& ref, int size, const QColor& symbolColor, qreal dpr) {
    const std::string key = keyOf(ref, size, symbolColor, dpr);
    if (auto it = cache_.find(key); it != cache_.end()) {
        if (it->second) return it->second;
        return pixmap(IconRef::symbol("app.dashed", ref.name), size, symbolColor, dpr);
    }
    if (queued_.insert(key).second) {
        queue_.push_back({key, ref, size, symbolColor, dpr});
        if (!timer_.isActive()) timer_.start();
    }
    return std::nullopt;
}

QPixmap IconCache::load(const IconRef& ref, int size, const QColor& symbolColor, qreal dpr) const {
    if (ref.source == IconRef::Source::symbol) return symbolPixmap(ref.name, size, symbolColor, dpr);
    if (auto found = resolve(ref, size, dpr)) return *found;
    return symbolPixmap("app.dashed", size, symbolColor, dpr);
}

void IconCache::loadSome() {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!queue_.empty()) {
        Request r = std::move(queue_.front());
        queue_.pop_front();
        queued_.erase(r.key);
        if (r.ref.source == IconRef::Source::symbol) {
            cache_[r.key] = symbolPixmap(r.ref.name, r.size, r.color, r.dpr);
        } else {
            cache_[r.key] = resolve(r.ref, r.size, r.dpr);
            if (!cache_[r.key] && reportedMissing_.insert(r.ref.name).second)
                log::write("icon: none found for " + r.ref.name + " (theme " +
                           QIcon::themeName().toStdString() + ")");
        }
        if (elapsed.elapsed() >= kMillisecondsPerTurn) break;
    }
    if (!queue_.empty()) {
        timer_.start();
    } else {
        trimTimer_.start();
    }
    loaded.emit();
}

}  // namespace quenlit::ui
