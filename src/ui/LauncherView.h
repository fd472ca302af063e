#pragma once

// The launcher panel's content, drawn from the launcher's view model: the search header, the rows
// (only those in view are painted), the empty state and the version label. Typing, clicks and the
// clear button go back to the model; the model's changes and scroll requests come here.

#include "launcher/ContentView.h"
#include "ui/IconCache.h"

#include <QWidget>

#include <vector>

class QLineEdit;
class QToolButton;
class QLabel;

namespace quenlit::ui {

class LauncherRows;

class LauncherView final : public QWidget {
  public:
    LauncherView(ContentView& model, IconCache& icons, QWidget* parent = nullptr);
    ~LauncherView() override;

    // The field that receives the keys the panel does not consume.
    QLineEdit* searchField() const { return field_; }

  protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

  private:
    void refresh();

    ContentView& model_;
    IconCache& icons_;
    QLabel* symbol_;
    QLineEdit* field_;
    QToolButton* clear_;
    LauncherRows* list_;
    QLabel* version_;
    std::vector<Connection> connections_;
};

}  // namespace quenlit::ui
