#pragma once

// The launcher panel's content as a model: the query, the rows for it, the shared selection, and
// what choosing a row does (launch or activate an application or Firefox profile, open a folder,
// copy a calculator answer, quit, or hand a window command to the panel). The toolkit's view
// draws what presentation() answers, forwards typing, clicks and the clear button, and scrolls
// when asked through scrollRequested.
//
// The rows are never kept: each use reads them from the index for the current query, so they are
// always those of the latest catalogue and zoxide lookup.
//
// Main thread only. The services handed in outlive the view.

#include "automation/WindowSnap.h"
#include "base/Signal.h"
#include "base/WeakSelf.h"
#include "launch/AppLauncher.h"
#include "launcher/AppIndex.h"
#include "launcher/AppItem.h"
#include "panel/NavigationState.h"
#include "panel/Notifications.h"
#include "panel/PanelList.h"
#include "panel/SearchField.h"
#include "platform/Pasteboard.h"
#include "platform/Scheduler.h"
#include "platform/Workspace.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace quenlit {

class ContentView {
  public:
    struct Services {
        platform::Scheduler& scheduler;
        NotificationCenter& notifications;
        platform::Pasteboard& pasteboard;
        platform::Workspace& workspace;
        // What the view's own application index is built from.
        AppIndex::Sources indexSources;
        AppIndex::ZoxideContext zoxide;
        AppLauncher::Context launching;
        // Ends the whole program ("Quit Quenlit").
        std::function<void()> quit;
    };

    // Hides the panel without giving the focus back.
    using DismissCallback = std::function<void()>;
    // Hides the panel and snaps the previously active application's window.
    using WindowSnapCallback = std::function<void(WindowSnap::Command)>;

    ContentView(NavigationState& navigationState, Services services, DismissCallback onDismiss,
                WindowSnapCallback onWindowSnap);
    ~ContentView();
    ContentView(const ContentView&) = delete;
    ContentView& operator=(const ContentView&) = delete;

    const std::string& query() const { return query_; }
    // Typing into the search field; a change asks for a zoxide lookup and selects the first row.
    void setQuery(std::string query);
    bool isSearchFocused() const { return list_.isSearchFocused(); }
    // The toolkit reports where the keyboard focus went.
    void setSearchFocused(bool focused) { list_.setSearchFocused(focused); }
    // Every showing hands the keyboard to the search field with the kept query selected, as a
    // text field selects its text when it takes the keyboard: typing replaces the query, while
    // Return, the arrows and End keep it. Set by each showing; the toolkit's view does so and
    // reports it done.
    bool isFieldActivationPending() const { return fieldActivationPending_; }
    void fieldActivated() { fieldActivationPending_ = false; }

    // The rows for the current query, read from the index now.
    std::vector<AppItem> rows() const;
    AppIndex& appIndex() { return appIndex_; }
    NavigationState& navigationState() { return navigationState_; }
    // The header's search field, bound to the query; its submit action is choose().
    SearchField& searchField() { return searchField_; }

    // The view was shown for the first time; later calls do nothing.
    void viewDidAppear();
    // Acts on the selected row; does nothing without rows or with a selection beyond them.
    void choose();
    // A single click on the row at `index`: selects it, then acts on it.
    void clickRow(std::size_t index);
    void clearButtonPressed();

    // What the toolkit draws.
    enum class NameWeight { medium, semibold };
    struct Row {
        Uuid id;
        std::string name;
        NameWeight nameWeight = NameWeight::medium;  // semibold for a calculator answer
        // The Firefox profile, the zoxide item's abbreviated path or the calculator expression.
        std::optional<std::string> secondaryText;
        bool secondaryTextSingleLine = false;  // a calculator expression stays on one line
        // The item's icon; the "app.dashed" symbol when the item has none.
        IconRef icon;
        bool isRunning = false;  // draws the running dot
        bool isSelected = false;
    };
    struct EmptyState {
        std::string symbol;  // "keyboard" or "magnifyingglass"
        std::string text;    // "Start typing to search…" or "No results"
    };
    struct Presentation {
        bool searchSymbolHighlighted = false;  // the search symbol in the accent colour
        bool showsClearButton = false;
        std::vector<Row> rows;
        std::optional<EmptyState> emptyState;  // present exactly when there are no rows
        std::string versionLabel;              // "v0.11.0"
    };
    Presentation presentation() const;

    static constexpr const char* kPlaceholder = "Search apps, files, commands…";
    static constexpr double kSearchFontSize = 18;
    // How long after showing the search field is marked focused.
    static constexpr platform::Seconds kFocusDelay = PanelList::kFocusDelay;

    // Emitted when anything presentation() answers may have changed.
    Signal<> changed;
    // The row with this id should be scrolled into view, just enough to show it.
    Signal<Uuid> scrollRequested;

  private:
    void launcherWillShow();
    void refreshBound();
    void finish();
    SearchField::Description searchFieldDescription();

    NavigationState& navigationState_;
    Services services_;
    DismissCallback onDismiss_;
    WindowSnapCallback onWindowSnap_;
    AppIndex appIndex_;
    SearchField searchField_;
    std::string query_;
    bool fieldActivationPending_ = false;
    bool didAppear_ = false;
    PanelList list_;

    // Index completions hold it weakly: they do nothing once the view is gone.
    WeakSelf<ContentView> self_{this};
    std::vector<Connection> connections_;
};

}  // namespace quenlit
