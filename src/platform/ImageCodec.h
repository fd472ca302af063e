#pragma once

// Reading, converting and downsampling images. Thread-safe: every call may run on a background task.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quenlit::platform {

// Decoded pixels, 32 bits each, premultiplied ARGB in native byte order (what a QImage of format
// ARGB32_Premultiplied holds), rows bytesPerRow apart.
struct Bitmap {
    int width = 0;
    int height = 0;
    int bytesPerRow = 0;
    std::shared_ptr<const std::vector<std::uint8_t>> pixels;

    std::size_t cost() const {
        return static_cast<std::size_t>(bytesPerRow) * static_cast<std::size_t>(height);
    }
};

// The most pixels a picture may have to be kept or decoded: 40 megapixels (a 3.5 MB PNG may claim
// 30000 × 30000, which is 3.6 GB once decoded).
inline constexpr std::int64_t kMaxPicturePixels = 40'000'000;

struct PictureSize {
    int width = 0;
    int height = 0;
    std::int64_t pixels() const { return static_cast<std::int64_t>(width) * height; }
};

class ImageCodec {
  public:
    virtual ~ImageCodec() = default;
    // The size a picture's header claims, read without decoding the picture; none when the bytes
    // are no picture the codec knows or their header does not tell.
    virtual std::optional<PictureSize> pictureSize(std::string_view bytes) = 0;
    // Whether the file is a picture: by its name's type, else by its content.
    virtual bool isImageFile(const std::string& path) = 0;
    // The file's first image as PNG bytes; a ".png" file's own bytes when it can be read. None for a
    // picture over kMaxPicturePixels, which is never decoded.
    virtual std::optional<std::string> pngFromFile(const std::string& path) = 0;
    // TIFF bytes decoded and encoded again as PNG; none over kMaxPicturePixels.
    virtual std::optional<std::string> pngFromTiff(std::string_view tiff) = 0;
    // The file's first image with its orientation applied, scaled so its larger side is at most
    // maxPixel (never enlarged), decoded from the full image; none over kMaxPicturePixels.
    virtual std::optional<Bitmap> downsample(const std::string& path, int maxPixel) = 0;
};

}  // namespace quenlit::platform
