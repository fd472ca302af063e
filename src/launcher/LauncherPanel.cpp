#include "launcher/LauncherPanel.h"

#include <utility>

namespace quenlit {

LauncherPanel::LauncherPanel(NavigationState& navigationState, platform::PanelWindowFactory& windows,
                             Services services)
    : FloatingPanel(kSize, Notification::launcherWillShow, "", windows, services.panel),
      navigationState_(navigationState),
      windowSnap_(services.windowSnap) {
    install(std::move(services.view));
}

LauncherPanel::LauncherPanel(NavigationState& navigationState, std::unique_ptr<platform::PanelWindow> window,
                             Services services)
    : FloatingPanel(kSize, Notification::launcherWillShow, "", std::move(window), services.panel),
      navigationState_(navigationState),
      windowSnap_(services.windowSnap) {
    install(std::move(services.view));
}

LauncherPanel::~LauncherPanel() = default;

void LauncherPanel::install(ContentView::Services view) {
    // The view lives inside the panel, so its callbacks can never outlive it.
    contentView_ = std::make_unique<ContentView>(
        navigationState_, std::move(view), [this] { hide(false); },
        [this](WindowSnap::Command command) { snapWindow(command); });
}

void LauncherPanel::snapWindow(WindowSnap::Command command) {
    // Taken before the hide, which forgets it.
    const std::optional<platform::RunningApplication> app = previouslyActiveApp();
    hide(true);
    WindowSnap::apply(command, app, windowSnap_);
}

}  // namespace quenlit
