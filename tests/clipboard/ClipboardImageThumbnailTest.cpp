#include "clipboard/ClipboardImageThumbnail.h"

#include "backends/fake/FakeImageCodec.h"
#include "backends/fake/VirtualScheduler.h"
#include "base/CostBoundedCache.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace quenlit {
namespace {

using platform::Bitmap;
using quenlit::testing::TempDir;
using quenlit::testing::writeFile;

// What a view gets back from loadAsync, and whether it came at once or through the main queue.
struct Delivery {
    int calls = 0;
    std::optional<Bitmap> image;
};

class ClipboardImageThumbnailTest : public ::testing::Test {
  protected:
    std::string picture(const std::string& name, int width, int height) {
        writeFile(dir / name, fake::FakeImageCodec::pngBytes(width, height, name));
        return (dir / name).string();
    }

    platform::TaskHandle load(const std::string& path, int maxPixel, Delivery& delivery,
                              const platform::TaskHandle& cancellation = {}) {
        return ClipboardImageThumbnail::loadAsync(
            path, maxPixel,
            [&delivery](std::optional<Bitmap> image) {
                ++delivery.calls;
                delivery.image = std::move(image);
            },
            scheduler, codec, cancellation, thumbnails);
    }

    TempDir dir;
    fake::VirtualScheduler scheduler;
    fake::FakeImageCodec codec;
    ClipboardThumbnailCache thumbnails;
};

TEST_F(ClipboardImageThumbnailTest, KeyIsThePathAndTheSize) {
    EXPECT_EQ(ClipboardThumbnailCache::key("/home/a/.local/share/quenlit/images/7F0C.png", 80),
              "/home/a/.local/share/quenlit/images/7F0C.png#80");
}

TEST_F(ClipboardImageThumbnailTest, SizesUpTo128AreRowsAndLargerOnesPreviews) {
    const std::string path = picture("a.png", 1000, 500);
    const struct {
        int maxPixel;
        bool row;
    } cases[] = {{1, true}, {64, true}, {128, true}, {129, false}, {600, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.maxPixel);
        Delivery delivery;
        load(path, c.maxPixel, delivery);
        scheduler.runPending();
        ASSERT_TRUE(delivery.image);
        EXPECT_EQ(delivery.image->width, c.maxPixel);
        const std::string key = ClipboardThumbnailCache::key(path, c.maxPixel);
        EXPECT_EQ(thumbnails.rows.contains(key), c.row);
        EXPECT_EQ(thumbnails.previews.contains(key), !c.row);
    }
    // One file, an entry per size.
    EXPECT_EQ(thumbnails.rows.count(), 3u);
    EXPECT_EQ(thumbnails.previews.count(), 2u);
    EXPECT_EQ(codec.downsampleCount(), 5u);
}

TEST_F(ClipboardImageThumbnailTest, DecodesInTheBackgroundAndDeliversOnTheMainQueue) {
    const std::string path = picture("a.png", 100, 50);
    Delivery delivery;
    load(path, 80, delivery);
    EXPECT_EQ(delivery.calls, 0);
    EXPECT_EQ(scheduler.pendingBackgroundCount(), 1u);

    scheduler.runPending();
    EXPECT_EQ(delivery.calls, 1);
    ASSERT_TRUE(delivery.image);
    EXPECT_EQ(delivery.image->width, 80);
    EXPECT_EQ(delivery.image->height, 40);
    EXPECT_EQ(codec.calls(), std::vector<std::string>{"downsample " + path + " 80"});
    // The cost of an entry is its decoded bytes.
    EXPECT_EQ(thumbnails.rows.totalCost(), 80u * 4u * 40u);
}

TEST_F(ClipboardImageThumbnailTest, ASecondRequestIsServedFromTheCacheAtOnce) {
    const std::string path = picture("a.png", 300, 300);
    Delivery first;
    load(path, 200, first);
    scheduler.runPending();
    ASSERT_TRUE(first.image);

    Delivery second;
    load(path, 200, second);
    EXPECT_EQ(second.calls, 1);
    ASSERT_TRUE(second.image);
    EXPECT_EQ(second.image->pixels, first.image->pixels);
    EXPECT_EQ(scheduler.pendingBackgroundCount(), 0u);
    EXPECT_EQ(codec.downsampleCount(), 1u);
}

TEST_F(ClipboardImageThumbnailTest, EmptyingPreviewsOnHideKeepsTheRows) {
    const std::string path = picture("a.png", 300, 300);
    Delivery row, preview;
    load(path, 80, row);
    load(path, 260, preview);
    scheduler.runPending();
    ASSERT_EQ(codec.downsampleCount(), 2u);

    thumbnails.previews.removeAll();

    Delivery rowAgain, previewAgain;
    load(path, 80, rowAgain);
    EXPECT_EQ(rowAgain.calls, 1);  // still cached
    load(path, 260, previewAgain);
    EXPECT_EQ(previewAgain.calls, 0);  // decoded anew
    scheduler.runPending();
    EXPECT_TRUE(previewAgain.image);
    EXPECT_EQ(codec.downsampleCount(), 3u);
}

TEST_F(ClipboardImageThumbnailTest, ACancelledRequestThatMissesTheCacheDecodesNothing) {
    const std::string path = picture("a.png", 300, 300);
    platform::TaskHandle viewTask;
    viewTask.cancel();

    Delivery missed;
    load(path, 80, missed, viewTask);
    EXPECT_EQ(missed.calls, 1);
    EXPECT_EQ(missed.image, std::nullopt);
    EXPECT_EQ(scheduler.pendingBackgroundCount(), 0u);
    scheduler.runPending();
    EXPECT_EQ(codec.downsampleCount(), 0u);

    // The cache is looked at before the cancellation: a cached picture is still handed over.
    Delivery fresh, hit;
    load(path, 80, fresh);
    scheduler.runPending();
    load(path, 80, hit, viewTask);
    ASSERT_TRUE(hit.image);
    EXPECT_EQ(codec.downsampleCount(), 1u);
}

TEST_F(ClipboardImageThumbnailTest, CancellingTheReturnedHandleDropsTheDelivery) {
    const std::string path = picture("a.png", 300, 300);
    Delivery delivery;
    load(path, 80, delivery).cancel();
    scheduler.runPending();
    EXPECT_EQ(delivery.calls, 0);
    EXPECT_EQ(codec.downsampleCount(), 0u);
}

TEST_F(ClipboardImageThumbnailTest, WhatCannotBeDecodedGivesNothingAndIsNotRemembered) {
    writeFile(dir / "broken.png", "not a picture");
    const std::string missing = (dir / "missing.png").string();
    for (const std::string& path : {(dir / "broken.png").string(), missing}) {
        SCOPED_TRACE(path);
        Delivery delivery;
        load(path, 80, delivery);
        scheduler.runPending();
        EXPECT_EQ(delivery.calls, 1);
        EXPECT_EQ(delivery.image, std::nullopt);
    }
    EXPECT_EQ(thumbnails.rows.count(), 0u);

    Delivery again;
    load(missing, 80, again);
    scheduler.runPending();
    EXPECT_EQ(codec.downsampleCount(), 3u);
}

TEST_F(ClipboardImageThumbnailTest, PreviewsAreBoundedByTheirDecodedSize) {
    for (const char* path : {"/p/one.png", "/p/two.png", "/p/three.png"})
        codec.pictureSizes[path] = {2048, 2048};
    auto show = [&](const char* path) {
        Delivery delivery;
        load(path, 1024, delivery);
        scheduler.runPending();
        return delivery.image.has_value();
    };
    ASSERT_TRUE(show("/p/one.png"));
    ASSERT_TRUE(show("/p/two.png"));
    EXPECT_EQ(thumbnails.previews.totalCost(), ClipboardThumbnailCache::kCostLimit);
    ASSERT_TRUE(show("/p/one.png"));  // from the cache, and now the most recent
    ASSERT_TRUE(show("/p/three.png"));

    EXPECT_TRUE(thumbnails.previews.contains("/p/one.png#1024"));
    EXPECT_FALSE(thumbnails.previews.contains("/p/two.png#1024"));
    EXPECT_TRUE(thumbnails.previews.contains("/p/three.png#1024"));
    EXPECT_EQ(codec.downsampleCount(), 3u);
}

TEST_F(ClipboardImageThumbnailTest, TheSharedCacheIsOneInstance) {
    EXPECT_EQ(&ClipboardImageThumbnail::cache(), &ClipboardImageThumbnail::cache());
    EXPECT_EQ(ClipboardImageThumbnail::cache().rows.costLimit(), 8388608u);
    EXPECT_EQ(ClipboardImageThumbnail::cache().previews.costLimit(), 8388608u);
}

TEST(CostBoundedCache, EvictsTheLeastRecentlyUsedUntilTheCostFits) {
    CostBoundedCache<std::string, int> cache(10);
    cache.insert("a", 1, 3);
    cache.insert("b", 2, 3);
    cache.insert("c", 3, 3);
    EXPECT_EQ(cache.get("a"), 1);  // a is now the most recent; b the least
    cache.insert("d", 4, 3);
    EXPECT_FALSE(cache.contains("b"));
    EXPECT_EQ(cache.totalCost(), 9u);

    cache.insert("c", 30, 5);  // replaced, and the heavier entry pushes out a
    EXPECT_EQ(cache.get("c"), 30);
    EXPECT_FALSE(cache.contains("a"));
    EXPECT_TRUE(cache.contains("d"));
    EXPECT_EQ(cache.totalCost(), 8u);

    cache.insert("huge", 5, 11);  // could never fit: not kept, and nothing else is lost
    EXPECT_FALSE(cache.contains("huge"));
    EXPECT_EQ(cache.count(), 2u);

    cache.remove("d");
    EXPECT_EQ(cache.totalCost(), 5u);
    cache.removeAll();
    EXPECT_EQ(cache.count(), 0u);
    EXPECT_EQ(cache.totalCost(), 0u);
    EXPECT_EQ(cache.get("c"), std::nullopt);
}

// Decoding tasks store while views read and the hiding panel empties the previews.
TEST(CostBoundedCache, StaysConsistentUnderConcurrentUse) {
    ClipboardThumbnailCache thumbnails;
    fake::FakeImageCodec codec;
    codec.pictureSizes["/p/a.png"] = {256, 256};
    std::atomic<int> delivered = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                const int maxPixel = 32 + (i * 7 + t) % 200;
                const std::string key = ClipboardThumbnailCache::key("/p/a.png", maxPixel);
                auto& cache = thumbnails.cacheFor(maxPixel);
                auto image = cache.get(key);
                if (!image) {
                    image = ClipboardImageThumbnail::downsample("/p/a.png", maxPixel, codec);
                    if (image) cache.insert(key, *image, image->cost());
                }
                if (image && std::max(image->width, image->height) == std::min(maxPixel, 256)) ++delivered;
                if (t == 0 && i % 20 == 0) thumbnails.previews.removeAll();
            }
        });
    }
    for (auto& thread : threads)
        thread.join();
    EXPECT_EQ(delivered, 800);
    for (auto* cache : {&thumbnails.rows, &thumbnails.previews}) {
        EXPECT_LE(cache->totalCost(), ClipboardThumbnailCache::kCostLimit);
    }
}

}  // namespace
}  // namespace quenlit
