#include "ui/PanelChrome.h"

#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPainterPath>
#include <QToolButton>
#include <QVBoxLayout>
#include <QWidget>

namespace quenlit::ui {

void paintPanelBackground(QWidget& panel) {
    QPainter p(&panel);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    path.addRoundedRect(QRectF(panel.rect()), 10, 10);
    p.fillPath(path, style::windowBackground());
    // A hairline keeps the panel apart from a light window behind it; inset half a pixel so the
    // whole line lies on the panel's own pixels, inside the rounded mask.
    p.setPen(QPen(style::panelBorder(), 1));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(panel.rect()).adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);
}

void maskPanelCorners(QWidget& panel) {
    // Without a compositor the corners are cut by a mask instead of transparency.
    QPainterPath path;
    path.addRoundedRect(QRectF(panel.rect()), 10, 10);
    const QRegion rounded(path.toFillPolygon().toPolygon());
    panel.setMask(rounded);
    // The panel's own window is cut the same way, so no square corner shows behind the view.
    QWidget* window = panel.window();
    if (window != &panel && window->size() == panel.size()) window->setMask(rounded);
}

SearchHeader addSearchHeader(QWidget& panel, QVBoxLayout& column, const QString& placeholder, int fontSize) {
    SearchHeader h;
    auto* header = new QHBoxLayout();
    header->setContentsMargins(14, 10, 14, 10);
    header->setSpacing(10);
    h.symbol = new QLabel(&panel);
    h.symbol->setFixedSize(16, 16);
    h.field = new QLineEdit(&panel);
    h.field->setFrame(false);
    h.field->setPlaceholderText(placeholder);
    h.field->setFont(style::font(fontSize));
    h.field->setFixedHeight(28);
    h.field->setAttribute(Qt::WA_MacShowFocusRect, false);
    // A style sheet fixes the palette the field was polished with: the scheme's colours are given
    // again each time it changes, or the typed text would keep the other scheme's colour.
    QLineEdit* field = h.field;
    style::followScheme(field, [field] {
        QPalette palette = field->palette();
        palette.setColor(QPalette::Text, style::primaryText());
        palette.setColor(QPalette::PlaceholderText, style::tertiaryText());
        palette.setColor(QPalette::Highlight, style::accent());
        palette.setColor(QPalette::HighlightedText, Qt::white);
        field->setPalette(palette);
        field->setStyleSheet(QString("QLineEdit { background: transparent; border: none; color: %1; }")
                                 .arg(style::primaryText().name()));
    });
    h.clear = new QToolButton(&panel);
    h.clear->setAutoRaise(true);
    h.clear->setFocusPolicy(Qt::NoFocus);
    QToolButton* clear = h.clear;
    style::followScheme(clear, [clear, &panel] {
        clear->setIcon(
            QIcon(symbolPixmap("xmark.circle.fill", 14, style::tertiaryText(), panel.devicePixelRatioF())));
    });
    h.clear->setIconSize(QSize(14, 14));
    h.clear->setStyleSheet("QToolButton { border: none; background: transparent; }");
    header->addWidget(h.symbol);
    header->addWidget(h.field, 1);
    header->addWidget(h.clear);
    column.addLayout(header);

    auto* line = new QWidget(&panel);
    line->setFixedHeight(1);
    style::followScheme(line, [line] {
        line->setStyleSheet(QString("background: %1;").arg(style::divider().name(QColor::HexArgb)));
    });
    column.addWidget(line);
    return h;
}

QLabel* makeVersionLabel(QWidget* parent) {
    auto* label = new QLabel(parent);
    label->setFont(style::font(9, QFont::Light));
    style::followScheme(label, [label] {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, style::quaternaryText());
        label->setPalette(palette);
    });
    return label;
}

}  // namespace quenlit::ui
