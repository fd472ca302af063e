#include "shell/AppDelegate.h"

#include "clipboard/ClipboardPanel.h"
#include "clipboard/ClipboardPaster.h"
#include "panel/FocusRestorer.h"

namespace quenlit {
namespace {

// The paste keystroke waits for the target application to be active again.
constexpr platform::Seconds kPasteDelayAfterRestore{0.15};
constexpr platform::Seconds kPasteDelay{0.2};

}  // namespace

AppDelegate::AppDelegate(Platform platform, Configuration configuration)
    : platform_(platform),
      configuration_(std::move(configuration)),
      profiles_{configuration_.firefoxSupportFolder, platform_.processInspector, platform_.fileReader},
      clipboardStore_({platform_.scheduler, platform_.pasteboard, platform_.imageCodec, platform_.secretStore,
                       platform_.files, platform_.cipher},
                      configuration_.clipboardOptions) {}

AppDelegate::~AppDelegate() {
    self_.reset();
}

FloatingPanel::Services AppDelegate::panelServices() {
    return {{platform_.windowControl, platform_.workspace, platform_.scheduler, platform_.screens},
            notifications_};
}

ContentView::Services AppDelegate::launcherViewServices() {
    // The profile queries run on the scan's background task, which may still be running when the
    // delegate is destroyed: they own a copy of what they read instead of reaching into it.
    auto profiles = std::make_shared<const ProfileManager::Environment>(profiles_);
    AppIndex::Sources sources{platform_.workspace,
                              [profiles] { return ProfileManager::detectFirefoxProfiles(*profiles); },
                              [profiles](const std::vector<FirefoxProfile>& found) {
                                  return ProfileManager::detectRunningProfiles(found, *profiles);
                              },
                              &platform_.windowControl};
    return {platform_.scheduler,
            notifications_,
            platform_.pasteboard,
            platform_.workspace,
            std::move(sources),
            {platform_.processes, configuration_.home},
            {{platform_.workspace, platform_.windowControl, platform_.notifications}, profiles_},
            self_.bind([](AppDelegate& self) {
                if (self.configuration_.quit) self.configuration_.quit();
            })};
}

void AppDelegate::wireNavigation(FloatingPanel& panel, NavigationState& state,
                                 Notification enterNotification) {
    // The state is owned by this delegate, which outlives its panels.
    NavigationState* s = &state;
    NotificationCenter* center = &notifications_;
    panel.onArrowUp = [s] { s->moveUp(); };
    panel.onArrowDown = [s] { s->moveDown(); };
    panel.onPageUp = [s] { s->movePageUp(); };
    panel.onPageDown = [s] { s->movePageDown(); };
    panel.onEnter = [center, enterNotification] { center->post(enterNotification); };
}

void AppDelegate::applicationDidFinishLaunching() {
    panel_ = std::make_unique<LauncherPanel>(
        navigationState_, platform_.windows,
        LauncherPanel::Services{panelServices(),
                                launcherViewServices(),
                                {platform_.windowControl, platform_.screens, platform_.workspace}});
    wireNavigation(*panel_, navigationState_, Notification::launchSelectedApp);
    if (configuration_.clipboard) setupClipboardPanel();
    didCreatePanels.emit();
    // The launcher shows first: the hot keys, the history read from disk and the keyboard taps are
    // nothing a person sees, and a large history takes tens of milliseconds to read.
    if (panel_) panel_->show(nullptr);
    setupHotKey();
    if (configuration_.clipboard) clipboardStore_.startMonitoring();
    if (platform_.keyboard != nullptr) {
        textExpander_ = std::make_unique<TextExpander>(TextExpander::Services{
            *platform_.keyboard, platform_.input, platform_.workspace, platform_.windowControl,
            platform_.scheduler, configuration_.wallClock ? configuration_.wallClock : [] {
                return std::chrono::system_clock::now();
            }});
        textExpander_->start();
        appToggleMonitor_ = std::make_unique<AppToggleMonitor>(
            AppToggleMonitor::Services{*platform_.keyboard, platform_.workspace, platform_.windowControl,
                                       platform_.scheduler, platform_.fileReader},
            configuration_.bindings);
        appToggleMonitor_->start();
    }
}

void AppDelegate::setupClipboardPanel() {
    clipboardPanel_ = std::make_unique<ClipboardPanel>(
        clipboardStore_, clipboardNavigationState_,
        self_.bind([](AppDelegate& self, const ClipboardItem& item) { self.pasteClipboardItem(item); }),
        platform_.windows, ClipboardPanel::Services{panelServices(), platform_.imageCodec});
    wireNavigation(*clipboardPanel_, clipboardNavigationState_, Notification::pasteSelectedClipboardItem);
}

void AppDelegate::setupHotKey() {
    hotKeyManager_ = std::make_unique<HotKeyManager>(
        platform_.hotKeys, platform_.scheduler, self_.bind([](AppDelegate& self) { self.togglePanel(); }),
        self_.bind([](AppDelegate& self) { self.toggleClipboardPanel(); }));
}

void AppDelegate::togglePanel() {
    if (!panel_) return;
    if (clipboardPanel_ && clipboardPanel_->isVisible()) clipboardPanel_->hide(false);
    if (panel_->isVisible()) {
        panel_->hide(true);
    } else {
        panel_->show(nullptr);
    }
}

void AppDelegate::toggleClipboardPanel() {
    if (!clipboardPanel_) return;
    if (panel_ && panel_->isVisible()) panel_->hide(false);
    if (clipboardPanel_->isVisible()) {
        clipboardPanel_->hide(true);
        return;
    }
    FocusRestorer::log("clipboard: ⌘Esc toggle → show");
    clipboardPanel_->show();
}

void AppDelegate::pasteClipboardItem(const ClipboardItem& item) {
    FocusRestorer::log(std::string("clipboard: paste selected kind=") +
                       (item.kind == ClipboardItem::Kind::image ? "image" : "text") +
                       " len=" + std::to_string(text::graphemeCount(item.text())));
    FocusRestorer::ensureTrusted(true, platform_.windowControl);
    clipboardStore_.copyToPasteboard(item);
    const ClipboardPaster::Context paster{platform_.scheduler, platform_.windowControl, platform_.input,
                                          platform_.workspace};
    if (clipboardPanel_) {
        const auto target = clipboardPanel_->hideForPaste();
        ClipboardPaster::pasteCommandV(target ? kPasteDelayAfterRestore : kPasteDelay, paster, target);
        return;
    }
    ClipboardPaster::pasteCommandV(kPasteDelay, paster);
}

void AppDelegate::applicationWillTerminate() {
    if (appToggleMonitor_) {
        appToggleMonitor_->tearDownTap();
        FocusRestorer::log("apptoggle: stop");
        appToggleMonitor_.reset();
    }
    if (textExpander_) {
        textExpander_->stop();
        textExpander_.reset();
    }
    if (configuration_.clipboard) clipboardStore_.stopMonitoring();
}

}  // namespace quenlit
