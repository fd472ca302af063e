#pragma once

// The clipboard panel's content, drawn from the clipboard view model: the search header, the
// history list (only the rows in view are laid out and painted, each image row with its own
// picture loader), the preview of the selected entry, the empty states, the version label, the
// actions menu and the delete-all confirmation. Typing, clicks, right clicks and the rows' frames
// go back to the model; the model's changes and scroll requests come here.
//
// The model may announce several changes for one keystroke: they are drawn once, on the next
// turn of the event loop.

#include "clipboard/ClipboardView.h"

#include <QRect>
#include <QString>
#include <QWidget>

#include <optional>
#include <vector>

class QLabel;
class QLineEdit;
class QToolButton;

namespace quenlit::ui {

namespace clip {
class ClipList;
class ClipPreview;
class ClipContent;
class ClipMenuOverlay;
class ClipConfirmation;
}  // namespace clip

class ClipboardPanelView final : public QWidget {
  public:
    // `menu` is the model of the actions menu the panel owns; a click on a menu row performs it.
    ClipboardPanelView(ClipboardView& model, ClipboardActionsModel& menu, QWidget* parent = nullptr);
    ~ClipboardPanelView() override;

    // The field that receives the keys the panel does not consume.
    QLineEdit* searchField() const { return field_; }
    // Gives the search field the keyboard focus (the panel asks for it on every showing).
    void focusSearchField();

    // A text the view painted itself (the list's headings, titles and times, the empty state, the
    // menu), where it was painted in this widget's coordinates. Read after a paint: tests and
    // screenshots look at what the user was shown.
    struct DrawnText {
        QString text;
        QRect rect;
    };
    std::vector<DrawnText> drawnTexts() const;
    // The text the preview shows, empty without a text entry selected.
    QString previewText() const;

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void scheduleRefresh();
    void refresh();

    ClipboardView& model_;
    QLabel* symbol_;
    QLineEdit* field_;
    QToolButton* clear_;
    clip::ClipContent* content_;
    clip::ClipList* list_;
    clip::ClipPreview* preview_;
    QLabel* version_;
    clip::ClipMenuOverlay* menu_;
    clip::ClipConfirmation* confirmation_;
    bool refreshPending_ = false;
    bool searchSymbolHighlighted_ = false;
    std::optional<Uuid> pendingScroll_;
    std::vector<Connection> connections_;
};

}  // namespace quenlit::ui
