#include "ui/LauncherView.h"

#include "ui/PanelChrome.h"
#include "ui/RowList.h"
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

}  // namespace

// The launcher's rows: an application, a command or an answer each, all of one height.
class LauncherRows final : public RowList {
  public:
    LauncherRows(ContentView& model, IconCache& icons, QWidget* parent)
        : RowList(parent), model_(model), icons_(icons) {}

    void setPresentation(ContentView::Presentation p) {
        presentation_ = std::move(p);
        layOutRows(std::vector<int>(presentation_.rows.size(), kRowHeight));
    }

    void scrollTo(const Uuid& id) {
        for (std::size_t i = 0; i < presentation_.rows.size(); ++i) {
            // The first row brings the list's padding along, as the last one does, so the last
            // row never sits against the version label.
            if (presentation_.rows[i].id == id) scrollToRow(i, i == 0);
        }
    }

  protected:
    void paintBackground(QPainter& p) override {
        if (!presentation_.emptyState) return;
        const auto& empty = *presentation_.emptyState;
        const QPixmap symbol = symbolPixmap(empty.symbol, 22, style::tertiaryText(), devicePixelRatioF());
        const int cx = viewport()->width() / 2;
        p.drawPixmap(cx - 11, 36, symbol);
        p.setFont(style::font(13));
        p.setPen(style::tertiaryText());
        p.drawText(QRect(0, 36 + 22 + 6, viewport()->width(), 20), Qt::AlignHCenter | Qt::AlignTop,
                   QString::fromStdString(empty.text));
    }

    void paintRow(QPainter& p, std::size_t i, const QRect& r) override {
        paintRow(p, presentation_.rows[i], r, devicePixelRatioF());
    }

    void paintRow(QPainter& p, const ContentView::Row& row, const QRect& r, qreal dpr) {
        if (row.isSelected) paintSelection(p, r);
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

    void rowPressed(std::size_t i, Qt::MouseButton button) override {
        if (button == Qt::LeftButton) model_.clickRow(i);
    }

    void resizeEvent(QResizeEvent* event) override {
        RowList::resizeEvent(event);
        // Page Up and Page Down move by the rows shown whole when the list is scrolled to a row.
        const int rows = (viewport()->height() - kListPadY + kRowSpacing) / (kRowHeight + kRowSpacing);
        model_.navigationState().setPageSize(std::max(1, rows));
    }

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

    list_ = new LauncherRows(model_, icons_, this);
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
