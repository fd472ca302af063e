#include "ui/LauncherView.h"

#include "ui/PanelChrome.h"

#include "ui/Style.h"
#include "ui/Symbols.h"

#include <QAbstractScrollArea>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QScrollBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace quenlit::ui {
namespace {

constexpr int kRowHeight = 38;  // 6 + the 26-point icon box + 6
constexpr int kRowSpacing = 1;
constexpr int kListPadX = 8;
constexpr int kListPadY = 6;

}  // namespace

// The rows, painted lazily: only those inside the viewport are drawn.
class RowList final : public QAbstractScrollArea {
  public:
    RowList(ContentView& model, IconCache& icons, QWidget* parent)
        : QAbstractScrollArea(parent), model_(model), icons_(icons) {
        setFrameShape(QFrame::NoFrame);
        setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
        // The search field is the panel's only input: neither a click on a row nor Tab may take
        // the keyboard from it.
        setFocusPolicy(Qt::NoFocus);
        viewport()->setFocusPolicy(Qt::NoFocus);
        verticalScrollBar()->setFocusPolicy(Qt::NoFocus);
        viewport()->setAutoFillBackground(false);
        setAutoFillBackground(false);
    }

    void setPresentation(ContentView::Presentation p) {
        presentation_ = std::move(p);
        const int content =
            presentation_.rows.empty()
                ? 0
                : kListPadY * 2 + static_cast<int>(presentation_.rows.size()) * (kRowHeight + kRowSpacing) -
                      kRowSpacing;
        verticalScrollBar()->setRange(0, std::max(0, content - viewport()->height()));
        verticalScrollBar()->setPageStep(viewport()->height());
        viewport()->update();
    }

    void scrollTo(const Uuid& id) {
        for (std::size_t i = 0; i < presentation_.rows.size(); ++i) {
            if (presentation_.rows[i].id != id) continue;
            // The first and last rows bring the list's padding along, so the last row never
            // sits against the version label.
            const bool first = i == 0;
            const bool last = i + 1 == presentation_.rows.size();
            const int top = first ? 0 : rowTop(static_cast<int>(i));
            const int bottom = rowTop(static_cast<int>(i)) + kRowHeight + (last ? kListPadY : 0);
            const int y = verticalScrollBar()->value();
            // Just enough to show the row, no preferred anchor.
            if (top < y) verticalScrollBar()->setValue(top);
            if (bottom > y + viewport()->height())
                verticalScrollBar()->setValue(bottom - viewport()->height());
            return;
        }
    }

  protected:
    static int rowTop(int index) { return kListPadY + index * (kRowHeight + kRowSpacing); }

    void paintEvent(QPaintEvent*) override {
        QPainter p(viewport());
        p.setRenderHint(QPainter::Antialiasing);
        const qreal dpr = devicePixelRatioF();
        if (presentation_.emptyState) {
            const auto& empty = *presentation_.emptyState;
            const QPixmap symbol = symbolPixmap(empty.symbol, 22, style::tertiaryText(), dpr);
            const int cx = viewport()->width() / 2;
            p.drawPixmap(cx - 11, 36, symbol);
            p.setFont(style::font(13));
            p.setPen(style::tertiaryText());
            p.drawText(QRect(0, 36 + 22 + 6, viewport()->width(), 20), Qt::AlignHCenter | Qt::AlignTop,
                       QString::fromStdString(empty.text));
        }
        const int offset = verticalScrollBar()->value();
        const int first = std::max(0, (offset - kListPadY) / (kRowHeight + kRowSpacing));
        for (int i = first; i < static_cast<int>(presentation_.rows.size()); ++i) {
            const int top = rowTop(i) - offset;
            if (top > viewport()->height()) break;
            paintRow(p, presentation_.rows[static_cast<std::size_t>(i)],
                     QRect(kListPadX, top, viewport()->width() - 2 * kListPadX, kRowHeight), dpr);
        }
    }

    void paintRow(QPainter& p, const ContentView::Row& row, const QRect& r, qreal dpr) {
        if (row.isSelected) {
            QPainterPath path;
            path.addRoundedRect(QRectF(r), 6, 6);
            p.fillPath(path, style::accent());
        }
        const QRect iconBox(r.left() + 10, r.top() + 6, 26, 26);
        const QColor symbolColor = row.isSelected ? QColor(Qt::white) : style::secondaryText();
        const bool isPlaceholder =
            row.icon.source == IconRef::Source::symbol && row.icon.name == "app.dashed";
        const int iconSize = isPlaceholder ? 18 : 24;
        if (auto pixmap = icons_.pixmap(row.icon, iconSize, symbolColor, dpr)) {
            // Aligned to the bottom-right corner of the icon box.
            p.drawPixmap(iconBox.right() + 1 - iconSize - (isPlaceholder ? 3 : 0),
                         iconBox.bottom() + 1 - iconSize - (isPlaceholder ? 3 : 0), *pixmap);
        }
        if (row.isRunning) {
            const QRectF dot(iconBox.right() + 1 - 6 + 2, iconBox.bottom() + 1 - 6 + 2, 6, 6);
            p.setBrush(row.isSelected ? QColor(Qt::white) : style::accent());
            QColor outline = row.isSelected ? style::accent() : style::primaryText();
            outline.setAlphaF(row.isSelected ? 0.9f : 0.15f);
            p.setPen(QPen(outline, 1));
            p.drawEllipse(dot);
            p.setPen(Qt::NoPen);
            p.setBrush(Qt::NoBrush);
        }
        int x = iconBox.right() + 1 + 10;
        const QFont nameFont = style::font(
            13, row.nameWeight == ContentView::NameWeight::semibold ? QFont::DemiBold : QFont::Medium);
        p.setFont(nameFont);
        p.setPen(row.isSelected ? QColor(Qt::white) : style::primaryText());
        const QString name = QString::fromStdString(row.name);
        const int available = r.right() - 10 - x;
        const QString shownName = QFontMetrics(nameFont).elidedText(name, Qt::ElideRight, available);
        p.drawText(QRect(x, r.top(), available, r.height()), Qt::AlignLeft | Qt::AlignVCenter, shownName);
        x += QFontMetrics(nameFont).horizontalAdvance(shownName) + 6;
        if (row.secondaryText && x < r.right() - 10) {
            const QFont secondaryFont = style::font(12);
            p.setFont(secondaryFont);
            QColor c = row.isSelected ? QColor(255, 255, 255, 204) : style::secondaryText();
            p.setPen(c);
            const QString text = QString::fromStdString(*row.secondaryText);
            p.drawText(QRect(x, r.top(), r.right() - 10 - x, r.height()), Qt::AlignLeft | Qt::AlignVCenter,
                       QFontMetrics(secondaryFont).elidedText(text, Qt::ElideRight, r.right() - 10 - x));
        }
    }

    void mousePressEvent(QMouseEvent* event) override {
        if (event->button() != Qt::LeftButton) return;
        const int y = static_cast<int>(event->position().y()) + verticalScrollBar()->value() - kListPadY;
        if (y < 0) return;
        const int index = y / (kRowHeight + kRowSpacing);
        if (y % (kRowHeight + kRowSpacing) >= kRowHeight) return;
        if (index < static_cast<int>(presentation_.rows.size()))
            model_.clickRow(static_cast<std::size_t>(index));
    }

    void resizeEvent(QResizeEvent* event) override {
        QAbstractScrollArea::resizeEvent(event);
        // Page Up and Page Down move by the rows shown whole when the list is scrolled to a row.
        const int rows = (viewport()->height() - kListPadY + kRowSpacing) / (kRowHeight + kRowSpacing);
        model_.navigationState().setPageSize(std::max(1, rows));
        setPresentation(presentation_);
    }

    void scrollContentsBy(int, int) override { viewport()->update(); }

  private:
    ContentView& model_;
    IconCache& icons_;
    ContentView::Presentation presentation_;
};

LauncherView::LauncherView(ContentView& model, IconCache& icons, QWidget* parent)
    : QWidget(parent), model_(model), icons_(icons) {
    setFixedSize(640, 400);
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);

    const SearchHeader header = addSearchHeader(*this, *column, QString::fromUtf8(ContentView::kPlaceholder),
                                                static_cast<int>(ContentView::kSearchFontSize));
    symbol_ = header.symbol;
    field_ = header.field;
    clear_ = header.clear;

    list_ = new RowList(model_, icons_, this);
    column->addWidget(list_, 1);

    // The version label has a strip of its own under the list, so no row is ever drawn beneath it.
    version_ = makeVersionLabel(this);
    version_->setAlignment(Qt::AlignRight | Qt::AlignBottom);
    version_->setContentsMargins(0, 0, 10, 6);
    column->addWidget(version_);

    QObject::connect(field_, &QLineEdit::textEdited,
                     [this](const QString& text) { model_.setQuery(text.toStdString()); });
    QObject::connect(clear_, &QToolButton::clicked, [this] { model_.clearButtonPressed(); });
    connections_.push_back(model_.changed.connect([this] { refresh(); }));
    // The search symbol is a pixmap tinted in the scheme's colours.
    style::followScheme(this, [this] { refresh(); });
    connections_.push_back(model_.scrollRequested.connect([this](const Uuid& id) { list_->scrollTo(id); }));
    connections_.push_back(icons_.loaded.connect([this] { list_->viewport()->update(); }));
    refresh();
}

LauncherView::~LauncherView() = default;

void LauncherView::refresh() {
    ContentView::Presentation p = model_.presentation();
    const QString query = QString::fromStdString(model_.query());
    // Written only when it differs, so the caret stays where the user put it.
    if (field_->text() != query) field_->setText(query);
    symbol_->setPixmap(symbolPixmap("magnifyingglass", 16,
                                    p.searchSymbolHighlighted ? style::accent() : style::secondaryText(),
                                    devicePixelRatioF()));
    clear_->setVisible(p.showsClearButton);
    version_->setText(QString::fromStdString(p.versionLabel));
    list_->setPresentation(std::move(p));
    if (model_.isFieldActivationPending()) {
        model_.fieldActivated();
        field_->setFocus(Qt::OtherFocusReason);
        field_->selectAll();
    }
}

void LauncherView::paintEvent(QPaintEvent*) {
    paintPanelBackground(*this);
}

void LauncherView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    maskPanelCorners(*this);
}

}  // namespace quenlit::ui
