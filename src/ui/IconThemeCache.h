#pragma once

// The icon-theme.cache that gtk-update-icon-cache writes into an icon theme's folder (distributions
// refresh it whenever a package installs icons): for an icon name, the theme's folders that hold a
// file of that name and which of ".png", ".svg" and ".xpm" they hold. It spares a lookup the
// three file checks in each of the theme's folders (hicolor names hundreds, nearly all empty),
// which for an icon the theme lacks would cost milliseconds.
//
// The file is mapped, not read: a lookup touches a few of its pages. A cache older than its theme
// folder or than one of the folders it lists is outdated and not used, nor is one that is
// malformed; a lookup that finds the file malformed after all answers nothing.
//
// Not thread-safe; used by the icon lookup on the main thread.

#include <QDateTime>
#include <QFile>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace quenlit::ui {

class IconThemeCache {
  public:
    enum Suffix : std::uint16_t { xpm = 1, svg = 2, png = 4 };

    struct Entry {
        int directory = 0;  // index into directories()
        std::uint16_t suffixes = 0;
    };

    // The cache of the theme folder `base`; null when there is none, or it is outdated or malformed.
    static std::unique_ptr<IconThemeCache> open(const QString& base);

    // Whether the file is still the one opened: gtk-update-icon-cache replaces it when a package
    // installs icons, and the new one is to be opened instead.
    bool isCurrent() const;

    // The folders the cache knows, relative to the theme folder ("48x48/apps").
    const QStringList& directories() const { return directories_; }
    // The folders holding an icon named `name` (none when the cache has no such icon); nullopt when
    // the cache turns out malformed after all, and cannot say.
    std::optional<std::vector<Entry>> lookup(const QString& name) const;

  private:
    IconThemeCache() = default;
    std::optional<std::uint32_t> word(std::uint64_t offset) const;
    std::optional<std::uint16_t> half(std::uint64_t offset) const;
    std::optional<QByteArray> string(std::uint64_t offset) const;

    QFile file_;
    QDateTime written_;
    const uchar* data_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint32_t hashOffset_ = 0;
    QStringList directories_;
};

}  // namespace quenlit::ui
