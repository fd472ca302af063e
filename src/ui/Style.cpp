#include "ui/Style.h"

#include <QFontDatabase>

namespace quenlit::ui::style {

QColor accent() {
    return QColor(0x0a, 0x84, 0xff);
}
QColor primaryText() {
    return QColor(0x1d, 0x1d, 0x1f);
}
QColor secondaryText() {
    return QColor(0x1d, 0x1d, 0x1f, 140);
}
QColor tertiaryText() {
    return QColor(0x1d, 0x1d, 0x1f, 77);
}
QColor quaternaryText() {
    return QColor(0x1d, 0x1d, 0x1f, 46);
}
// The window background at 0.94 under a light material: without a compositor the two read as
// one light grey, drawn opaque.
QColor windowBackground() {
    return QColor(0xf2, 0xf2, 0xf4);
}
QColor divider() {
    return QColor(0, 0, 0, 26);
}
QColor panelBorder() {
    return QColor(0, 0, 0, 64);
}

QFont font(int pixelSize, QFont::Weight weight) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::GeneralFont);
    f.setPixelSize(pixelSize);
    f.setWeight(weight);
    return f;
}

QFont monospace(int pixelSize) {
    QFont f = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    f.setPixelSize(pixelSize);
    return f;
}

}  // namespace quenlit::ui::style
