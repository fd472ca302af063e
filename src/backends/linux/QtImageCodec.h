#pragma once

// Pictures through Qt's image readers and writers (PNG, JPEG, GIF, WebP, and TIFF through Qt's
// image-format plugins). Needs no application object, and keeps no state: every call builds its own
// reader, so calls from several threads at once are safe.

#include "platform/ImageCodec.h"

namespace quenlit::linux_backend {

class QtImageCodec final : public platform::ImageCodec {
  public:
    bool isImageFile(const std::string& path) override;
    // A ".png" file (any case) as it is; other pictures decoded, turned upright and encoded as PNG.
    std::optional<std::string> pngFromFile(const std::string& path) override;
    std::optional<std::string> pngFromTiff(std::string_view tiff) override;
    std::optional<platform::Bitmap> downsample(const std::string& path, int maxPixel) override;
};

}  // namespace quenlit::linux_backend
