#include "ui/ClipboardDrawing.h"

#include "ui/Style.h"

#include <QImage>
#include <QPainterPath>

#include <memory>

namespace quenlit::ui::clip {

QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

QColor red() {
    return style::destructive();
}

QColor separator() {
    return withAlpha(style::primaryText(), 0.08);
}

QImage imageOf(const platform::Bitmap& bitmap) {
    if (!bitmap.pixels || bitmap.width <= 0 || bitmap.height <= 0) return {};
    auto* keep = new std::shared_ptr<const std::vector<std::uint8_t>>(bitmap.pixels);
    return QImage(
        (*keep)->data(), bitmap.width, bitmap.height, bitmap.bytesPerRow, QImage::Format_ARGB32_Premultiplied,
        [](void* info) { delete static_cast<std::shared_ptr<const std::vector<std::uint8_t>>*>(info); },
        keep);
}

QPixmap rowArtwork(const platform::Bitmap& bitmap, qreal dpr) {
    const QImage image = imageOf(bitmap);
    if (image.isNull()) return {};
    const int side = static_cast<int>(kArtwork * dpr);
    const QImage filled = image.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QPixmap out(side, side);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, side, side), 4 * dpr, 4 * dpr);
    p.setClipPath(clip);
    p.drawImage(QPoint((side - filled.width()) / 2, (side - filled.height()) / 2), filled);
    p.end();
    out.setDevicePixelRatio(dpr);
    return out;
}

void drawText(QPainter& p, Drawn& drawn, const QRect& rect, int flags, const QString& text) {
    p.drawText(rect, flags, text);
    QRect bounds = p.fontMetrics().boundingRect(rect, flags, text);
    drawn.push_back({text, bounds});
}

}  // namespace quenlit::ui::clip
