#pragma once

// Icons of launcher rows, resolved from their references on first use and kept. A row drawn
// before its icon is ready shows a placeholder; the icon is loaded on a later turn of the event
// loop and `loaded` asks the views to draw again, so the first frame never waits on the theme.

#include "base/Signal.h"
#include "launcher/AppItem.h"

#include <QPixmap>
#include <QTimer>

#include <deque>
#include <string>
#include <unordered_map>

namespace quenlit::ui {

class IconCache {
  public:
    IconCache();

    // The icon at `size` pixels, or nothing yet (a load is queued).
    std::optional<QPixmap> pixmap(const IconRef& ref, int size, const QColor& symbolColor, qreal dpr);
    // Resolves synchronously (for tests and screenshots).
    QPixmap load(const IconRef& ref, int size, const QColor& symbolColor, qreal dpr) const;

    Signal<> loaded;

  private:
    struct Request {
        std::string key;
        IconRef ref;
        int size;
        QColor color;
        qreal dpr;
    };
    void loadSome();

    std::unordered_map<std::string, QPixmap> cache_;
    std::deque<Request> queue_;
    QTimer timer_;
};

}  // namespace quenlit::ui
