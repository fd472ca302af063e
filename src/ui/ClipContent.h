#pragma once
// One widget of the clipboard panel; the panel (ClipboardPanelView) is its only user.

#include "ui/ClipboardDrawing.h"
#include "ui/PanelChrome.h"
#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QAbstractScrollArea>
#include <QCoreApplication>
#include <QFocusEvent>
#include <QHBoxLayout>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace quenlit::ui::clip {

// ---- The area under the header: list, separator and preview, or the empty state.

class ClipContent final : public QWidget {
  public:
    explicit ClipContent(QWidget* parent) : QWidget(parent) {}

    void setEmptyState(std::optional<ClipboardView::EmptyState> empty) {
        empty_ = std::move(empty);
        update();
    }
    const Drawn& drawn() const { return drawn_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        drawn_.clear();
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        if (!empty_) {
            p.fillRect(QRect(kListWidth, 0, 1, height()), separator());
            return;
        }
        // The symbol over the text, 6 apart, with 36 more above, the whole centred.
        const QFont font = style::font(13);
        const int textHeight = QFontMetrics(font).height();
        const int stack = 36 + 22 + 6 + textHeight;
        const int top = (height() - stack) / 2 + 36;
        p.drawPixmap(width() / 2 - 11, top,
                     symbolPixmap(empty_->symbol, 22, style::tertiaryText(), devicePixelRatioF()));
        p.setFont(font);
        p.setPen(style::tertiaryText());
        drawText(p, drawn_, QRect(0, top + 22 + 6, width(), textHeight), Qt::AlignHCenter | Qt::AlignTop,
                 QString::fromStdString(empty_->text));
    }

  private:
    std::optional<ClipboardView::EmptyState> empty_;
    Drawn drawn_;
};

}  // namespace quenlit::ui::clip
