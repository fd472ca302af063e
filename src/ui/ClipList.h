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

// ---- The history list: rows laid out from their heights alone, painted only in view.

class ClipList final : public QAbstractScrollArea {
  public:
    ClipList(ClipboardView& model, QWidget* parent) : QAbstractScrollArea(parent), model_(model) {
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        // The search field keeps the keyboard: neither a click on a row nor Tab may take it.
        setFocusPolicy(Qt::NoFocus);
        viewport()->setFocusPolicy(Qt::NoFocus);
        verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
        setAutoFillBackground(false);
        viewport()->setAutoFillBackground(false);
        setContextMenuPolicy(Qt::NoContextMenu);
    }

    void setRows(std::vector<ClipboardView::Row> rows) {
        rows_ = std::move(rows);
        tops_.resize(rows_.size());
        int y = kListPadY;
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            tops_[i] = y;
            y += heightOf(rows_[i]) + kRowSpacing;
        }
        contentHeight_ = rows_.empty() ? 0 : y - kRowSpacing + kListPadY;
        updateRange();
        syncVisibleRows();
        viewport()->update();
    }

    void scrollTo(const Uuid& id) {
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            if (!rows_[i].item || rows_[i].item->id != id) continue;
            // The first entry brings its heading and the list's padding along, the last one the
            // padding below it; otherwise just enough to show the row.
            const int top = i <= 1 ? 0 : tops_[i];
            const int bottom = tops_[i] + kItemHeight + (i + 1 == rows_.size() ? kListPadY : 0);
            const int y = verticalScrollBar()->value();
            if (top < y) verticalScrollBar()->setValue(top);
            if (bottom > y + viewport()->height())
                verticalScrollBar()->setValue(bottom - viewport()->height());
            return;
        }
    }

    const Drawn& drawn() const { return drawn_; }

  protected:
    void paintEvent(QPaintEvent*) override {
        drawn_.clear();
        QPainter p(viewport());
        p.setRenderHint(QPainter::Antialiasing);
        const auto [first, last] = visibleRange();
        for (std::size_t i = first; i < last; ++i) {
            const ClipboardView::Row& row = rows_[i];
            if (row.kind == ClipboardView::ListRow::Kind::header)
                paintHeading(p, row, rowRect(i));
            else
                paintItem(p, row, rowRect(i));
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        const auto index = rowAt(static_cast<int>(event->position().y()));
        if (!index || !rows_[*index].item) return;
        const ClipboardView::Row& row = rows_[*index];
        if (event->button() == Qt::LeftButton) model_.clickRow(row.index);
        if (event->button() == Qt::RightButton) model_.rightClickRow(*row.item);
    }

    void resizeEvent(QResizeEvent* event) override {
        QAbstractScrollArea::resizeEvent(event);
        updateRange();
        syncVisibleRows();
    }

    void scrollContentsBy(int, int) override {
        syncVisibleRows();
        viewport()->update();
    }

  private:
    struct Artwork {
        std::unique_ptr<ClipboardAsyncThumbnail> loader;
        Connection changed;
        QPixmap pixmap;
    };

    static int heightOf(const ClipboardView::Row& row) {
        return row.kind == ClipboardView::ListRow::Kind::header ? kHeadingHeight : kItemHeight;
    }

    void updateRange() {
        verticalScrollBar()->setRange(0, std::max(0, contentHeight_ - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
        verticalScrollBar()->setSingleStep(kItemHeight / 2);
    }

    // The rows that intersect the viewport, as [first, last).
    std::pair<std::size_t, std::size_t> visibleRange() const {
        const int top = verticalScrollBar()->value();
        const int bottom = top + viewport()->height();
        // The first row whose bottom lies below the viewport's top.
        auto it = std::upper_bound(tops_.begin(), tops_.end(), top);
        std::size_t first = static_cast<std::size_t>(it - tops_.begin());
        if (first > 0) --first;
        std::size_t last = first;
        while (last < rows_.size() && tops_[last] < bottom)
            ++last;
        return {first, last};
    }

    // In the viewport's coordinates, which are the list's coordinate space.
    QRect rowRect(std::size_t i) const {
        return QRect(kListPadX, tops_[i] - verticalScrollBar()->value(), viewport()->width() - 2 * kListPadX,
                     heightOf(rows_[i]));
    }

    std::optional<std::size_t> rowAt(int viewportY) const {
        const int y = viewportY + verticalScrollBar()->value();
        auto it = std::upper_bound(tops_.begin(), tops_.end(), y);
        if (it == tops_.begin()) return std::nullopt;
        const auto i = static_cast<std::size_t>(it - tops_.begin()) - 1;
        if (y >= tops_[i] + heightOf(rows_[i])) return std::nullopt;
        return i;
    }

    // Reports the frames of the entries in view (a row coming into view is laid out for the first
    // time; one that stays may have moved) and keeps one picture loader per image row in view.
    void syncVisibleRows() {
        const auto [first, last] = visibleRange();
        std::unordered_set<std::string> inView;
        std::unordered_map<std::string, Artwork> artworks;
        const qreal dpr = devicePixelRatioF();
        for (std::size_t i = first; i < last; ++i) {
            const ClipboardView::Row& row = rows_[i];
            if (!row.item) continue;
            const QRect r = rowRect(i);
            const platform::Rect frame{static_cast<double>(r.x()), static_cast<double>(r.y()),
                                       static_cast<double>(r.width()), static_cast<double>(r.height())};
            if (laidOut_.count(row.id) != 0)
                model_.rowFrameChanged(*row.item, frame);
            else
                model_.rowDidLayOut(*row.item, frame);
            inView.insert(row.id);
            if (!row.imageURL) continue;
            Artwork artwork;
            if (auto it = artworks_.find(row.id); it != artworks_.end()) {
                artwork = std::move(it->second);
                artworks_.erase(it);
            } else {
                artwork.loader = model_.makeThumbnail();
            }
            ClipboardAsyncThumbnail* loader = artwork.loader.get();
            const std::string id = row.id;
            artwork.changed = loader->changed.connect([this, loader, id, dpr] {
                auto it = artworks_.find(id);
                if (it == artworks_.end()) return;
                it->second.pixmap = loader->image() ? rowArtwork(*loader->image(), dpr) : QPixmap();
                viewport()->update();
            });
            artworks.emplace(id, std::move(artwork));
        }
        // Loaders of rows that left the view are cancelled with them.
        artworks_ = std::move(artworks);
        laidOut_ = std::move(inView);
        for (std::size_t i = first; i < last; ++i) {
            const ClipboardView::Row& row = rows_[i];
            if (!row.imageURL) continue;
            if (auto it = artworks_.find(row.id); it != artworks_.end()) {
                it->second.loader->request(row.imageURL, ClipboardView::kRowThumbnailPixels);
                if (it->second.pixmap.isNull() && it->second.loader->image())
                    it->second.pixmap = rowArtwork(*it->second.loader->image(), dpr);
            }
        }
    }

    void paintHeading(QPainter& p, const ClipboardView::Row& row, const QRect& r) {
        const QFont font = style::font(11, QFont::DemiBold);
        p.setFont(font);
        p.setPen(style::secondaryText());
        const QRect text(r.left() + 12, r.top() + 8, r.width() - 12, r.height() - 8);
        drawText(
            p, drawn_, text, Qt::AlignLeft | Qt::AlignVCenter,
            QFontMetrics(font).elidedText(QString::fromStdString(row.title), Qt::ElideRight, text.width()));
    }

    void paintItem(QPainter& p, const ClipboardView::Row& row, const QRect& r) {
        const bool selected = row.isSelected;
        if (selected) {
            QPainterPath path;
            path.addRoundedRect(QRectF(r), 6, 6);
            p.fillPath(path, style::accent());
        }
        const QRect art(r.left() + 10, r.top() + 7, kArtwork, kArtwork);
        const auto artwork = artworks_.find(row.id);
        if (artwork != artworks_.end() && !artwork->second.pixmap.isNull()) {
            p.drawPixmap(art.topLeft(), artwork->second.pixmap);
        } else {
            const QColor color = selected ? withAlpha(Qt::white, 0.9) : style::secondaryText();
            p.drawPixmap(art.left() + (kArtwork - 14) / 2, art.top() + (kArtwork - 14) / 2,
                         symbolPixmap(row.symbol, 14, color, devicePixelRatioF()));
        }

        const QFont timeFont = style::font(11);
        const QString time = QString::fromStdString(row.timeLabel);
        const int timeWidth = QFontMetrics(timeFont).horizontalAdvance(time);
        const QRect timeRect(r.right() - 10 - timeWidth + 1, r.top(), timeWidth, r.height());
        p.setFont(timeFont);
        p.setPen(selected ? withAlpha(Qt::white, 0.75) : style::secondaryText());
        if (!time.isEmpty()) drawText(p, drawn_, timeRect, Qt::AlignRight | Qt::AlignVCenter, time);

        const QFont titleFont = style::font(13);
        const int x = art.right() + 1 + 10;
        const int available = std::max(0, timeRect.left() - 10 - x);
        p.setFont(titleFont);
        p.setPen(selected ? QColor(Qt::white) : style::primaryText());
        const QString title =
            QFontMetrics(titleFont).elidedText(QString::fromStdString(row.title), Qt::ElideRight, available);
        drawText(p, drawn_, QRect(x, r.top(), available, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                 title);
    }

    ClipboardView& model_;
    std::vector<ClipboardView::Row> rows_;
    std::vector<int> tops_;
    int contentHeight_ = 0;
    std::unordered_map<std::string, Artwork> artworks_;
    std::unordered_set<std::string> laidOut_;
    Drawn drawn_;
};

}  // namespace quenlit::ui::clip
