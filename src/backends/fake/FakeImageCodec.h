#pragma once

// Pictures without a decoder, for tests of the core. A file is a picture when its name ends in a
// picture extension or its bytes start with the PNG signature; such a PNG file converts to its own
// bytes and has the size its header says (pngBytes() writes one). Everything else is scripted by
// path or by bytes, and every call is recorded in words ("downsample /a.png 128").

#include "platform/ImageCodec.h"

#include <map>
#include <mutex>

namespace quenlit::fake {

class FakeImageCodec final : public platform::ImageCodec {
  public:
    struct Size {
        int width = 0;
        int height = 0;
    };

    // The PNG signature and an IHDR chunk for a width × height picture, then `payload`, which
    // tells pictures of the same size apart.
    static std::string pngBytes(int width, int height, std::string_view payload = {});

    // PNG bytes of picture files that are not PNG files themselves, by path.
    std::map<std::string, std::string> convertedFiles;
    // PNG bytes by the TIFF bytes they convert from; other TIFF data does not convert.
    std::map<std::string, std::string> tiffToPng;
    // Full sizes of pictures that downsample() decodes although they are not PNG files, by path.
    std::map<std::string, Size> pictureSizes;

    // PNG bytes' header size; nothing for anything else.
    std::optional<platform::PictureSize> pictureSize(std::string_view bytes) override;
    bool isImageFile(const std::string& path) override;
    std::optional<std::string> pngFromFile(const std::string& path) override;
    std::optional<std::string> pngFromTiff(std::string_view tiff) override;
    // A picture of the scaled size (larger side at most maxPixel, never enlarged), opaque, with a
    // pattern that depends on the pixel's position.
    std::optional<platform::Bitmap> downsample(const std::string& path, int maxPixel) override;

    std::vector<std::string> calls() const;
    std::size_t downsampleCount() const;
    void clearCalls();

  private:
    void record(std::string call);

    mutable std::mutex mutex_;
    std::vector<std::string> calls_;
    std::size_t downsamples_ = 0;
};

}  // namespace quenlit::fake
