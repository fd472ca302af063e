#include "ui/IconThemeCache.h"

#include <QFileInfo>

#include <cstring>

namespace quenlit::ui {
namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFF;

// GTK's hash of an icon name, which sign-extends each byte as GTK's own does.
std::uint32_t nameHash(const QByteArray& name) {
    const auto byte = [&](qsizetype i) {
        return static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(name[i])));
    };
    if (name.isEmpty()) return 0;
    std::uint32_t h = byte(0);
    for (qsizetype i = 1; i < name.size(); ++i)
        h = (h << 5) - h + byte(i);
    return h;
}

}  // namespace

std::unique_ptr<IconThemeCache> IconThemeCache::open(const QString& base) {
    const QFileInfo info(base + "/icon-theme.cache");
    if (!info.isFile()) return nullptr;
    const QDateTime written = info.lastModified();
    if (QFileInfo(base).lastModified() > written) return nullptr;
    std::unique_ptr<IconThemeCache> cache(new IconThemeCache);
    cache->file_.setFileName(info.filePath());
    if (!cache->file_.open(QIODevice::ReadOnly) || cache->file_.size() < 12) return nullptr;
    cache->size_ = static_cast<std::uint64_t>(cache->file_.size());
    cache->data_ = cache->file_.map(0, cache->file_.size());
    if (cache->data_ == nullptr) return nullptr;
    if (cache->half(0) != 1u || cache->half(2) != 0u) return nullptr;  // version 1.0
    const std::optional<std::uint32_t> hash = cache->word(4);
    const std::optional<std::uint32_t> list = cache->word(8);
    if (!hash || !list) return nullptr;
    const std::optional<std::uint32_t> buckets = cache->word(*hash);
    const std::optional<std::uint32_t> count = cache->word(*list);
    if (!buckets || *buckets == 0 || !cache->word(*hash + 4ull * *buckets)) return nullptr;
    if (!count || *count > cache->size_ / 4) return nullptr;
    for (std::uint32_t i = 0; i < *count; ++i) {
        const std::optional<std::uint32_t> offset = cache->word(*list + 4ull + 4ull * i);
        const std::optional<QByteArray> name = offset ? cache->string(*offset) : std::nullopt;
        if (!name) return nullptr;
        cache->directories_ << QString::fromUtf8(*name);
        // A folder changed after the cache was written may hold icons the cache does not know.
        const QFileInfo folder(base + "/" + cache->directories_.back());
        if (folder.exists() && folder.lastModified() > written) return nullptr;
    }
    cache->hashOffset_ = *hash;
    cache->written_ = written;
    return cache;
}

bool IconThemeCache::isCurrent() const {
    return QFileInfo(file_.fileName()).lastModified() == written_;
}

std::optional<std::vector<IconThemeCache::Entry>> IconThemeCache::lookup(const QString& name) const {
    const QByteArray key = name.toUtf8();
    const std::optional<std::uint32_t> buckets = word(hashOffset_);
    if (!buckets || *buckets == 0) return std::nullopt;
    std::optional<std::uint32_t> icon = word(hashOffset_ + 4ull + 4ull * (nameHash(key) % *buckets));
    // Every icon record takes 12 bytes: a longer chain goes round in a loop.
    for (std::uint64_t steps = 0; icon && *icon != kNone; ++steps) {
        if (steps > size_ / 12) return std::nullopt;
        const std::optional<std::uint32_t> next = word(*icon);
        const std::optional<std::uint32_t> nameOffset = word(*icon + 4ull);
        const std::optional<std::uint32_t> images = word(*icon + 8ull);
        const std::optional<QByteArray> iconName = nameOffset ? string(*nameOffset) : std::nullopt;
        if (!next || !images || !iconName) return std::nullopt;
        if (*iconName != key) {
            icon = next;
            continue;
        }
        const std::optional<std::uint32_t> count = word(*images);
        if (!count || *count > size_ / 8) return std::nullopt;
        std::vector<Entry> entries;
        for (std::uint32_t i = 0; i < *count; ++i) {
            const std::optional<std::uint16_t> directory = half(*images + 4ull + 8ull * i);
            const std::optional<std::uint16_t> flags = half(*images + 6ull + 8ull * i);
            if (!directory || !flags || *directory >= directories_.size()) return std::nullopt;
            entries.push_back({*directory, static_cast<std::uint16_t>(*flags & (xpm | svg | png))});
        }
        return entries;
    }
    if (!icon) return std::nullopt;
    return std::vector<Entry>();
}

std::optional<std::uint32_t> IconThemeCache::word(std::uint64_t offset) const {
    if (offset + 4 > size_) return std::nullopt;
    const uchar* p = data_ + offset;
    return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

std::optional<std::uint16_t> IconThemeCache::half(std::uint64_t offset) const {
    if (offset + 2 > size_) return std::nullopt;
    const uchar* p = data_ + offset;
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}

std::optional<QByteArray> IconThemeCache::string(std::uint64_t offset) const {
    if (offset >= size_) return std::nullopt;
    const auto* start = reinterpret_cast<const char*>(data_ + offset);
    const void* end = std::memchr(start, '\0', size_ - offset);
    if (end == nullptr) return std::nullopt;
    return QByteArray(start, static_cast<const char*>(end) - start);
}

}  // namespace quenlit::ui
