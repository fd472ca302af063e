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

// ---- The actions menu over the list, with the transparent layer around it that closes it.

class ClipMenuOverlay final : public QWidget {
  public:
    ClipMenuOverlay(ClipboardView& model, ClipboardActionsModel& menu, QWidget* parent)
        : QWidget(parent), model_(model), menuModel_(menu) {
        setAttribute(Qt::WA_NoSystemBackground);
        hide();
    }

    void setMenu(std::optional<ClipboardView::Menu> menu) {
        menu_ = std::move(menu);
        setVisible(menu_.has_value());
        if (menu_) raise();
        update();
    }
    const Drawn& drawn() const { return drawn_; }

  protected:
    QRect card() const {
        if (!menu_) return {};
        return QRect(static_cast<int>(menu_->center.x) - kMenuWidth / 2,
                     static_cast<int>(menu_->center.y) - kMenuHeight / 2, kMenuWidth, kMenuHeight);
    }

    void paintEvent(QPaintEvent*) override {
        drawn_.clear();
        if (!menu_) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRect c = card();
        // The shadow: faint layers, darkest at the card's edge, 3 down.
        p.setPen(Qt::NoPen);
        for (int i = 8; i >= 1; --i) {
            p.setBrush(QColor(0, 0, 0, 5));
            p.drawRoundedRect(QRectF(c.translated(0, 3)).adjusted(-i, -i, i, i), 10 + i, 10 + i);
        }
        QPainterPath shape;
        shape.addRoundedRect(QRectF(c), 10, 10);
        p.fillPath(shape, withAlpha(style::windowBackground(), 0.94));
        p.save();
        p.setClipPath(shape);

        const auto& content = menu_->content;
        const QFont headingFont = style::font(11);
        p.setFont(headingFont);
        p.setPen(style::secondaryText());
        const QRect heading(c.left() + 12, c.top(), c.width() - 24, kMenuHeadingHeight);
        drawText(p, drawn_, heading, Qt::AlignLeft | Qt::AlignVCenter,
                 QFontMetrics(headingFont)
                     .elidedText(QString::fromStdString(content.header), Qt::ElideRight, heading.width()));
        p.fillRect(QRect(c.left(), c.top() + kMenuHeadingHeight, c.width(), 1), style::divider());

        const QFont titleFont = style::font(13);
        for (std::size_t i = 0; i < content.rows.size(); ++i) {
            const auto& row = content.rows[i];
            const QRect r = rowRect(i);
            if (row.isSelected) p.fillRect(r, style::accent());
            const QColor symbolColor = row.isRed        ? red()
                                       : row.isSelected ? QColor(Qt::white)
                                                        : style::secondaryText();
            const QColor titleColor = row.isRed        ? red()
                                      : row.isSelected ? QColor(Qt::white)
                                                       : style::primaryText();
            p.drawPixmap(r.left() + 12 + 3, r.top() + (r.height() - 12) / 2,
                         symbolPixmap(row.symbol, 12, symbolColor, devicePixelRatioF()));
            p.setFont(titleFont);
            p.setPen(titleColor);
            const int x = r.left() + 12 + 18 + 8;
            drawText(p, drawn_, QRect(x, r.top(), r.right() - 12 - x, r.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, QString::fromStdString(row.title));
        }
        p.restore();
        p.setPen(QPen(withAlpha(style::primaryText(), 0.1), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(c).adjusted(0.5, 0.5, -0.5, -0.5), 9.5, 9.5);
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (!menu_) return;
        const QPoint at = event->position().toPoint();
        if (!card().contains(at)) {
            model_.menuOverlayClicked();
            return;
        }
        for (std::size_t i = 0; i < menu_->content.rows.size(); ++i) {
            if (!rowRect(i).contains(at)) continue;
            // A copy: performing may close the menu and replace what this widget holds.
            const ClipboardMenuAction action = menu_->content.rows[i].action;
            menuModel_.perform(action);
            return;
        }
    }

  private:
    QRect rowRect(std::size_t i) const {
        const QRect c = card();
        return QRect(c.left(), c.top() + kMenuHeadingHeight + 1 + static_cast<int>(i) * kMenuRowHeight,
                     c.width(), kMenuRowHeight);
    }

    ClipboardView& model_;
    ClipboardActionsModel& menuModel_;
    std::optional<ClipboardView::Menu> menu_;
    Drawn drawn_;
};

}  // namespace quenlit::ui::clip
