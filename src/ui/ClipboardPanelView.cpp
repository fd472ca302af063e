#include "ui/ClipboardPanelView.h"

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

namespace quenlit::ui {
namespace {

using Drawn = std::vector<ClipboardPanelView::DrawnText>;

constexpr int kHeaderHeight = 48;  // 10 + the 28-point field + 10
constexpr int kListWidth = static_cast<int>(ClipboardView::kListWidth);
constexpr int kListPadX = 8;
constexpr int kListPadY = 6;
constexpr int kRowSpacing = 1;
constexpr int kArtwork = static_cast<int>(ClipboardView::kArtworkSize);
constexpr int kItemHeight = 7 + kArtwork + 7;
constexpr int kHeadingHeight = 8 + 16;  // 8 above the line
constexpr int kPreviewMargin = 12;
constexpr int kMenuWidth = static_cast<int>(ClipboardActionsMenuView::kWidth);
constexpr int kMenuHeadingHeight = 24;
constexpr int kMenuRowHeight = 30;
constexpr int kMenuHeight = kMenuHeadingHeight + 1 + 4 * kMenuRowHeight;

QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(static_cast<float>(alpha));
    return c;
}

QColor red() {
    return QColor(0xff, 0x3b, 0x30);
}

QColor separator() {
    return withAlpha(style::primaryText(), 0.08);
}

// A decoded picture as Qt's image, sharing the bitmap's pixels for as long as the image lives.
QImage imageOf(const platform::Bitmap& bitmap) {
    if (!bitmap.pixels || bitmap.width <= 0 || bitmap.height <= 0) return {};
    auto* keep = new std::shared_ptr<const std::vector<std::uint8_t>>(bitmap.pixels);
    return QImage(
        (*keep)->data(), bitmap.width, bitmap.height, bitmap.bytesPerRow, QImage::Format_ARGB32_Premultiplied,
        [](void* info) { delete static_cast<std::shared_ptr<const std::vector<std::uint8_t>>*>(info); },
        keep);
}

// A row's picture: resized to fill the square, cut to rounded corners.
QPixmap rowArtwork(const platform::Bitmap& bitmap, qreal dpr) {
    const QImage image = imageOf(bitmap);
    if (image.isNull()) return {};
    const int side = static_cast<int>(kArtwork * dpr);
    const QImage filled = image.scaled(side, side, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    QPixmap out(side, side);
    out.fill(Qt::transparent);
    QPainter p(&out);
    p.setRenderHint(QPainter::Antialiasing);
    QPainterPath clip;
    clip.addRoundedRect(QRectF(0, 0, side, side), 4 * dpr, 4 * dpr);
    p.setClipPath(clip);
    p.drawImage(QPoint((side - filled.width()) / 2, (side - filled.height()) / 2), filled);
    p.end();
    out.setDevicePixelRatio(dpr);
    return out;
}

void drawText(QPainter& p, Drawn& drawn, const QRect& rect, int flags, const QString& text) {
    p.drawText(rect, flags, text);
    QRect bounds = p.fontMetrics().boundingRect(rect, flags, text);
    drawn.push_back({text, bounds});
}

}  // namespace

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

// ---- The preview of the selected entry.

// The preview's text. The editor lays out a paragraph whole, and a line of 100,000 characters
// would take several frames: long lines are handed to it in pieces that end at a blank where one
// is near, each piece a paragraph of its own, so only the pieces in view are laid out. Copying
// joins the pieces again, so what is copied is the entry's text.
class PreviewText final : public QPlainTextEdit {
  public:
    using QPlainTextEdit::QPlainTextEdit;

    void setEntryText(const QString& text) {
        constexpr int kPiece = 1000;
        constexpr int kBlankWindow = 120;
        continuations_.clear();
        QString shown;
        shown.reserve(text.size() + text.size() / kPiece + 1);
        const QStringView all(text);
        int block = 0;
        for (qsizetype start = 0; start <= all.size();) {
            qsizetype end = all.indexOf(QLatin1Char('\n'), start);
            if (end < 0) end = all.size();
            // One line of the entry, in pieces when long; a piece ends after the last blank of
            // its tail, else at its length (never inside a pair of surrogates).
            qsizetype from = start;
            while (end - from > kPiece) {
                qsizetype cut = from + kPiece;
                for (qsizetype j = cut - 1; j > cut - kBlankWindow; --j) {
                    if (all[j].isSpace()) {
                        cut = j + 1;
                        break;
                    }
                }
                if (all[cut].isLowSurrogate()) ++cut;
                shown += all.mid(from, cut - from);
                shown += QLatin1Char('\n');
                continuations_.insert(++block);
                from = cut;
            }
            shown += all.mid(from, end - from);
            if (end == all.size()) break;
            shown += QLatin1Char('\n');
            ++block;
            start = end + 1;
        }
        setPlainText(shown);
    }

    QString entryText(int from, int to) const {
        QString out;
        for (QTextBlock b = document()->findBlock(from); b.isValid() && b.position() <= to; b = b.next()) {
            if (b.position() > from && !continuations_.count(b.blockNumber())) out += QLatin1Char('\n');
            const int start = std::max(from, b.position()) - b.position();
            const int end = std::min(to, b.position() + b.length() - 1) - b.position();
            if (end > start) out += b.text().mid(start, end - start);
        }
        return out;
    }

  protected:
    QMimeData* createMimeDataFromSelection() const override {
        const QTextCursor cursor = textCursor();
        auto* data = new QMimeData;
        data->setText(entryText(cursor.selectionStart(), cursor.selectionEnd()));
        return data;
    }

  private:
    std::unordered_set<int> continuations_;
};

class ClipPreview final : public QWidget {
  public:
    ClipPreview(ClipboardView& model, QWidget* parent) : QWidget(parent), loader_(model.makeThumbnail()) {
        text_ = new PreviewText(this);
        text_->setReadOnly(true);
        text_->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        // Selecting with the mouse works without the keyboard; the search field keeps it.
        text_->setFocusPolicy(Qt::NoFocus);
        text_->setFrameShape(QFrame::NoFrame);
        text_->setFont(style::monospace(12));
        text_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        text_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        text_->setStyleSheet("QPlainTextEdit { background: transparent; border: none; }");
        text_->viewport()->setAutoFillBackground(false);
        text_->document()->setDocumentMargin(kPreviewMargin);
        QPalette palette = text_->palette();
        palette.setColor(QPalette::Text, style::primaryText());
        text_->setPalette(palette);
        text_->hide();
        imageChanged_ = loader_->changed.connect([this] {
            image_ = loader_->image() ? imageOf(*loader_->image()) : QImage();
            scaled_ = QPixmap();
            update();
        });
    }

    // Writes the text only when another entry is selected: laying out a long text is not work
    // for every change of the list.
    void present(const ClipboardView::Preview& preview, const std::string& entryId) {
        kind_ = preview.kind;
        const bool isText = preview.kind == ClipboardView::Preview::Kind::text;
        if (isText && shownText_ != entryId) {
            shownText_ = entryId;
            text_->setEntryText(QString::fromStdString(preview.text));
        } else if (!isText && !shownText_.empty()) {
            shownText_.clear();
            text_->clear();
        }
        text_->setVisible(isText);
        loader_->request(
            preview.kind == ClipboardView::Preview::Kind::image ? preview.imageURL : std::nullopt,
            ClipboardView::kPreviewThumbnailPixels);
        update();
    }

    QString text() const {
        return text_->isVisible() ? text_->entryText(0, text_->document()->characterCount() - 1) : QString();
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        text_->setGeometry(rect());
        scaled_ = QPixmap();
    }

    void paintEvent(QPaintEvent*) override {
        if (kind_ != ClipboardView::Preview::Kind::image) return;
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        const QRect area = rect().adjusted(kPreviewMargin, kPreviewMargin, -kPreviewMargin, -kPreviewMargin);
        if (image_.isNull()) {
            p.drawPixmap(area.center().x() - 18 + 1, area.center().y() - 18 + 1,
                         symbolPixmap("photo", 36, style::tertiaryText(), devicePixelRatioF()));
            return;
        }
        const QSize fitted = image_.size().scaled(area.size(), Qt::KeepAspectRatio);
        const QRect target(area.left() + (area.width() - fitted.width()) / 2,
                           area.top() + (area.height() - fitted.height()) / 2, fitted.width(),
                           fitted.height());
        const qreal dpr = devicePixelRatioF();
        // Scaled once per picture and size, not on every paint.
        if (scaled_.isNull() || scaled_.size() != target.size() * dpr) {
            scaled_ = QPixmap::fromImage(
                image_.scaled(target.size() * dpr, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
            scaled_.setDevicePixelRatio(dpr);
        }
        QPainterPath clip;
        clip.addRoundedRect(QRectF(target), 8, 8);
        p.save();
        p.setClipPath(clip);
        p.drawPixmap(target.topLeft(), scaled_);
        p.restore();
        p.setPen(QPen(separator(), 1));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(QRectF(target).adjusted(0.5, 0.5, -0.5, -0.5), 7.5, 7.5);
    }

  private:
    std::unique_ptr<ClipboardAsyncThumbnail> loader_;
    Connection imageChanged_;
    PreviewText* text_;
    ClipboardView::Preview::Kind kind_ = ClipboardView::Preview::Kind::none;
    std::string shownText_;
    QImage image_;
    QPixmap scaled_;
};

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

// ---- The delete-all confirmation: a card over the dimmed content.

class ClipConfirmation final : public QWidget {
  public:
    ClipConfirmation(ClipboardView& model, QWidget* parent) : QWidget(parent) {
        auto* outer = new QVBoxLayout(this);
        outer->setContentsMargins(0, 0, 0, 0);
        card_ = new Card(this);
        outer->addWidget(card_, 0, Qt::AlignCenter);
        auto* column = new QVBoxLayout(card_);
        column->setContentsMargins(20, 20, 20, 20);
        column->setSpacing(14);
        title_ = new QLabel(card_);
        title_->setFont(style::font(14, QFont::DemiBold));
        title_->setAlignment(Qt::AlignCenter);
        message_ = new QLabel(card_);
        message_->setFont(style::font(12));
        message_->setAlignment(Qt::AlignCenter);
        message_->setWordWrap(true);
        QPalette secondary = message_->palette();
        secondary.setColor(QPalette::WindowText, style::secondaryText());
        message_->setPalette(secondary);
        QPalette primary = title_->palette();
        primary.setColor(QPalette::WindowText, style::primaryText());
        title_->setPalette(primary);
        column->addWidget(title_);
        column->addWidget(message_, 0, Qt::AlignHCenter);
        auto* buttons = new QHBoxLayout();
        buttons->setSpacing(10);
        buttons->addStretch(1);
        cancel_ = new QPushButton(card_);
        confirm_ = new QPushButton(card_);
        for (QPushButton* button : {cancel_, confirm_}) {
            // Return and Escape reach the menu's key handler; the buttons never take the keyboard.
            button->setFocusPolicy(Qt::NoFocus);
            button->setFont(style::font(13));
            button->setMinimumWidth(96);
            button->setFixedHeight(28);
            buttons->addWidget(button);
        }
        buttons->addStretch(1);
        cancel_->setStyleSheet(
            "QPushButton { background: white; color: #1d1d1f; border: 1px solid rgba(0,0,0,0.18);"
            " border-radius: 6px; padding: 0 14px; }"
            "QPushButton:pressed { background: #e4e4e8; }");
        confirm_->setStyleSheet(
            "QPushButton { background: #ff3b30; color: white; border: none; border-radius: 6px;"
            " padding: 0 14px; }"
            "QPushButton:pressed { background: #d9322a; }");
        column->addLayout(buttons);
        QObject::connect(cancel_, &QPushButton::clicked, [&model] { model.cancelDeleteAll(); });
        QObject::connect(confirm_, &QPushButton::clicked, [&model] { model.confirmDeleteAll(); });
        hide();
    }

    void setConfirmation(const std::optional<ClipboardView::Confirmation>& confirmation) {
        if (confirmation) {
            title_->setText(QString::fromStdString(confirmation->title));
            message_->setText(QString::fromStdString(confirmation->message));
            // Wrapped within 300 points; the card's layout does not ask a label its height for a
            // width, so it is given here.
            message_->setFixedSize(300, message_->heightForWidth(300));
            cancel_->setText(QString::fromStdString(confirmation->cancelTitle));
            confirm_->setText(QString::fromStdString(confirmation->confirmTitle));
            raise();
        }
        setVisible(confirmation.has_value());
    }

  protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.fillRect(rect(), QColor(0, 0, 0, 64));
    }
    // Clicks on the dimmed area go nowhere.
    void mousePressEvent(QMouseEvent*) override {}

  private:
    class Card final : public QWidget {
      public:
        using QWidget::QWidget;

      protected:
        void paintEvent(QPaintEvent*) override {
            QPainter p(this);
            p.setRenderHint(QPainter::Antialiasing);
            QPainterPath shape;
            shape.addRoundedRect(QRectF(rect()), 12, 12);
            p.fillPath(shape, QColor(0xf6, 0xf6, 0xf8));
            p.setPen(QPen(style::panelBorder(), 1));
            p.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), 11.5, 11.5);
        }
    };

    Card* card_;
    QLabel* title_;
    QLabel* message_;
    QPushButton* cancel_;
    QPushButton* confirm_;
};

// ---- The panel.

ClipboardPanelView::ClipboardPanelView(ClipboardView& model, ClipboardActionsModel& menu, QWidget* parent)
    : QWidget(parent), model_(model) {
    setFixedSize(680, 420);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    const SearchHeader header =
        addSearchHeader(*this, *column, QString::fromUtf8(ClipboardView::kPlaceholder),
                        static_cast<int>(ClipboardView::kSearchFontSize));
    symbol_ = header.symbol;
    field_ = header.field;
    clear_ = header.clear;
    field_->installEventFilter(this);

    content_ = new ClipContent(this);
    column->addWidget(content_, 1);
    const int contentHeight = height() - kHeaderHeight - 1;
    content_->setFixedHeight(contentHeight);
    list_ = new ClipList(model_, content_);
    list_->setGeometry(0, 0, kListWidth, contentHeight);
    preview_ = new ClipPreview(model_, content_);
    preview_->setGeometry(kListWidth + 1, 0, width() - kListWidth - 1, contentHeight);
    version_ = makeVersionLabel(content_);
    version_->setAttribute(Qt::WA_TransparentForMouseEvents);
    menu_ = new ClipMenuOverlay(model_, menu, content_);
    menu_->setGeometry(0, 0, kListWidth, contentHeight);
    confirmation_ = new ClipConfirmation(model_, content_);
    confirmation_->setGeometry(0, 0, width(), contentHeight);

    QObject::connect(field_, &QLineEdit::textEdited,
                     [this](const QString& text) { model_.setQuery(text.toStdString()); });
    QObject::connect(clear_, &QToolButton::clicked, [this] { model_.clearButtonPressed(); });
    connections_.push_back(model_.changed.connect([this] { scheduleRefresh(); }));
    connections_.push_back(model_.scrollRequested.connect([this](const Uuid& id) {
        // A scroll asked for with a change is done once the change is drawn.
        pendingScroll_ = id;
        if (!refreshPending_) refresh();
    }));
    refresh();
}

ClipboardPanelView::~ClipboardPanelView() = default;

void ClipboardPanelView::focusSearchField() {
    field_->setFocus(Qt::OtherFocusReason);
}

void ClipboardPanelView::scheduleRefresh() {
    if (refreshPending_) return;
    refreshPending_ = true;
    QMetaObject::invokeMethod(
        this, [this] { refresh(); }, Qt::QueuedConnection);
}

void ClipboardPanelView::refresh() {
    refreshPending_ = false;
    ClipboardView::Presentation p = model_.presentation();
    const QString query = QString::fromStdString(model_.query());
    // Written only when it differs, so the caret stays where the user put it.
    if (field_->text() != query) field_->setText(query);
    if (symbol_->pixmap().isNull() || p.searchSymbolHighlighted != searchSymbolHighlighted_) {
        searchSymbolHighlighted_ = p.searchSymbolHighlighted;
        symbol_->setPixmap(symbolPixmap("magnifyingglass", 16,
                                        p.searchSymbolHighlighted ? style::accent() : style::secondaryText(),
                                        devicePixelRatioF()));
    }
    clear_->setVisible(p.showsClearButton);
    version_->setText(QString::fromStdString(p.versionLabel));
    version_->adjustSize();
    version_->move(content_->width() - 10 - version_->width(), content_->height() - 6 - version_->height());

    const bool empty = p.emptyState.has_value();
    content_->setEmptyState(p.emptyState);
    list_->setVisible(!empty);
    preview_->setVisible(!empty);
    std::string selected;
    for (const auto& row : p.rows)
        if (row.isSelected) selected = row.id;
    preview_->present(p.preview, selected);
    list_->setRows(std::move(p.rows));
    version_->raise();
    menu_->setMenu(std::move(p.menu));
    confirmation_->setConfirmation(p.confirmation);
    if (pendingScroll_) {
        list_->scrollTo(*pendingScroll_);
        pendingScroll_.reset();
    }
}

std::vector<ClipboardPanelView::DrawnText> ClipboardPanelView::drawnTexts() const {
    std::vector<DrawnText> out;
    const auto add = [&](const QWidget* widget, const Drawn& drawn) {
        if (!widget->isVisibleTo(this)) return;
        for (const auto& d : drawn)
            out.push_back({d.text, QRect(widget->mapTo(this, d.rect.topLeft()), d.rect.size())});
    };
    add(content_, content_->drawn());
    add(list_->viewport(), list_->drawn());
    add(menu_, menu_->drawn());
    return out;
}

QString ClipboardPanelView::previewText() const {
    return preview_->isVisibleTo(this) ? preview_->text() : QString();
}

void ClipboardPanelView::paintEvent(QPaintEvent*) {
    paintPanelBackground(*this);
}

void ClipboardPanelView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    maskPanelCorners(*this);
}

void ClipboardPanelView::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    model_.viewDidAppear();
}

bool ClipboardPanelView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == field_ && (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut)) {
        // A popup (the preview's context menu) borrows the keyboard without the field losing it.
        if (static_cast<QFocusEvent*>(event)->reason() != Qt::PopupFocusReason)
            model_.setSearchFocused(event->type() == QEvent::FocusIn);
    }
    return QWidget::eventFilter(watched, event);
}

}  // namespace quenlit::ui
