#pragma once

// The launcher's panel: 640 × 400, announcing launcherWillShow on every show, with the launcher
// view installed. The view dismisses the panel without giving the focus back (the chosen
// application takes it), and hands window commands to the panel, which hides itself and snaps the
// window of the application that was in front before it appeared.
//
// The arrow and Enter callbacks are left to whoever wires the navigation; Command-K and the menu
// key stay unset. Main thread only.

#include "automation/WindowSnap.h"
#include "launcher/ContentView.h"
#include "panel/FloatingPanel.h"
#include "panel/NavigationState.h"

#include <memory>

namespace quenlit {

class LauncherPanel : public FloatingPanel {
  public:
    static constexpr platform::Size kSize{640, 400};

    struct Services {
        FloatingPanel::Services panel;
        ContentView::Services view;
        WindowSnap::Context windowSnap;
    };

    LauncherPanel(NavigationState& navigationState, platform::PanelWindowFactory& windows, Services services);
    LauncherPanel(NavigationState& navigationState, std::unique_ptr<platform::PanelWindow> window,
                  Services services);
    ~LauncherPanel() override;

    NavigationState& navigationState() { return navigationState_; }
    ContentView& contentView() { return *contentView_; }

  private:
    void install(ContentView::Services view);
    void snapWindow(WindowSnap::Command command);

    NavigationState& navigationState_;
    WindowSnap::Context windowSnap_;
    std::unique_ptr<ContentView> contentView_;
};

}  // namespace quenlit
