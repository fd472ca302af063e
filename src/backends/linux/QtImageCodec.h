#pragma once

// Pictures through Qt's image readers and writers (PNG, JPEG, GIF, WebP, and TIFF through Qt's
// image-format plugins). Pictures whose header claims more than kMaxPicturePixels are never
// decoded. Needs no application object, and keeps no state: every call builds its own
// reader, so calls from several threads at once are safe.

#include "platform/ImageCodec.h"

namespace quenlit::linux_backend {

class QtImageCodec final : public platform::ImageCodec {
  public:
    std::optional<platform::PictureSize> pictureSize(std::string_view bytes) override;
    // By the name's type, else by content; only a regular file is ever opened.
    bool isImageFile(const std::string& path) override;
    // A ".png" file (any case) as it is; other pictures decoded, turned upright and encoded as PNG.
    // Read through the bounded file reader: only regular files up to the largest image kept.
    std::optional<std::string> pngFromFile(const std::string& path) override;
    std::optional<std::string> pngFromTiff(std::string_view tiff) override;
    std::optional<platform::Bitmap> downsample(const std::string& path, int maxPixel) override;
};

}  // namespace quenlit::linux_backend
