#pragma once

// What the two panels share in their look: the rounded background with its hairline border, the
// corners cut by a mask where no compositor runs, and the search header over a divider.

#include <QString>

class QHBoxLayout;
class QLabel;
class QLineEdit;
class QToolButton;
class QVBoxLayout;
class QWidget;

namespace quenlit::ui {

// The rounded panel with its border, painted over the whole of `panel`.
void paintPanelBackground(QWidget& panel);
// Cuts the panel's corners, and those of its window when the panel fills it.
void maskPanelCorners(QWidget& panel);

// The search header: the magnifying glass, the field and its clear button, then the divider under
// them, added to `column` (the panel's vertical layout).
struct SearchHeader {
    QLabel* symbol = nullptr;
    QLineEdit* field = nullptr;
    QToolButton* clear = nullptr;
};
SearchHeader addSearchHeader(QWidget& panel, QVBoxLayout& column, const QString& placeholder, int fontSize);

// The small version label in the bottom-right corner.
QLabel* makeVersionLabel(QWidget* parent);

}  // namespace quenlit::ui
