#include "ui/ClipboardPanelView.h"

#include "ui/ClipConfirmation.h"
#include "ui/ClipContent.h"
#include "ui/ClipList.h"
#include "ui/ClipMenuOverlay.h"
#include "ui/ClipPreview.h"
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

using namespace clip;

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
    // The search symbol is a pixmap tinted in the scheme's colours: drawn again.
    style::followScheme(this, [this] {
        symbol_->setPixmap(QPixmap());
        scheduleRefresh();
    });
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
