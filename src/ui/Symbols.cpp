#include "ui/Symbols.h"

#include "ui/IconTheme.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <map>
#include <string>
#include <unordered_map>

namespace quenlit::ui {
namespace {

const std::map<std::string, std::vector<QString>, std::less<>>& table() {
    static const std::map<std::string, std::vector<QString>, std::less<>> names{
        {"magnifyingglass", {"edit-find", "system-search"}},
        {"xmark.circle.fill", {"edit-clear", "window-close"}},
        {"keyboard", {"input-keyboard"}},
        {"app.dashed", {"application-x-executable"}},
        {"power.circle.fill", {"application-exit", "system-shutdown"}},
        {"rectangle.lefthalf.filled", {}},
        {"rectangle.righthalf.filled", {}},
        {"rectangle.tophalf.filled", {}},
        {"rectangle.bottomhalf.filled", {}},
        {"rectangle.leadingthird.inset.filled", {}},
        {"rectangle.trailingthird.inset.filled", {}},
        {"arrow.up.left.and.arrow.down.right", {"view-fullscreen", "window-maximize"}},
        {"macwindow", {"view-restore", "window-restore"}},
        {"arrow.up.to.line", {"go-top"}},
        {"arrow.down.to.line", {"go-bottom"}},
        {"arrow.left.to.line", {"go-first"}},
        {"arrow.right.to.line", {"go-last"}},
        {"arrow.down.circle.fill", {"folder-download"}},
        {"plus.forwardslash.minus", {"accessories-calculator"}},
        {"doc.on.clipboard", {"edit-paste"}},
        {"photo", {"image-x-generic"}},
        {"text.alignleft", {"format-justify-left", "text-x-generic"}},
        {"arrow.down.doc", {"edit-paste"}},
        {"doc.on.doc", {"edit-copy"}},
        {"trash", {"edit-delete", "user-trash"}},
    };
    return names;
}

// Window-shaped symbols: an outline with the named part filled.
void drawWindowPart(QPainter& p, const QRectF& r, std::string_view symbol) {
    p.drawRoundedRect(r, r.width() * 0.12, r.width() * 0.12);
    QRectF fill = r;
    if (symbol == "rectangle.lefthalf.filled") fill.setWidth(r.width() / 2);
    if (symbol == "rectangle.righthalf.filled") fill.setLeft(r.center().x());
    if (symbol == "rectangle.tophalf.filled") fill.setHeight(r.height() / 2);
    if (symbol == "rectangle.bottomhalf.filled") fill.setTop(r.center().y());
    if (symbol == "rectangle.leadingthird.inset.filled") fill.setWidth(r.width() / 3);
    if (symbol == "rectangle.trailingthird.inset.filled") fill.setLeft(r.left() + r.width() * 2 / 3);
    if (symbol == "macwindow") fill.setHeight(r.height() * 0.22);
    p.save();
    p.setBrush(p.pen().color());
    p.drawRect(fill.adjusted(2, 2, -2, -2));
    p.restore();
}

void drawArrowToLine(QPainter& p, const QRectF& r, std::string_view symbol) {
    QPainterPath path;
    const QPointF c = r.center();
    const qreal h = r.width() * 0.35;
    // Drawn pointing up, then rotated for the other directions.
    path.moveTo(c.x(), c.y() - h);
    path.lineTo(c.x(), c.y() + h);
    path.moveTo(c.x() - h * 0.7, c.y() - h * 0.3);
    path.lineTo(c.x(), c.y() - h);
    path.lineTo(c.x() + h * 0.7, c.y() - h * 0.3);
    path.moveTo(c.x() - h, c.y() - h * 1.3);
    path.lineTo(c.x() + h, c.y() - h * 1.3);
    qreal angle = 0;
    if (symbol == "arrow.down.to.line") angle = 180;
    if (symbol == "arrow.left.to.line") angle = -90;
    if (symbol == "arrow.right.to.line") angle = 90;
    p.save();
    p.translate(c);
    p.rotate(angle);
    p.translate(-c);
    p.setBrush(Qt::NoBrush);
    p.drawPath(path);
    p.restore();
}

// Document-shaped symbols of the clipboard: lines, pages, a picture, a clipboard, a can.
bool drawDocumentSymbol(QPainter& p, const QRectF& r, std::string_view s) {
    const qreal w = r.width();
    const qreal h = r.height();
    const auto line = [&](qreal x1, qreal y1, qreal x2, qreal y2) {
        p.drawLine(QPointF(r.left() + w * x1, r.top() + h * y1),
                   QPointF(r.left() + w * x2, r.top() + h * y2));
    };
    const auto box = [&](qreal x, qreal y, qreal bw, qreal bh, qreal radius) {
        p.drawRoundedRect(QRectF(r.left() + w * x, r.top() + h * y, w * bw, h * bh), w * radius, w * radius);
    };
    if (s == "text.alignleft") {
        line(0.1, 0.2, 0.9, 0.2);
        line(0.1, 0.4, 0.65, 0.4);
        line(0.1, 0.6, 0.9, 0.6);
        line(0.1, 0.8, 0.55, 0.8);
    } else if (s == "photo") {
        box(0.05, 0.15, 0.9, 0.7, 0.12);
        p.drawEllipse(QPointF(r.left() + w * 0.32, r.top() + h * 0.38), w * 0.08, w * 0.08);
        QPainterPath hills;
        hills.moveTo(r.left() + w * 0.1, r.top() + h * 0.78);
        hills.lineTo(r.left() + w * 0.4, r.top() + h * 0.52);
        hills.lineTo(r.left() + w * 0.58, r.top() + h * 0.68);
        hills.lineTo(r.left() + w * 0.7, r.top() + h * 0.56);
        hills.lineTo(r.left() + w * 0.9, r.top() + h * 0.78);
        p.drawPath(hills);
    } else if (s == "doc.on.clipboard") {
        box(0.15, 0.12, 0.7, 0.83, 0.1);
        box(0.35, 0.04, 0.3, 0.16, 0.05);
        line(0.3, 0.45, 0.7, 0.45);
        line(0.3, 0.62, 0.7, 0.62);
        line(0.3, 0.79, 0.55, 0.79);
    } else if (s == "doc.on.doc") {
        box(0.32, 0.05, 0.58, 0.68, 0.1);
        p.save();
        p.setBrush(Qt::NoBrush);
        box(0.1, 0.27, 0.58, 0.68, 0.1);
        p.restore();
    } else if (s == "arrow.down.doc") {
        box(0.18, 0.05, 0.64, 0.9, 0.1);
        line(0.5, 0.25, 0.5, 0.72);
        line(0.34, 0.56, 0.5, 0.72);
        line(0.66, 0.56, 0.5, 0.72);
    } else if (s == "trash") {
        line(0.1, 0.22, 0.9, 0.22);
        line(0.38, 0.1, 0.62, 0.1);
        QPainterPath can;
        can.moveTo(r.left() + w * 0.2, r.top() + h * 0.22);
        can.lineTo(r.left() + w * 0.27, r.top() + h * 0.92);
        can.lineTo(r.left() + w * 0.73, r.top() + h * 0.92);
        can.lineTo(r.left() + w * 0.8, r.top() + h * 0.22);
        p.drawPath(can);
        line(0.42, 0.38, 0.43, 0.78);
        line(0.58, 0.38, 0.57, 0.78);
    } else {
        return false;
    }
    return true;
}

void drawFallback(QPainter& p, const QRectF& r, std::string_view symbol) {
    const std::string s(symbol);
    if (drawDocumentSymbol(p, r, s)) return;
    if (s.rfind("rectangle.", 0) == 0 || s == "macwindow") {
        drawWindowPart(p, r.adjusted(1, r.height() * 0.15, -1, -r.height() * 0.15), symbol);
    } else if (s.rfind("arrow.", 0) == 0 && s.find("to.line") != std::string::npos) {
        drawArrowToLine(p, r, symbol);
    } else if (s == "magnifyingglass") {
        const qreal d = r.width() * 0.55;
        p.drawEllipse(QRectF(r.left() + 1, r.top() + 1, d, d));
        p.drawLine(QPointF(r.left() + d * 0.85, r.top() + d * 0.85), QPointF(r.right() - 1, r.bottom() - 1));
    } else if (s == "xmark.circle.fill" || s == "power.circle.fill" || s == "arrow.down.circle.fill") {
        p.save();
        p.setBrush(p.pen().color());
        p.drawEllipse(r.adjusted(1, 1, -1, -1));
        p.restore();
        QPen white(Qt::white, r.width() / 10.0, Qt::SolidLine, Qt::RoundCap);
        p.setPen(white);
        const QRectF in =
            r.adjusted(r.width() * 0.32, r.height() * 0.32, -r.width() * 0.32, -r.height() * 0.32);
        if (s == "xmark.circle.fill") {
            p.drawLine(in.topLeft(), in.bottomRight());
            p.drawLine(in.topRight(), in.bottomLeft());
        } else if (s == "power.circle.fill") {
            p.drawArc(in, 120 * 16, 300 * 16);
            p.drawLine(QPointF(in.center().x(), in.top() - 1), in.center());
        } else {
            p.drawLine(QPointF(in.center().x(), in.top()), QPointF(in.center().x(), in.bottom()));
            p.drawLine(QPointF(in.left(), in.center().y()), QPointF(in.center().x(), in.bottom()));
            p.drawLine(QPointF(in.right(), in.center().y()), QPointF(in.center().x(), in.bottom()));
        }
    } else if (s == "keyboard") {
        const QRectF body = r.adjusted(0.5, r.height() * 0.22, -0.5, -r.height() * 0.22);
        p.drawRoundedRect(body, r.width() * 0.1, r.width() * 0.1);
        p.save();
        p.setBrush(p.pen().color());
        p.setPen(Qt::NoPen);
        const qreal k = body.width() / 9;
        for (int row = 0; row < 2; ++row) {
            for (int col = 0; col < 4; ++col) {
                p.drawRect(QRectF(body.left() + k * (1 + 2 * col),
                                  body.top() + body.height() * (0.2 + 0.3 * row), k * 0.9,
                                  body.height() * 0.16));
            }
        }
        p.drawRect(
            QRectF(body.left() + k * 2, body.top() + body.height() * 0.75, k * 5, body.height() * 0.12));
        p.restore();
    } else if (s == "plus.forwardslash.minus") {
        const qreal q = r.width() / 4;
        p.drawLine(QPointF(r.left() + q * 0.5, r.top() + q * 1.2),
                   QPointF(r.left() + q * 1.7, r.top() + q * 1.2));
        p.drawLine(QPointF(r.left() + q * 1.1, r.top() + q * 0.6),
                   QPointF(r.left() + q * 1.1, r.top() + q * 1.8));
        p.drawLine(QPointF(r.right() - q * 0.7, r.top() + q * 0.5),
                   QPointF(r.left() + q * 0.7, r.bottom() - q * 0.5));
        p.drawLine(QPointF(r.right() - q * 1.7, r.bottom() - q * 1.2),
                   QPointF(r.right() - q * 0.5, r.bottom() - q * 1.2));
    } else {
        // Anything else: a rounded square with a dashed outline, as an application without an icon.
        QPen dashed = p.pen();
        dashed.setStyle(Qt::DashLine);
        p.setPen(dashed);
        p.drawRoundedRect(r.adjusted(1, 1, -1, -1), r.width() * 0.2, r.width() * 0.2);
    }
}

}  // namespace

namespace {
QPixmap makeSymbolPixmap(std::string_view symbol, int size, const QColor& color, qreal devicePixelRatio);
}  // namespace

std::vector<QString> themeNamesForSymbol(std::string_view symbol) {
    auto it = table().find(symbol);
    return it == table().end() ? std::vector<QString>{} : it->second;
}

QPixmap symbolPixmap(std::string_view symbol, int size, const QColor& color, qreal devicePixelRatio) {
    // The views ask again on every change of the query: a theme lookup and a scaled picture each
    // time would be work on the path of every keystroke and every showing.
    static std::unordered_map<std::string, QPixmap> made;
    const std::string key = QIcon::themeName().toStdString() + "|" + std::string(symbol) + "|" +
                            std::to_string(size) + "|" + color.name(QColor::HexArgb).toStdString() + "|" +
                            std::to_string(devicePixelRatio);
    if (auto it = made.find(key); it != made.end()) return it->second;
    QPixmap pixmap = makeSymbolPixmap(symbol, size, color, devicePixelRatio);
    made.emplace(key, pixmap);
    return pixmap;
}

namespace {

QPixmap makeSymbolPixmap(std::string_view symbol, int size, const QColor& color, qreal devicePixelRatio) {
    for (const QString& name : themeNamesForSymbol(symbol)) {
        // A symbolic icon is drawn in one colour: tinted, it takes the colour the view asks for,
        // as the drawn symbols do, and stays legible on a selected row.
        const QIcon symbolic = themeIcon(name + "-symbolic");
        if (!symbolic.isNull()) {
            QPixmap pixmap = symbolic.pixmap(QSize(size, size), devicePixelRatio);
            if (!pixmap.isNull()) {
                QPainter tint(&pixmap);
                tint.setCompositionMode(QPainter::CompositionMode_SourceIn);
                tint.fillRect(QRectF(QPointF(0, 0), QSizeF(pixmap.size()) / pixmap.devicePixelRatio()),
                              color);
                return pixmap;
            }
        }
        QIcon icon = themeIcon(name);
        if (icon.isNull()) continue;
        // A theme that has the icon only as a large picture (Adwaita's 512-pixel keyboard) would
        // keep a megabyte decoded for a 16-pixel symbol: the drawn one does better.
        const QList<QSize> sizes = icon.availableSizes();
        const int wanted = static_cast<int>(size * devicePixelRatio);
        if (!sizes.isEmpty() &&
            std::none_of(sizes.begin(), sizes.end(), [&](QSize s) { return s.width() <= 4 * wanted; }))
            continue;
        QPixmap pixmap = icon.pixmap(QSize(size, size), devicePixelRatio);
        if (!pixmap.isNull()) return pixmap;
    }
    QPixmap pixmap(QSize(size, size) * devicePixelRatio);
    pixmap.setDevicePixelRatio(devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(color, std::max(1.0, size / 12.0), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    drawFallback(p, QRectF(0.5, 0.5, size - 1.0, size - 1.0), symbol);
    return pixmap;
}

}  // namespace

}  // namespace quenlit::ui
