#include "backends/linux/QtImageCodec.h"

#include "backends/linux/ClipboardTypes.h"
#include "backends/linux/PosixFileReader.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QMimeType>
#include <QString>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quenlit::linux_backend {

namespace {

QString qPath(const std::string& path) {
    return QString::fromStdString(path);
}

// The largest picture file read: the largest image data the clipboard gives, which is the largest
// picture the history keeps.
constexpr std::uintmax_t kFileLimit = kClipboardDataLimit;

// A regular file opened for reading, or nothing: opened without waiting (a named pipe would wait
// for a writer) and checked on the opened descriptor, so a device or a pipe is never read.
std::unique_ptr<QFile> openRegularFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return nullptr;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return nullptr;
    }
    auto file = std::make_unique<QFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return nullptr;
    }
    return file;
}

// Whether the picture's header claims more pixels than are ever decoded. Read before decoding: a
// small file may claim billions of pixels.
bool claimsTooManyPixels(QImageReader& reader) {
    const QSize size = reader.size();
    return size.isValid() &&
           static_cast<std::int64_t>(size.width()) * size.height() > platform::kMaxPicturePixels;
}

// Decodes the reader's first picture, upright: the orientation a camera recorded (EXIF, TIFF) is
// applied, since neither the PNG we write nor our bitmaps can carry it.
QImage readFirstImage(QImageReader& reader) {
    if (claimsTooManyPixels(reader)) return {};
    reader.setAutoTransform(true);
    return reader.read();
}

std::optional<std::string> encodePng(const QImage& image) {
    if (image.isNull()) return std::nullopt;
    QByteArray bytes;
    QBuffer buffer(&bytes);
    if (!buffer.open(QIODevice::WriteOnly)) return std::nullopt;
    QImageWriter writer(&buffer, "png");
    if (!writer.write(image) || bytes.isEmpty()) return std::nullopt;
    return bytes.toStdString();
}

}  // namespace

std::optional<platform::PictureSize> QtImageCodec::pictureSize(std::string_view bytes) {
    if (bytes.empty()) return std::nullopt;
    const QByteArray data = QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer buffer;
    buffer.setData(data);
    if (!buffer.open(QIODevice::ReadOnly)) return std::nullopt;
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    const QSize size = reader.size();
    if (!size.isValid()) return std::nullopt;
    return platform::PictureSize{size.width(), size.height()};
}

bool QtImageCodec::isImageFile(const std::string& path) {
    // QMimeDatabase is documented thread-safe; a fresh one per call shares Qt's loaded database.
    const QMimeDatabase mimeTypes;
    const QMimeType byName = mimeTypes.mimeTypeForFile(qPath(path), QMimeDatabase::MatchExtension);
    if (byName.isValid() && byName.name().startsWith(QLatin1String("image/"))) return true;

    const std::unique_ptr<QFile> file = openRegularFile(path);
    if (!file) return false;
    QImageReader reader(file.get());
    return reader.canRead() && !reader.format().isEmpty();
}

std::optional<std::string> QtImageCodec::pngFromFile(const std::string& path) {
    PosixFileReader files;
    platform::FileRead read = files.read(path, kFileLimit);
    if (!read.ok() || read.bytes.empty()) return std::nullopt;
    const QByteArray bytes =
        QByteArray::fromRawData(read.bytes.data(), static_cast<qsizetype>(read.bytes.size()));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return std::nullopt;
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    if (claimsTooManyPixels(reader)) return std::nullopt;
    if (QFileInfo(qPath(path)).suffix().toLower() == QLatin1String("png")) return std::move(read.bytes);
    return encodePng(readFirstImage(reader));
}

std::optional<std::string> QtImageCodec::pngFromTiff(std::string_view tiff) {
    if (tiff.empty()) return std::nullopt;
    // The buffer reads the caller's bytes in place; the data outlives the reader.
    const QByteArray bytes = QByteArray::fromRawData(tiff.data(), static_cast<qsizetype>(tiff.size()));
    QBuffer buffer;
    buffer.setData(bytes);
    if (!buffer.open(QIODevice::ReadOnly)) return std::nullopt;
    // Decided by content: the clipboard's other raster images (JPEG, BMP, GIF, WebP) come this way
    // too, and a "tiff" format hint would hand them to the TIFF reader alone, which fails on them.
    QImageReader reader(&buffer);
    reader.setDecideFormatFromContent(true);
    return encodePng(readFirstImage(reader));
}

std::optional<platform::Bitmap> QtImageCodec::downsample(const std::string& path, int maxPixel) {
    if (maxPixel < 1) return std::nullopt;
    const std::unique_ptr<QFile> file = openRegularFile(path);
    if (!file) return std::nullopt;
    QImageReader reader(file.get());
    if (claimsTooManyPixels(reader)) return std::nullopt;

    // The stored size, before any rotation; a quarter turn swaps the sides but keeps the larger one,
    // so the bound holds either way. Readers that can scale while decoding (JPEG) then never build
    // the full picture; Qt scales the others after decoding.
    const QSize stored = reader.size();
    const int storedLarger = std::max(stored.width(), stored.height());
    if (stored.isValid() && storedLarger > maxPixel) {
        const double scale = static_cast<double>(maxPixel) / storedLarger;
        reader.setScaledSize(QSize(std::max(1, static_cast<int>(std::lround(stored.width() * scale))),
                                   std::max(1, static_cast<int>(std::lround(stored.height() * scale)))));
    }
    QImage image = readFirstImage(reader);
    if (image.isNull()) return std::nullopt;
    // A reader that could not tell the size beforehand delivers the full picture.
    if (std::max(image.width(), image.height()) > maxPixel) {
        image = image.scaled(maxPixel, maxPixel, Qt::KeepAspectRatio, Qt::SmoothTransformation);
        if (image.isNull()) return std::nullopt;
    }
    image.convertTo(QImage::Format_ARGB32_Premultiplied);

    platform::Bitmap bitmap;
    bitmap.width = image.width();
    bitmap.height = image.height();
    bitmap.bytesPerRow = static_cast<int>(image.bytesPerLine());
    const auto* bits = image.constBits();
    bitmap.pixels = std::make_shared<const std::vector<std::uint8_t>>(
        bits, bits + static_cast<std::size_t>(image.sizeInBytes()));
    return bitmap;
}

}  // namespace quenlit::linux_backend
