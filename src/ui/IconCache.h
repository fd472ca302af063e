#pragma once

// Icons of launcher rows, resolved from their references on first use and kept. A row drawn
// before its icon is ready shows a placeholder; the icon is loaded on a later turn of the event
// loop and `loaded` asks the views to draw again, so the first frame never waits on the theme.
// Only rows that are drawn ask for their icons, so the visible rows load first.

#include "base/Signal.h"
#include "launcher/AppItem.h"

#include <QPixmap>
#include <QTimer>

#include <deque>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace quenlit::ui {

class IconCache {
  public:
    IconCache();

    // The icon at `size` pixels, or nothing yet (a load is queued). An application icon the
    // theme does not have is drawn as the placeholder symbol in `symbolColor`.
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

    // Symbols by colour too; application and folder icons by name and size alone (absent when
    // there is none, so the placeholder is drawn).
    std::unordered_map<std::string, std::optional<QPixmap>> cache_;
    std::deque<Request> queue_;
    std::unordered_set<std::string> queued_;
    std::unordered_set<std::string> reportedMissing_;
    QTimer timer_;
    // Decoding icons (an SVG rendered, a large PNG scaled down) leaves megabytes of freed heap
    // that the program's allocator settings keep for keystrokes; once a batch of icons is done
    // they are handed back to the system.
    QTimer trimTimer_;
};

}  // namespace quenlit::ui
