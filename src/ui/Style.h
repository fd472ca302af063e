#pragma once

// Colours and fonts shared by the panels' widgets. Sizes are the views' points, drawn as pixels.

#include <QColor>
#include <QFont>

namespace quenlit::ui::style {

QColor accent();
QColor primaryText();
QColor secondaryText();
QColor tertiaryText();
QColor quaternaryText();
QColor windowBackground();
QColor divider();
QColor panelBorder();
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospace(int pixelSize);

}  // namespace quenlit::ui::style
