#include "ui/RowList.h"

#include "ui/Style.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>

#include <algorithm>

namespace quenlit::ui {

RowList::RowList(QWidget* parent) : QAbstractScrollArea(parent) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // The search field is the panel's only input: neither a click on a row nor Tab may take the
    // keyboard from it.
    setFocusPolicy(Qt::NoFocus);
    viewport()->setFocusPolicy(Qt::NoFocus);
    verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
    setAutoFillBackground(false);
    viewport()->setAutoFillBackground(false);
    setContextMenuPolicy(Qt::NoContextMenu);
}

void RowList::layOutRows(const std::vector<int>& heights) {
    heights_ = heights;
    tops_.resize(heights_.size());
    int y = kListPadY;
    for (std::size_t i = 0; i < heights_.size(); ++i) {
        tops_[i] = y;
        y += heights_[i] + kRowSpacing;
    }
    contentHeight_ = heights_.empty() ? 0 : y - kRowSpacing + kListPadY;
    updateRange();
    viewChanged();
    viewport()->update();
}

void RowList::scrollToRow(std::size_t i, bool withTopPadding) {
    if (i >= tops_.size()) return;
    const int top = withTopPadding ? 0 : tops_[i];
    const int bottom = tops_[i] + heights_[i] + (i + 1 == tops_.size() ? kListPadY : 0);
    const int y = verticalScrollBar()->value();
    if (top < y) verticalScrollBar()->setValue(top);
    if (bottom > y + viewport()->height()) verticalScrollBar()->setValue(bottom - viewport()->height());
}

std::pair<std::size_t, std::size_t> RowList::visibleRange() const {
    const int top = verticalScrollBar()->value();
    const int bottom = top + viewport()->height();
    // The last row that starts at or above the viewport's top is the first one in view.
    auto it = std::upper_bound(tops_.begin(), tops_.end(), top);
    std::size_t first = static_cast<std::size_t>(it - tops_.begin());
    if (first > 0) --first;
    std::size_t last = first;
    while (last < tops_.size() && tops_[last] < bottom)
        ++last;
    return {first, last};
}

QRect RowList::rowRect(std::size_t i) const {
    return QRect(kListPadX, tops_[i] - verticalScrollBar()->value(), viewport()->width() - 2 * kListPadX,
                 heights_[i]);
}

std::optional<std::size_t> RowList::rowAt(int viewportY) const {
    const int y = viewportY + verticalScrollBar()->value();
    auto it = std::upper_bound(tops_.begin(), tops_.end(), y);
    if (it == tops_.begin()) return std::nullopt;
    const auto i = static_cast<std::size_t>(it - tops_.begin()) - 1;
    if (y >= tops_[i] + heights_[i]) return std::nullopt;
    return i;
}

void RowList::paintSelection(QPainter& p, const QRect& r) {
    QPainterPath path;
    path.addRoundedRect(QRectF(r), 6, 6);
    p.fillPath(path, style::accent());
}

void RowList::paintEvent(QPaintEvent*) {
    QPainter p(viewport());
    p.setRenderHint(QPainter::Antialiasing);
    paintBackground(p);
    const auto [first, last] = visibleRange();
    for (std::size_t i = first; i < last; ++i)
        paintRow(p, i, rowRect(i));
}

void RowList::mousePressEvent(QMouseEvent* event) {
    if (const auto i = rowAt(static_cast<int>(event->position().y()))) rowPressed(*i, event->button());
}

void RowList::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateRange();
    viewChanged();
}

void RowList::scrollContentsBy(int, int) {
    viewChanged();
    viewport()->update();
}

void RowList::updateRange() {
    verticalScrollBar()->setRange(0, std::max(0, contentHeight_ - viewport()->height()));
    verticalScrollBar()->setPageStep(viewport()->height());
}

}  // namespace quenlit::ui
