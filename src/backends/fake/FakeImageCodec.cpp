#include "backends/fake/FakeImageCodec.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <set>

namespace quenlit::fake {

namespace {

constexpr std::string_view kPngSignature("\x89PNG\r\n\x1a\n", 8);

std::optional<std::string> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool isPng(std::string_view bytes) {
    return bytes.substr(0, kPngSignature.size()) == kPngSignature;
}

void appendBigEndian(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

std::uint32_t readBigEndian(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

// Width and height from the IHDR chunk that follows the signature.
std::optional<FakeImageCodec::Size> pngSize(std::string_view bytes) {
    if (!isPng(bytes) || bytes.size() < 24 || bytes.substr(12, 4) != "IHDR") return std::nullopt;
    const std::uint32_t width = readBigEndian(bytes, 16);
    const std::uint32_t height = readBigEndian(bytes, 20);
    if (width == 0 || height == 0 || width > 1u << 16 || height > 1u << 16) return std::nullopt;
    return FakeImageCodec::Size{static_cast<int>(width), static_cast<int>(height)};
}

std::string lowercaseExtension(const std::string& path) {
    std::string ext = std::filesystem::path(path).extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return ext;
}

}  // namespace

std::string FakeImageCodec::pngBytes(int width, int height, std::string_view payload) {
    std::string bytes(kPngSignature);
    appendBigEndian(bytes, 13);
    bytes += "IHDR";
    appendBigEndian(bytes, static_cast<std::uint32_t>(width));
    appendBigEndian(bytes, static_cast<std::uint32_t>(height));
    bytes += std::string("\x08\x06\x00\x00\x00", 5);  // 8-bit RGBA, no interlace
    appendBigEndian(bytes, 0);                        // the checksum nobody here verifies
    bytes += payload;
    return bytes;
}

std::optional<platform::PictureSize> FakeImageCodec::pictureSize(std::string_view bytes) {
    if (!isPng(bytes) || bytes.size() < 24 || bytes.substr(12, 4) != "IHDR") return std::nullopt;
    return platform::PictureSize{static_cast<int>(readBigEndian(bytes, 16) & 0x7fffffff),
                                 static_cast<int>(readBigEndian(bytes, 20) & 0x7fffffff)};
}

bool FakeImageCodec::isImageFile(const std::string& path) {
    record("isImageFile " + path);
    static const std::set<std::string> pictureExtensions = {".png",  ".jpg", ".jpeg", ".gif", ".tif",
                                                            ".tiff", ".bmp", ".webp", ".heic"};
    if (pictureExtensions.count(lowercaseExtension(path)) > 0) return true;
    auto bytes = readFile(path);
    return bytes && isPng(*bytes);
}

std::optional<std::string> FakeImageCodec::pngFromFile(const std::string& path) {
    record("pngFromFile " + path);
    auto bytes = readFile(path);
    if (!bytes) return std::nullopt;
    if (isPng(*bytes)) return bytes;
    auto converted = convertedFiles.find(path);
    if (converted == convertedFiles.end()) return std::nullopt;
    return converted->second;
}

std::optional<std::string> FakeImageCodec::pngFromTiff(std::string_view tiff) {
    record("pngFromTiff " + std::to_string(tiff.size()) + " bytes");
    auto png = tiffToPng.find(std::string(tiff));
    if (png == tiffToPng.end()) return std::nullopt;
    return png->second;
}

std::optional<platform::Bitmap> FakeImageCodec::downsample(const std::string& path, int maxPixel) {
    record("downsample " + path + " " + std::to_string(maxPixel));
    {
        std::lock_guard lock(mutex_);
        ++downsamples_;
    }
    std::optional<Size> full;
    if (auto scripted = pictureSizes.find(path); scripted != pictureSizes.end()) {
        full = scripted->second;
    } else if (auto bytes = readFile(path)) {
        full = pngSize(*bytes);
    }
    if (!full || maxPixel < 1) return std::nullopt;

    Size size = *full;
    const int larger = std::max(size.width, size.height);
    if (larger > maxPixel) {
        const double scale = static_cast<double>(maxPixel) / larger;
        size.width = std::max(1, static_cast<int>(std::lround(size.width * scale)));
        size.height = std::max(1, static_cast<int>(std::lround(size.height * scale)));
    }
    platform::Bitmap bitmap;
    bitmap.width = size.width;
    bitmap.height = size.height;
    bitmap.bytesPerRow = size.width * 4;
    auto pixels = std::make_shared<std::vector<std::uint8_t>>(bitmap.cost());
    for (int y = 0; y < size.height; ++y) {
        for (int x = 0; x < size.width; ++x) {
            const std::uint32_t argb = 0xff000000u | (static_cast<std::uint32_t>(x & 0xff) << 8) |
                                       static_cast<std::uint32_t>(y & 0xff);
            std::memcpy(pixels->data() + static_cast<std::size_t>(y) * bitmap.bytesPerRow + x * 4, &argb, 4);
        }
    }
    bitmap.pixels = std::move(pixels);
    return bitmap;
}

std::vector<std::string> FakeImageCodec::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

std::size_t FakeImageCodec::downsampleCount() const {
    std::lock_guard lock(mutex_);
    return downsamples_;
}

void FakeImageCodec::clearCalls() {
    std::lock_guard lock(mutex_);
    calls_.clear();
    downsamples_ = 0;
}

void FakeImageCodec::record(std::string call) {
    std::lock_guard lock(mutex_);
    calls_.push_back(std::move(call));
}

}  // namespace quenlit::fake
