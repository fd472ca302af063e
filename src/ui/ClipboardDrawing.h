#pragma once
// What the clipboard panel's widgets share: their measures and how they draw pictures and text.

#include "ui/ClipboardPanelView.h"
#include "ui/RowList.h"

#include <QColor>
#include <QPainter>
#include <QPixmap>
#include <QRect>
#include <QString>

#include <vector>

namespace quenlit::ui::clip {

using Drawn = std::vector<ClipboardPanelView::DrawnText>;

inline constexpr int kHeaderHeight = 48;  // 10 + the 28-point field + 10
inline constexpr int kListWidth = static_cast<int>(ClipboardView::kListWidth);
inline constexpr int kArtwork = static_cast<int>(ClipboardView::kArtworkSize);
inline constexpr int kItemHeight = 7 + kArtwork + 7;
inline constexpr int kHeadingHeight = 8 + 16;  // 8 above the line
inline constexpr int kPreviewMargin = 12;
inline constexpr int kMenuWidth = static_cast<int>(ClipboardActionsMenuView::kWidth);
inline constexpr int kMenuHeadingHeight = 24;
inline constexpr int kMenuRowHeight = 30;
inline constexpr int kMenuHeight = kMenuHeadingHeight + 1 + 4 * kMenuRowHeight;

QColor withAlpha(QColor c, double alpha);
QColor red();
QColor separator();
// A decoded picture as Qt's image, sharing the bitmap's pixels for as long as the image lives.
QImage imageOf(const platform::Bitmap& bitmap);
// A row's picture: resized to fill the square, cut to rounded corners.
QPixmap rowArtwork(const platform::Bitmap& bitmap, qreal dpr);
// Draws the text and records where, for tests that read what the panel shows.
void drawText(QPainter& p, Drawn& drawn, const QRect& rect, int flags, const QString& text);

}  // namespace quenlit::ui::clip
