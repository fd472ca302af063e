#pragma once
// One widget of the clipboard panel; the panel (ClipboardPanelView) is its only user.

#include "ui/ClipPreviewText.h"
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
#include <deque>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <unordered_set>

namespace quenlit::ui::clip {

class ClipPreview final : public QWidget {
  public:
    ClipPreview(ClipboardView& model, QWidget* parent) : QWidget(parent), loader_(model.makeThumbnail()) {
        style::followScheme(this, [this] {
            for (const Shown& shown : shown_)
                applyScheme(shown.view);
        });
        imageChanged_ = loader_->changed.connect([this] {
            image_ = loader_->image() ? imageOf(*loader_->image()) : QImage();
            scaled_ = QPixmap();
            update();
        });
    }

    // Writes the text only when another entry is selected: laying out a long text is not work
    // for every change of the list. The picture is drawn again only when what it shows changed.
    void present(const ClipboardView::Preview& preview, const std::string& entryId) {
        const std::optional<std::filesystem::path> imageURL =
            preview.kind == ClipboardView::Preview::Kind::image ? preview.imageURL : std::nullopt;
        const bool same = kind_ == preview.kind && presented_ == entryId && presentedImage_ == imageURL;
        kind_ = preview.kind;
        presented_ = entryId;
        presentedImage_ = imageURL;
        const bool isText = preview.kind == ClipboardView::Preview::Kind::text;
        if (isText && shownText_ != entryId) {
            shownText_ = entryId;
            showText(entryId, preview.text);
        } else if (!isText && !shownText_.empty()) {
            shownText_.clear();
            for (const Shown& shown : shown_)
                delete shown.view;
            shown_.clear();
            text_ = nullptr;
        }
        if (text_ != nullptr) text_->setVisible(isText);
        loader_->request(imageURL, ClipboardView::kPreviewThumbnailPixels);
        if (!same) update();
    }

    QString text() const {
        return text_ != nullptr && text_->isVisible()
                   ? text_->entryText(0, text_->document()->characterCount() - 1)
                   : QString();
    }

  protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        for (const Shown& shown : shown_)
            shown.view->setGeometry(rect());
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
    // The texts of the last few entries shown, each in an editor of its own that keeps its layout:
    // typing goes back and forth between the same few entries on top ("the" and "then" select
    // different ones), and laying out the first screen of a long text again takes milliseconds.
    // The first is the one shown; an entry shown again is shown from its top.
    struct Shown {
        std::string entryId;
        PreviewText* view;
    };
    static constexpr std::size_t kKeptTexts = 3;

    static void applyScheme(PreviewText* view) {
        QPalette palette = view->palette();
        palette.setColor(QPalette::Text, style::primaryText());
        view->setPalette(palette);
    }

    PreviewText* makeTextView() {
        auto* view = new PreviewText(this);
        view->setReadOnly(true);
        view->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
        // Selecting with the mouse works without the keyboard; the search field keeps it.
        view->setFocusPolicy(Qt::NoFocus);
        view->setFrameShape(QFrame::NoFrame);
        view->setFont(style::monospace(12));
        view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
        view->setStyleSheet("QPlainTextEdit { background: transparent; border: none; }");
        view->viewport()->setAutoFillBackground(false);
        view->document()->setDocumentMargin(kPreviewMargin);
        applyScheme(view);
        view->setGeometry(rect());
        return view;
    }

    void showText(const std::string& entryId, const std::string& text) {
        auto kept = std::find_if(shown_.begin(), shown_.end(),
                                 [&](const Shown& shown) { return shown.entryId == entryId; });
        if (kept == shown_.end()) {
            PreviewText* view = makeTextView();
            view->setEntryText(QString::fromStdString(text));
            shown_.push_front({entryId, view});
        } else {
            const Shown again = *kept;
            shown_.erase(kept);
            shown_.push_front(again);
            again.view->moveCursor(QTextCursor::Start);
            again.view->verticalScrollBar()->setValue(0);
        }
        text_ = shown_.front().view;
        for (const Shown& shown : shown_)
            if (shown.view != text_) shown.view->hide();
        while (shown_.size() > kKeptTexts) {
            delete shown_.back().view;
            shown_.pop_back();
        }
    }

    std::unique_ptr<ClipboardAsyncThumbnail> loader_;
    Connection imageChanged_;
    std::deque<Shown> shown_;
    PreviewText* text_ = nullptr;
    ClipboardView::Preview::Kind kind_ = ClipboardView::Preview::Kind::none;
    std::string shownText_;
    // What present() showed last: the entry and its picture.
    std::string presented_;
    std::optional<std::filesystem::path> presentedImage_;
    QImage image_;
    QPixmap scaled_;
};

}  // namespace quenlit::ui::clip
