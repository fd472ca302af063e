#pragma once
// One widget of the clipboard panel; the panel (ClipboardPanelView) is its only user.

#include "ui/ClipboardDrawing.h"
#include "ui/PanelChrome.h"
#include "ui/RowList.h"
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

class ClipList final : public RowList {
  public:
    ClipList(ClipboardView& model, QWidget* parent) : RowList(parent), model_(model) {
        verticalScrollBar()->setSingleStep(kItemHeight / 2);
    }

    void setRows(std::vector<ClipboardView::Row> rows) {
        rows_ = std::move(rows);
        std::vector<int> heights;
        heights.reserve(rows_.size());
        for (const ClipboardView::Row& row : rows_)
            heights.push_back(heightOf(row));
        layOutRows(heights);
    }

    void scrollTo(const Uuid& id) {
        for (std::size_t i = 0; i < rows_.size(); ++i) {
            // The first entry brings its heading and the list's padding along.
            if (rows_[i].item && rows_[i].item->id == id) scrollToRow(i, i <= 1);
        }
    }

    const Drawn& drawn() const { return drawn_; }

  protected:
    void paintEvent(QPaintEvent* event) override {
        drawn_.clear();
        RowList::paintEvent(event);
    }

    void paintRow(QPainter& p, std::size_t i, const QRect& r) override {
        const ClipboardView::Row& row = rows_[i];
        if (row.kind == ClipboardView::ListRow::Kind::header)
            paintHeading(p, row, r);
        else
            paintItem(p, row, r);
    }

    void rowPressed(std::size_t i, Qt::MouseButton button) override {
        const ClipboardView::Row& row = rows_[i];
        if (!row.item) return;
        if (button == Qt::LeftButton) model_.clickRow(row.index);
        if (button == Qt::RightButton) model_.rightClickRow(*row.item);
    }

    void viewChanged() override { syncVisibleRows(); }

  private:
    struct Artwork {
        std::unique_ptr<ClipboardAsyncThumbnail> loader;
        Connection changed;
        QPixmap pixmap;
    };

    static int heightOf(const ClipboardView::Row& row) {
        return row.kind == ClipboardView::ListRow::Kind::header ? kHeadingHeight : kItemHeight;
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
        if (selected) paintSelection(p, r);
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
        auto measured = timeWidths_.find(row.timeLabel);
        if (measured == timeWidths_.end()) {
            if (timeWidths_.size() > kRemembered) timeWidths_.clear();
            measured =
                timeWidths_.emplace(row.timeLabel, QFontMetrics(timeFont).horizontalAdvance(time)).first;
        }
        const int timeWidth = measured->second;
        const QRect timeRect(r.right() - 10 - timeWidth + 1, r.top(), timeWidth, r.height());
        p.setFont(timeFont);
        p.setPen(selected ? withAlpha(Qt::white, 0.75) : style::secondaryText());
        if (!time.isEmpty()) drawText(p, drawn_, timeRect, Qt::AlignRight | Qt::AlignVCenter, time);

        const QFont titleFont = style::font(13);
        const int x = art.right() + 1 + 10;
        const int available = std::max(0, timeRect.left() - 10 - x);
        p.setFont(titleFont);
        p.setPen(selected ? QColor(Qt::white) : style::primaryText());
        // An entry's title is cut to the width once, not on every paint: the rows are painted
        // again on every keystroke, mostly the same entries.
        auto cut = elidedTitles_.find(row.id);
        if (cut == elidedTitles_.end() || cut->second.width != available) {
            if (elidedTitles_.size() > kRemembered) elidedTitles_.clear();
            const QString elided = QFontMetrics(titleFont).elidedText(QString::fromStdString(row.title),
                                                                      Qt::ElideRight, available);
            cut = elidedTitles_.insert_or_assign(row.id, ElidedTitle{available, elided}).first;
        }
        const QString& title = cut->second.text;
        drawText(p, drawn_, QRect(x, r.top(), available, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                 title);
    }

    struct ElidedTitle {
        int width = 0;
        QString text;
    };
    // Entries and time labels measured, by entry id and label; forgotten when they grow past
    // this, a few times the history's entries.
    static constexpr std::size_t kRemembered = 1000;

    ClipboardView& model_;
    std::vector<ClipboardView::Row> rows_;
    std::unordered_map<std::string, ElidedTitle> elidedTitles_;
    std::unordered_map<std::string, int> timeWidths_;
    std::unordered_map<std::string, Artwork> artworks_;
    std::unordered_set<std::string> laidOut_;
    Drawn drawn_;
};

}  // namespace quenlit::ui::clip
