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
        style::followScheme(this, [this] {
            QPalette secondary = message_->palette();
            secondary.setColor(QPalette::WindowText, style::secondaryText());
            message_->setPalette(secondary);
            QPalette primary = title_->palette();
            primary.setColor(QPalette::WindowText, style::primaryText());
            title_->setPalette(primary);
        });
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
        style::followScheme(this, [this] {
            cancel_->setStyleSheet(QString("QPushButton { background: %1; color: %2; border: 1px solid %3;"
                                           " border-radius: 6px; padding: 0 14px; }"
                                           "QPushButton:pressed { background: %4; }")
                                       .arg(style::buttonBackground().name(), style::primaryText().name(),
                                            style::panelBorder().name(QColor::HexArgb),
                                            style::buttonPressed().name()));
        });
        // White on this red reads at more than 4.5:1 in either scheme.
        confirm_->setStyleSheet(
            "QPushButton { background: #d70015; color: white; border: none; border-radius: 6px;"
            " padding: 0 14px; }"
            "QPushButton:pressed { background: #b00012; }");
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
            p.fillPath(shape, style::cardBackground());
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

}  // namespace quenlit::ui::clip
