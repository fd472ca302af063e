#pragma once

// The clipboard history's panel: 680 × 420, announcing clipboardWillShow on every show, its log
// lines prefixed "clipboard ". It hosts the clipboard view and owns the actions menu's model:
// Command-K opens or closes the menu, and while the menu is open it has the first refusal on the
// keys the panel would otherwise give to the list. Every hide empties the preview pictures'
// cache, which holds the large pictures of the one entry previewed last.
//
// The arrow and Enter callbacks are left to whoever wires the navigation. Main thread only.

#include "base/WeakSelf.h"
#include "clipboard/ClipboardImageThumbnail.h"
#include "clipboard/ClipboardItem.h"
#include "clipboard/ClipboardMenu.h"
#include "clipboard/ClipboardStore.h"
#include "clipboard/ClipboardView.h"
#include "panel/FloatingPanel.h"
#include "panel/NavigationState.h"

#include <chrono>
#include <functional>
#include <memory>
#include <optional>

namespace quenlit {

class ClipboardPanel : public FloatingPanel {
  public:
    static constexpr platform::Size kSize{680, 420};

    struct Services {
        // The panel's own; the view uses the same scheduler and notifications.
        FloatingPanel::Services panel;
        // Decodes the thumbnails of image entries.
        platform::ImageCodec& imageCodec;
        // The wall clock of the view's date headings and time labels. Default: the system clock.
        std::function<std::chrono::system_clock::time_point()> now = {};
        // The thumbnail caches whose previews every hide empties. Default: the process's one.
        ClipboardThumbnailCache* thumbnails = nullptr;
    };

    // Created once by the application delegate: `store` is the clipboard history, `navigationState`
    // the clipboard list's selection (both owned by the delegate, and the navigation state must
    // outlive the panel), and `onPaste` the delegate's paste sequence, called with the entry to
    // paste. The window comes from `windows`.
    ClipboardPanel(ClipboardStore& store, NavigationState& navigationState,
                   ClipboardView::PasteCallback onPaste, platform::PanelWindowFactory& windows,
                   Services services);
    // The same with a window of the caller's.
    ClipboardPanel(ClipboardStore& store, NavigationState& navigationState,
                   ClipboardView::PasteCallback onPaste, std::unique_ptr<platform::PanelWindow> window,
                   Services services);
    ~ClipboardPanel() override;

    // Shows the panel, then moves the keyboard focus into the search field (see
    // focusSearchFieldRequested); `afterBecomeKey`, if given, runs after that request.
    void show(std::function<void()> afterBecomeKey = {}) override;
    // Empties the preview pictures' cache, then hides as every panel does.
    void hide(bool restoreFocus) override;
    // Empties the preview pictures' cache too: the panel hides for a paste as well.
    std::optional<platform::RunningApplication> hideForPaste() override;

    // Asks, from the main queue, for the keyboard focus to go to the search field.
    void focusSearchField();
    // Answered by the toolkit: it finds the search field in the panel's content (depth first, a
    // view before its children, the first match) and makes it the first responder.
    Signal<> focusSearchFieldRequested;

    ClipboardActionsModel& menuModel() { return menuModel_; }
    ClipboardView& clipboardView() { return *clipboardView_; }

  private:
    void install(ClipboardStore& store, NavigationState& navigationState,
                 ClipboardView::PasteCallback onPaste, platform::ImageCodec& imageCodec,
                 std::function<std::chrono::system_clock::time_point()> now,
                 ClipboardThumbnailCache* thumbnails);
    void emptyPreviews();

    ClipboardActionsModel menuModel_;
    ClipboardThumbnailCache* thumbnails_ = nullptr;
    std::unique_ptr<ClipboardView> clipboardView_;
    // The focus request from the main queue and the key hooks hold the panel weakly.
    WeakSelf<ClipboardPanel> self_{this};
};

}  // namespace quenlit
