#include "ui/IconFiles.h"

#include <QBuffer>
#include <QFileInfo>
#include <QIconEngine>
#include <QImageReader>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <iterator>

namespace quenlit::ui {
namespace {

bool matchesSize(const IconFile& file, int size, int scale) {
    if (file.anySize) return true;
    const IconDir& d = file.dir;
    if (d.scale != scale) return false;
    switch (d.type) {
        case IconDir::Type::fixed:
            return d.size == size;
        case IconDir::Type::scalable:
            return d.minSize <= size && size <= d.maxSize;
        case IconDir::Type::threshold:
            return d.size - d.threshold <= size && size <= d.size + d.threshold;
    }
    return false;
}

int sizeDistance(const IconFile& file, int size, int scale) {
    if (file.anySize) return 0;
    const IconDir& d = file.dir;
    const int wanted = size * scale;
    int low = d.size * d.scale;
    int high = low;
    if (d.type == IconDir::Type::scalable) {
        low = d.minSize * d.scale;
        high = d.maxSize * d.scale;
    } else if (d.type == IconDir::Type::threshold) {
        low = (d.size - d.threshold) * d.scale;
        high = (d.size + d.threshold) * d.scale;
    }
    if (wanted < low) return low - wanted;
    if (wanted > high) return wanted - high;
    return 0;
}

}  // namespace

bool isSvg(const QByteArray& format) {
    return format == "svg" || format == "svgz";
}

QByteArray formatOf(const QString& path) {
    static const QByteArray known[] = {"png",  "xpm", "svg",  "svgz", "jpg", "jpeg", "gif", "bmp", "ico",
                                       "webp", "tif", "tiff", "xbm",  "pbm", "pgm",  "ppm", "tga", "icns"};
    const QByteArray suffix = QFileInfo(path).suffix().toLower().toLatin1();
    return std::find(std::begin(known), std::end(known), suffix) != std::end(known) ? suffix : QByteArray();
}

bool canReadSvg() {
    static const bool can = [] {
        QByteArray svg(R"(<svg xmlns="http://www.w3.org/2000/svg" width="1" height="1"/>)");
        QBuffer buffer(&svg);
        QImageReader reader(&buffer, "svg");
        reader.setAutoDetectImageFormat(false);
        return reader.canRead();
    }();
    return can;
}

// The file to draw at `size` pixels of `scale`: the first whose folder is meant for that size,
// a picture before an SVG (drawing one loads the SVG plugin); else the nearest in size, the larger
// of two as near, since scaling down loses less than scaling up.
const IconFile* chooseFile(const std::vector<IconFile>& files, int size, int scale) {
    const IconFile* nearest[2] = {nullptr, nullptr};  // picture, SVG
    int nearestDistance[2] = {0, 0};
    for (bool svg : {false, true}) {
        for (const IconFile& f : files) {
            if (isSvg(f.format) != svg) continue;
            if (matchesSize(f, size, scale)) {
                if (!svg || canReadSvg()) return &f;
                break;
            }
            const int distance = sizeDistance(f, size, scale);
            const IconFile*& best = nearest[svg ? 1 : 0];
            if (best == nullptr || distance < nearestDistance[svg ? 1 : 0] ||
                (distance == nearestDistance[svg ? 1 : 0] &&
                 f.dir.size * f.dir.scale > best->dir.size * best->dir.scale)) {
                best = &f;
                nearestDistance[svg ? 1 : 0] = distance;
            }
        }
    }
    const bool svgNearer =
        nearest[1] != nullptr && (nearest[0] == nullptr || nearestDistance[1] < nearestDistance[0]);
    if (svgNearer && canReadSvg()) return nearest[1];
    return nearest[0];
}

namespace {

// Reads the file in the format its name gives (only an unnamed format is guessed, which may
// load every image plugin), no larger than `size`: an SVG drawn at that size, a larger picture
// scaled down, a smaller one left as it is.
void prepare(QImageReader& reader, const IconFile& file) {
    reader.setFileName(file.path);
    reader.setFormat(file.format);
    reader.setAutoDetectImageFormat(file.format.isEmpty());
}

QImage readIcon(const IconFile& file, const QSize& size) {
    QImageReader reader;
    prepare(reader, file);
    if (isSvg(file.format)) {
        const QSize natural = reader.size();
        reader.setScaledSize(natural.isEmpty() ? size : natural.scaled(size, Qt::KeepAspectRatio));
    }
    QImage image = reader.read();
    if (!image.isNull() && (image.width() > size.width() || image.height() > size.height()))
        image = image.scaled(size, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    return image;
}

// An icon drawn from files found by the lookup, read when a size is asked for. Every mode is drawn
// as the normal one: the launcher shows no disabled or selected icons.
class FileIconEngine final : public QIconEngine {
  public:
    FileIconEngine(QString name, std::vector<IconFile> files)
        : name_(std::move(name)), files_(std::move(files)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
        const qreal scale = painter->device() != nullptr ? painter->device()->devicePixelRatio() : 1.0;
        QPixmap pixmap = scaledPixmap(rect.size() * scale, mode, state, scale);
        if (pixmap.isNull()) return;
        pixmap.setDevicePixelRatio(scale);
        const QSize drawn = pixmap.deviceIndependentSize().toSize();
        painter->drawPixmap(QRect(rect.topLeft() + QPoint((rect.width() - drawn.width()) / 2,
                                                          (rect.height() - drawn.height()) / 2),
                                  drawn),
                            pixmap);
    }

    QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State) override {
        const IconFile* file = chooseFile(files_, std::min(size.width(), size.height()), 1);
        if (file == nullptr) return {};
        if (isSvg(file->format)) return size;
        QImageReader reader;
        prepare(reader, *file);
        const QSize natural = reader.size();
        if (natural.isEmpty() || (natural.width() <= size.width() && natural.height() <= size.height()))
            return natural;
        return natural.scaled(size, Qt::KeepAspectRatio);
    }

    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        return scaledPixmap(size, mode, state, 1.0);
    }

    // `size` in device pixels, as Qt asks.
    QPixmap scaledPixmap(const QSize& size, QIcon::Mode, QIcon::State, qreal scale) override {
        const int integerScale = std::max(1, static_cast<int>(std::ceil(scale)));
        const IconFile* file =
            chooseFile(files_, std::min(size.width(), size.height()) / integerScale, integerScale);
        if (file == nullptr) return {};
        return QPixmap::fromImage(readIcon(*file, size));
    }

    // The sizes the theme's folders are meant for (a scalable folder's nominal one: its pictures
    // are drawn that large); none for a file outside a theme.
    QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
        QList<QSize> sizes;
        for (const IconFile& f : files_) {
            if (!f.anySize) sizes.append(QSize(f.dir.size, f.dir.size));
        }
        return sizes;
    }

    QString iconName() override { return name_; }
    bool isNull() override { return files_.empty(); }
    QString key() const override { return QStringLiteral("QuenlitFileIcon"); }
    QIconEngine* clone() const override { return new FileIconEngine(*this); }

  private:
    QString name_;
    std::vector<IconFile> files_;
};

}  // namespace

QIcon iconOf(const QString& name, std::vector<IconFile> files) {
    if (files.empty()) return {};
    // SVG files alone, which Qt cannot draw without the SVG plugin, count as none.
    if (std::all_of(files.begin(), files.end(), [](const IconFile& f) { return isSvg(f.format); }) &&
        !canReadSvg())
        return {};
    return QIcon(new FileIconEngine(name, std::move(files)));
}

}  // namespace quenlit::ui
