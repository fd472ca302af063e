#pragma once

// The system-symbol names the views use, mapped onto freedesktop icon names, with a drawn stand-in
// when the icon theme has none (so a bare desktop still shows every symbol).

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

#include <string_view>
#include <vector>

namespace quenlit::ui {

// Freedesktop names to try for a symbol, in order of preference.
std::vector<QString> themeNamesForSymbol(std::string_view symbol);

// The symbol at `size` device-independent pixels in `color`: from the theme when it has one of the
// names, otherwise drawn.
QPixmap symbolPixmap(std::string_view symbol, int size, const QColor& color, qreal devicePixelRatio = 1.0);

}  // namespace quenlit::ui
