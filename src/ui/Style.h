#pragma once

// Colours and fonts shared by the panels' widgets. Sizes are the views' points, drawn as pixels.
//
// The colours come in a light and a dark set, one of which is current: the desktop's colour scheme
// chooses it (setScheme), and every widget of the program follows, the standard ones (the search
// field, its placeholder, scroll bars, buttons) through the application palette, the panels' own
// drawing by reading these functions when it paints. Main thread only.

#include <QColor>
#include <QFont>
#include <QPalette>

#include <functional>

class QObject;

namespace quenlit::ui::style {

enum class Scheme { light, dark };

// The semantic colours of one scheme. Text colours are opaque, so their contrast against the
// background is what a reader sees.
struct Colors {
    QColor accent;  // the selection's background; white text is drawn on it
    QColor primaryText;
    QColor secondaryText;
    QColor tertiaryText;
    QColor quaternaryText;
    QColor windowBackground;
    QColor divider;
    QColor panelBorder;
    QColor destructive;  // the delete actions' red
    QColor cardBackground;
    QColor buttonBackground;
    QColor buttonPressed;
};

const Colors& colorsOf(Scheme scheme);
// The palette that makes Qt's own widgets draw in the scheme's colours.
QPalette paletteOf(Scheme scheme);

// The contrast ratio of a text colour over a background, as WCAG 2 defines it (1 to 21); a
// translucent text colour is first composed over the background.
double contrastRatio(const QColor& text, const QColor& background);

Scheme scheme();
// Makes `scheme` current: the application palette changes, the callbacks of followScheme run, and
// every widget is repainted. Nothing happens when it is current already (after the first call,
// which always sets the palette).
void setScheme(Scheme scheme);
// Runs `apply` now, and again whenever the scheme changes, for as long as `owner` lives: for what
// a widget takes once (a style sheet, a tinted pixmap, a palette of its own).
void followScheme(QObject* owner, std::function<void()> apply);

QColor accent();
QColor primaryText();
QColor secondaryText();
QColor tertiaryText();
QColor quaternaryText();
QColor windowBackground();
QColor divider();
QColor panelBorder();
QColor destructive();
QColor cardBackground();
QColor buttonBackground();
QColor buttonPressed();
QFont font(int pixelSize, QFont::Weight weight = QFont::Normal);
QFont monospace(int pixelSize);

}  // namespace quenlit::ui::style
