#include "clipboard/ClipboardImageThumbnail.h"

#include <memory>
#include <utility>

namespace quenlit {

std::string ClipboardThumbnailCache::key(const std::string& path, int maxPixel) {
    return path + "#" + std::to_string(maxPixel);
}

ClipboardThumbnailCache::Cache& ClipboardThumbnailCache::cacheFor(int maxPixel) {
    return maxPixel <= kRowMaxPixel ? rows : previews;
}

namespace ClipboardImageThumbnail {

ClipboardThumbnailCache& cache() {
    static ClipboardThumbnailCache shared;
    return shared;
}

std::optional<platform::Bitmap> downsample(const std::string& path, int maxPixel,
                                           platform::ImageCodec& codec) {
    if (maxPixel < 1) return std::nullopt;
    return codec.downsample(path, maxPixel);
}

platform::TaskHandle loadAsync(const std::string& path, int maxPixel, Completion completion,
                               platform::Scheduler& scheduler, platform::ImageCodec& codec,
                               const platform::TaskHandle& cancellation,
                               ClipboardThumbnailCache& thumbnails) {
    const std::string key = ClipboardThumbnailCache::key(path, maxPixel);
    if (auto cached = thumbnails.cacheFor(maxPixel).get(key)) {
        completion(std::move(cached));
        return {};
    }
    if (cancellation.isCancelled()) {
        completion(std::nullopt);
        return {};
    }
    // Held by reference: the shared cache lives for the process and the codec is one of the
    // program's long-lived services, so both outlive the task.
    std::function<std::optional<platform::Bitmap>(const platform::TaskHandle&)> work =
        [path, maxPixel, key, &codec, &thumbnails](const platform::TaskHandle&) {
            auto bitmap = downsample(path, maxPixel, codec);
            if (bitmap) thumbnails.cacheFor(maxPixel).insert(key, *bitmap, bitmap->cost());
            return bitmap;
        };
    std::function<void(std::optional<platform::Bitmap>)> done = std::move(completion);
    return scheduler.runInBackground(std::move(work), std::move(done));
}

}  // namespace ClipboardImageThumbnail

}  // namespace quenlit
