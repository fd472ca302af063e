#include "launcher/ContentView.h"

#include "base/Log.h"

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
      list_(navigationState, services_.scheduler,
            {[this](std::int64_t index) -> std::optional<Uuid> {
                 const std::vector<AppItem> items = rows();
                 if (index < 0 || index >= static_cast<std::int64_t>(items.size())) return std::nullopt;
                 return items[static_cast<std::size_t>(index)].id;
             },
             [this](Uuid id) { scrollRequested.emit(id); }, [this] { changed.emit(); }}) {
    connections_.push_back(
        services_.notifications.observe(Notification::launcherWillShow, [this] { launcherWillShow(); }));
    connections_.push_back(
        services_.notifications.observe(Notification::launchSelectedApp, [this] { choose(); }));
    connections_.push_back(appIndex_.appsChanged.connect([this] { refreshBound(); }));
    connections_.push_back(appIndex_.zoxideItemChanged.connect([this] { refreshBound(); }));
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
    list_.reset(static_cast<std::int64_t>(rows().size()));
    changed.emit();
}

void ContentView::viewDidAppear() {
    if (didAppear_) return;
    didAppear_ = true;
    list_.focusSearchLater();
    list_.reset(static_cast<std::int64_t>(rows().size()));
}

void ContentView::launcherWillShow() {
    fieldActivationPending_ = true;
    list_.reset(static_cast<std::int64_t>(rows().size()));
    appIndex_.indexApps(self_.bind([](ContentView& self) { self.refreshBound(); }));
    list_.focusSearchLater();
    changed.emit();
}

void ContentView::refreshBound() {
    // A row the user moved to while the catalogue was being read stays selected.
    list_.clampTo(static_cast<std::int64_t>(rows().size()));
    changed.emit();
}

void ContentView::clickRow(std::size_t index) {
    list_.select(index);
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
    const AppItem& item = items[static_cast<std::size_t>(selected)];

    switch (item.kind.value()) {
        case AppItem::Kind::calculator: {
            // The copy text, not the formatted display; no marker of ours, so the history keeps it.
            const Result<> copied = services_.pasteboard.write(
                {{std::string(platform::pasteboardType::string), item.kind.copyText()}});
            if (!copied) log::write("calculator: copy failed — " + copied.error().reason);
            finish();
            return;
        }
        case AppItem::Kind::app:
            if (const std::string* profile = item.firefoxProfile()) {
                AppLauncher::launchFirefoxProfile(*profile, item.path, services_.launching);
            } else if (auto launched =
                           AppActivator::activateOrLaunch(item.path, services_.launching.activator);
                       !launched) {
                LaunchFailure::report(item.name, item.path, launched.error().reason,
                                      services_.launching.activator.notifications);
            }
            finish();
            return;
        case AppItem::Kind::folder:
            if (auto opened = services_.workspace.open(item.path); !opened) {
                LaunchFailure::report(item.name, item.path, opened.error().reason,
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
    p.searchSymbolHighlighted = list_.isSearchFocused();
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
        row.secondaryText = item.secondaryText();
        row.secondaryTextSingleLine = isCalculator;
        row.icon = item.icon.value_or(IconRef::symbol("app.dashed", item.name));
        row.isRunning = item.isRunning;
        row.isSelected = static_cast<std::int64_t>(i) == selected;
        p.rows.push_back(std::move(row));
    }
    return p;
}

}  // namespace quenlit
