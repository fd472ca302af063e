#include "ui/Style.h"

#include <QApplication>
#include <QFontDatabase>
#include <QPointer>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

namespace quenlit::ui::style {
namespace {

// The window background at 0.94 under a material: without a compositor the two read as one colour,
// drawn opaque. Every text colour keeps a contrast of at least 4.5:1 against it, and white keeps
// as much against the accent (the selected row), in both schemes.
const Colors kLight{
    QColor(0x00, 0x5f, 0xcc),  // accent
    QColor(0x1d, 0x1d, 0x1f),  // primary
    QColor(0x56, 0x56, 0x5b),  // secondary
    QColor(0x6a, 0x6a, 0x70),  // tertiary
    QColor(0x6e, 0x6e, 0x73),  // quaternary
    QColor(0xf2, 0xf2, 0xf4),  // window background
    QColor(0, 0, 0, 26),       // divider
    QColor(0, 0, 0, 64),       // panel border
    QColor(0xd7, 0x00, 0x15),  // destructive
    QColor(0xf6, 0xf6, 0xf8),  // card
    QColor(0xff, 0xff, 0xff),  // button
    QColor(0xe4, 0xe4, 0xe8),  // button pressed
};
const Colors kDark{
    QColor(0x0a, 0x5c, 0xd0),   // accent
    QColor(0xf2, 0xf2, 0xf7),   // primary
    QColor(0xb4, 0xb4, 0xbb),   // secondary
    QColor(0x92, 0x92, 0x99),   // tertiary
    QColor(0x8e, 0x8e, 0x95),   // quaternary
    QColor(0x24, 0x24, 0x27),   // window background
    QColor(255, 255, 255, 31),  // divider
    QColor(255, 255, 255, 46),  // panel border
    QColor(0xff, 0x6b, 0x61),   // destructive
    QColor(0x2e, 0x2e, 0x32),   // card
    QColor(0x3a, 0x3a, 0x3e),   // button
    QColor(0x4a, 0x4a, 0x4f),   // button pressed
};

Scheme gScheme = Scheme::light;
bool gApplied = false;  // the application palette has been set once

struct Follower {
    QPointer<QObject> owner;
    std::function<void()> apply;
};
std::vector<Follower>& followers() {
    static std::vector<Follower> list;
    return list;
}

double channel(double c) {
    return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}
double luminance(const QColor& c) {
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}

}  // namespace

const Colors& colorsOf(Scheme scheme) {
    return scheme == Scheme::dark ? kDark : kLight;
}

QPalette paletteOf(Scheme scheme) {
    const Colors& c = colorsOf(scheme);
    QPalette p;
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(group, QPalette::Window, c.windowBackground);
        p.setColor(group, QPalette::WindowText, c.primaryText);
        p.setColor(group, QPalette::Base, c.windowBackground);
        p.setColor(group, QPalette::AlternateBase, c.cardBackground);
        p.setColor(group, QPalette::Text, c.primaryText);
        p.setColor(group, QPalette::PlaceholderText, c.tertiaryText);
        p.setColor(group, QPalette::Button, c.buttonBackground);
        p.setColor(group, QPalette::ButtonText, c.primaryText);
        p.setColor(group, QPalette::BrightText, Qt::white);
        p.setColor(group, QPalette::Highlight, c.accent);
        p.setColor(group, QPalette::HighlightedText, Qt::white);
        p.setColor(group, QPalette::ToolTipBase, c.cardBackground);
        p.setColor(group, QPalette::ToolTipText, c.primaryText);
        p.setColor(group, QPalette::Link, c.accent);
        // What Fusion draws scroll bars, frames and bevels with.
        p.setColor(group, QPalette::Light, scheme == Scheme::dark ? c.buttonPressed : Qt::white);
        p.setColor(group, QPalette::Midlight, c.buttonPressed);
        p.setColor(group, QPalette::Mid, c.quaternaryText);
        p.setColor(group, QPalette::Dark, c.secondaryText);
        p.setColor(group, QPalette::Shadow, Qt::black);
    }
    p.setColor(QPalette::Disabled, QPalette::Text, c.tertiaryText);
    p.setColor(QPalette::Disabled, QPalette::WindowText, c.tertiaryText);
    p.setColor(QPalette::Disabled, QPalette::ButtonText, c.tertiaryText);
    return p;
}

double contrastRatio(const QColor& text, const QColor& background) {
    const double a = text.alphaF();
    const QColor composed =
        QColor::fromRgbF(static_cast<float>(text.redF() * a + background.redF() * (1 - a)),
                         static_cast<float>(text.greenF() * a + background.greenF() * (1 - a)),
                         static_cast<float>(text.blueF() * a + background.blueF() * (1 - a)));
    const double l1 = luminance(composed);
    const double l2 = luminance(background);
    return (std::max(l1, l2) + 0.05) / (std::min(l1, l2) + 0.05);
}

Scheme scheme() {
    return gScheme;
}

void setScheme(Scheme scheme) {
    // The first call sets the palette whatever the scheme: until then Qt's widgets draw with the
    // platform theme's, which may be the other scheme's.
    if (scheme == gScheme && gApplied) return;
    gScheme = scheme;
    gApplied = true;
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr)
        QApplication::setPalette(paletteOf(scheme));
    auto& list = followers();
    list.erase(std::remove_if(list.begin(), list.end(), [](const Follower& f) { return f.owner.isNull(); }),
               list.end());
    // Copies: a callback may add followers of its own.
    const auto current = list;
    for (const Follower& f : current) {
        if (!f.owner.isNull()) f.apply();
    }
    if (qobject_cast<QApplication*>(QCoreApplication::instance()) != nullptr) {
        for (QWidget* widget : QApplication::allWidgets())
            widget->update();
    }
}

void followScheme(QObject* owner, std::function<void()> apply) {
    apply();
    followers().push_back({owner, std::move(apply)});
}

QColor accent() {
    return colorsOf(gScheme).accent;
}
QColor primaryText() {
    return colorsOf(gScheme).primaryText;
}
QColor secondaryText() {
    return colorsOf(gScheme).secondaryText;
}
QColor tertiaryText() {
    return colorsOf(gScheme).tertiaryText;
}
QColor quaternaryText() {
    return colorsOf(gScheme).quaternaryText;
}
QColor windowBackground() {
    return colorsOf(gScheme).windowBackground;
}
QColor divider() {
    return colorsOf(gScheme).divider;
}
QColor panelBorder() {
    return colorsOf(gScheme).panelBorder;
}
QColor destructive() {
    return colorsOf(gScheme).destructive;
}
QColor cardBackground() {
    return colorsOf(gScheme).cardBackground;
}
QColor buttonBackground() {
    return colorsOf(gScheme).buttonBackground;
}
QColor buttonPressed() {
    return colorsOf(gScheme).buttonPressed;
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
