#pragma once
// The list both panels show under their search field: rows of given heights laid out top to
// bottom, painted only while in view, scrolled just enough to show the selected one. The panels'
// lists say how tall each row is, how to paint it and what a press on it does.

#include <QAbstractScrollArea>
#include <QRect>

#include <cstddef>
#include <optional>
#include <utility>
#include <vector>

class QPainter;

namespace quenlit::ui {

inline constexpr int kListPadX = 8;
inline constexpr int kListPadY = 6;
inline constexpr int kRowSpacing = 1;

class RowList : public QAbstractScrollArea {
  public:
    explicit RowList(QWidget* parent);

  protected:
    // Lays the rows out anew, one height a row, and repaints.
    void layOutRows(const std::vector<int>& heights);
    // Scrolls just enough to show row `i`; with `withTopPadding` the list's top padding (and
    // whatever lies above the row) comes along, and the last row brings the bottom padding.
    void scrollToRow(std::size_t i, bool withTopPadding);
    std::size_t rowCount() const { return tops_.size(); }
    // The rows that intersect the viewport, as [first, last).
    std::pair<std::size_t, std::size_t> visibleRange() const;
    // In the viewport's coordinates.
    QRect rowRect(std::size_t i) const;
    std::optional<std::size_t> rowAt(int viewportY) const;
    // The selected row's rounded accent background.
    static void paintSelection(QPainter& p, const QRect& r);

    // What is drawn under the rows (an empty list's note), then each row in view.
    virtual void paintBackground(QPainter&) {}
    virtual void paintRow(QPainter& p, std::size_t i, const QRect& r) = 0;
    virtual void rowPressed(std::size_t i, Qt::MouseButton button) = 0;
    // After a scroll or a resize changed which rows are in view.
    virtual void viewChanged() {}

    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;

  private:
    void updateRange();

    std::vector<int> tops_;
    std::vector<int> heights_;
    int contentHeight_ = 0;
};

}  // namespace quenlit::ui
