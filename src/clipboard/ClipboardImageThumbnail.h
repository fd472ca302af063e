#pragma once

// Downsampled pictures of image items for the clipboard panel: small ones for the history rows,
// large ones for the preview pane, decoded off the main thread and kept in two memory caches
// bounded by their decoded size.

#include "base/CostBoundedCache.h"
#include "platform/ImageCodec.h"
#include "platform/Scheduler.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <string>

namespace quenlit {

class ClipboardThumbnailCache {
  public:
    using Cache = CostBoundedCache<std::string, platform::Bitmap>;

    // 8 MiB of decoded pixels per cache.
    static constexpr std::size_t kCostLimit = 8388608;
    // Requests up to this largest side are row pictures; larger ones are previews.
    static constexpr int kRowMaxPixel = 128;

    Cache rows{kCostLimit};
    Cache previews{kCostLimit};

    // "<path>#<maxPixel>".
    static std::string key(const std::string& path, int maxPixel);
    // rows for maxPixel up to 128, previews above.
    Cache& cacheFor(int maxPixel);
};

namespace ClipboardImageThumbnail {

// The process's one cache, created on first use. The clipboard panel empties its previews whenever
// it hides; the rows go only by eviction.
ClipboardThumbnailCache& cache();

// The file's picture with its orientation applied and its larger side at most maxPixel, decoded at
// once on the calling thread; nothing when the file cannot be read or decoded.
std::optional<platform::Bitmap> downsample(const std::string& path, int maxPixel,
                                           platform::ImageCodec& codec);

using Completion = std::function<void(std::optional<platform::Bitmap>)>;

// The picture of `path` at `maxPixel`, from `thumbnails` when it holds one: then `completion` runs
// at once, on the calling thread. Otherwise, unless `cancellation` is already cancelled (then
// `completion` gets nothing at once, and nothing is decoded), the picture is decoded on a
// background task, stored in the cache, and handed to `completion` on the main queue. Cancelling
// the returned handle drops that hand-back (and the decode, when it has not started yet).
platform::TaskHandle loadAsync(const std::string& path, int maxPixel, Completion completion,
                               platform::Scheduler& scheduler, platform::ImageCodec& codec,
                               const platform::TaskHandle& cancellation = {},
                               ClipboardThumbnailCache& thumbnails = cache());

}  // namespace ClipboardImageThumbnail

}  // namespace quenlit
