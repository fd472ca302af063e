#include "launcher/ContentView.h"

#include "launch/AppActivator.h"
#include "launch/LaunchFailure.h"
#include "launcher/WindowCommandRows.h"
#include "panel/Version.h"

#include <utility>

namespace quenlit {

ContentView::ContentView(NavigationState& navigationState, Services services, DismissCallback onDismiss,
                         WindowSnapCallback onWindowSnap)
    : navigationState_(navigationState),
      services_(std::move(services)),
      onDismiss_(std::move(onDismiss)),
      onWindowSnap_(std::move(onWindowSnap)),
      appIndex_(services_.scheduler, services_.indexSources, services_.zoxide),
      searchField_(services_.notifications, searchFieldDescription()),
      lastSelection_(navigationState.selectedIndex()),
      self_(std::make_shared<ContentView*>(this)) {
    connections_.push_back(
        services_.notifications.observe(Notification::launcherWillShow, [this] { launcherWillShow(); }));
    connections_.push_back(
        services_.notifications.observe(Notification::launchSelectedApp, [this] { choose(); }));
    connections_.push_back(appIndex_.appsChanged.connect([this] { refreshBound(); }));
    connections_.push_back(appIndex_.zoxideItemChanged.connect([this] { refreshBound(); }));
    connections_.push_back(navigationState_.selectedIndexChanged.connect(
        [this](std::int64_t index) { selectionChanged(index); }));
}

ContentView::~ContentView() {
    connections_.clear();
    self_.reset();
}

SearchField::Description ContentView::searchFieldDescription() {
    return {{[this] { return query_; }, [this](const std::string& text) { setQuery(text); }},
            kPlaceholder,
            kSearchFontSize,
            [this] { choose(); }};
}

std::vector<AppItem> ContentView::rows() const {
    return appIndex_.search(query_);
}

void ContentView::setQuery(std::string query) {
    if (query == query_) return;
    query_ = std::move(query);
    appIndex_.scheduleZoxide(query_);
    navigationState_.sync(static_cast<std::int64_t>(rows().size()));
    changed.emit();
}

void ContentView::setSearchFocused(bool focused) {
    if (isSearchFocused_ == focused) return;
    isSearchFocused_ = focused;
    changed.emit();
}

void ContentView::focusSearchLater() {
    std::weak_ptr<ContentView*> weak = self_;
    services_.scheduler.postAfter(kFocusDelay, [weak] {
        if (auto self = weak.lock()) (*self)->setSearchFocused(true);
    });
}

void ContentView::viewDidAppear() {
    if (didAppear_) return;
    didAppear_ = true;
    focusSearchLater();
    navigationState_.sync(static_cast<std::int64_t>(rows().size()));
}

void ContentView::launcherWillShow() {
    navigationState_.sync(static_cast<std::int64_t>(rows().size()));
    std::weak_ptr<ContentView*> weak = self_;
    appIndex_.indexApps([weak] {
        if (auto self = weak.lock()) (*self)->refreshBound();
    });
    focusSearchLater();
}

void ContentView::refreshBound() {
    // Only clamps: a row the user moved to while the catalogue was being read stays selected.
    const auto n = static_cast<std::int64_t>(rows().size());
    navigationState_.setMaxIndex(n > 0 ? n - 1 : 0);
    if (navigationState_.selectedIndex() > navigationState_.maxIndex()) {
        navigationState_.setSelectedIndex(navigationState_.maxIndex());
    }
    changed.emit();
}

void ContentView::selectionChanged(std::int64_t index) {
    // Every assignment is announced, but only a move of the selection scrolls.
    if (index == lastSelection_) return;
    lastSelection_ = index;
    const std::vector<AppItem> items = rows();
    if (index >= 0 && index < static_cast<std::int64_t>(items.size())) {
        scrollRequested.emit(items[static_cast<std::size_t>(index)].id);
    }
    changed.emit();
}

void ContentView::clickRow(std::size_t index) {
    navigationState_.setSelectedIndex(static_cast<std::int64_t>(index));
    choose();
}

void ContentView::clearButtonPressed() {
    setQuery("");
}

void ContentView::finish() {
    setQuery("");
    if (onDismiss_) onDismiss_();
}

void ContentView::choose() {
    const std::vector<AppItem> items = rows();
    if (items.empty()) return;
    const std::int64_t selected = navigationState_.selectedIndex();
    if (selected < 0 || selected >= static_cast<std::int64_t>(items.size())) return;
    const AppItem item = items[static_cast<std::size_t>(selected)];

    switch (item.kind.value()) {
        case AppItem::Kind::calculator: {
            // The copy text, not the formatted display; no marker of ours, so the history keeps it.
            const std::string type(platform::pasteboardType::string);
            services_.pasteboard.clearContents();
            services_.pasteboard.declareTypes({type});
            services_.pasteboard.setString(item.kind.copyText(), type);
            finish();
            return;
        }
        case AppItem::Kind::app:
            if (item.profile) {
                AppLauncher::launchFirefoxProfile(*item.profile, item.path, services_.launching);
            } else if (auto launched =
                           AppActivator::activateOrLaunch(item.path, services_.launching.activator);
                       !launched) {
                LaunchFailure::report(item.name, item.path, launched.reason(),
                                      services_.launching.activator.notifications);
            }
            finish();
            return;
        case AppItem::Kind::folder:
            if (auto opened = services_.workspace.open(item.path); !opened) {
                LaunchFailure::report(item.name, item.path, opened.reason(),
                                      services_.launching.activator.notifications);
            } else if (appIndex_.zoxideItem() && appIndex_.zoxideItem()->id == item.id) {
                // As the shell's `z` does after a jump, so the folder ranks higher next time.
                appIndex_.recordZoxideVisit(item.path);
            }
            finish();
            return;
        case AppItem::Kind::quit:
            setQuery("");
            if (services_.quit) services_.quit();
            return;
        default:
            break;
    }
    if (auto command = windowCommandFor(item.kind)) {
        // The panel's snap callback hides the panel itself, so no dismiss here.
        setQuery("");
        if (onWindowSnap_) onWindowSnap_(*command);
    }
}

ContentView::Presentation ContentView::presentation() const {
    Presentation p;
    p.searchSymbolHighlighted = isSearchFocused_;
    p.showsClearButton = !query_.empty();
    p.versionLabel = "v" + AppVersion::string();
    const std::vector<AppItem> items = rows();
    if (items.empty()) {
        p.emptyState = query_.empty() ? EmptyState{"keyboard", "Start typing to search…"}
                                      : EmptyState{"magnifyingglass", "No results"};
        return p;
    }
    const std::int64_t selected = navigationState_.selectedIndex();
    p.rows.reserve(items.size());
    for (std::size_t i = 0; i < items.size(); ++i) {
        const AppItem& item = items[i];
        const bool isCalculator = item.kind == AppItem::Kind::calculator;
        Row row;
        row.id = item.id;
        row.name = item.name;
        row.nameWeight = isCalculator ? NameWeight::semibold : NameWeight::medium;
        row.secondaryText = item.profile;
        row.secondaryTextSingleLine = isCalculator;
        row.icon = item.icon.value_or(IconRef::symbol("app.dashed", item.name));
        row.isRunning = item.isRunning;
        row.isSelected = static_cast<std::int64_t>(i) == selected;
        p.rows.push_back(std::move(row));
    }
    return p;
}

}  // namespace quenlit
