#include "ui/IconCache.h"

#include "ui/Symbols.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>

namespace quenlit::ui {
namespace {

// Loading is spread over turns of the event loop so typing stays responsive.
constexpr int kIconsPerTurn = 8;

std::string keyOf(const IconRef& ref, int size, const QColor& color, qreal dpr) {
    return std::to_string(static_cast<int>(ref.source)) + "|" + ref.name + "|" + std::to_string(size) + "|" +
           color.name(QColor::HexArgb).toStdString() + "|" + std::to_string(dpr);
}

}  // namespace

IconCache::IconCache() {
    timer_.setSingleShot(true);
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] { loadSome(); });
}

std::optional<QPixmap> IconCache::pixmap(const IconRef& ref, int size, const QColor& symbolColor, qreal dpr) {
    const std::string key = keyOf(ref, size, symbolColor, dpr);
    if (auto it = cache_.find(key); it != cache_.end()) return it->second;
    for (const auto& r : queue_) {
        if (r.key == key) return std::nullopt;
    }
    queue_.push_back({key, ref, size, symbolColor, dpr});
    if (!timer_.isActive()) timer_.start();
    return std::nullopt;
}

QPixmap IconCache::load(const IconRef& ref, int size, const QColor& symbolColor, qreal dpr) const {
    const QString name = QString::fromStdString(ref.name);
    switch (ref.source) {
        case IconRef::Source::symbol:
            return symbolPixmap(ref.name, size, symbolColor, dpr);
        case IconRef::Source::theme: {
            QIcon icon = QIcon::fromTheme(name);
            if (!icon.isNull()) return icon.pixmap(QSize(size, size), dpr);
            break;
        }
        case IconRef::Source::file: {
            QFileInfo info(name);
            if (info.isDir()) {
                static QFileIconProvider provider;
                QIcon icon = QIcon::fromTheme("folder");
                if (icon.isNull()) icon = provider.icon(info);
                return icon.pixmap(QSize(size, size), dpr);
            }
            QIcon icon(name);
            if (!icon.isNull()) return icon.pixmap(QSize(size, size), dpr);
            break;
        }
    }
    return symbolPixmap("app.dashed", size, symbolColor, dpr);
}

void IconCache::loadSome() {
    for (int i = 0; i < kIconsPerTurn && !queue_.empty(); ++i) {
        Request r = std::move(queue_.front());
        queue_.pop_front();
        cache_[r.key] = load(r.ref, r.size, r.color, r.dpr);
    }
    if (!queue_.empty()) timer_.start();
    loaded.emit();
}

}  // namespace quenlit::ui
