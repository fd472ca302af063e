#include "clipboard/ClipboardPanel.h"

#include <utility>

namespace quenlit {

ClipboardPanel::ClipboardPanel(ClipboardStore& store, NavigationState& navigationState,
                               ClipboardView::PasteCallback onPaste, platform::PanelWindowFactory& windows,
                               Services services)
    : FloatingPanel(kSize, Notification::clipboardWillShow, "clipboard ", windows, services.panel) {
    install(store, navigationState, std::move(onPaste), services.imageCodec, std::move(services.now),
            services.thumbnails);
}

ClipboardPanel::ClipboardPanel(ClipboardStore& store, NavigationState& navigationState,
                               ClipboardView::PasteCallback onPaste,
                               std::unique_ptr<platform::PanelWindow> window, Services services)
    : FloatingPanel(kSize, Notification::clipboardWillShow, "clipboard ", std::move(window), services.panel) {
    install(store, navigationState, std::move(onPaste), services.imageCodec, std::move(services.now),
            services.thumbnails);
}

ClipboardPanel::~ClipboardPanel() {
    self_.reset();
    onCommandK = nullptr;
    onMenuKey = nullptr;
}

void ClipboardPanel::install(ClipboardStore& store, NavigationState& navigationState,
                             ClipboardView::PasteCallback onPaste, platform::ImageCodec& imageCodec,
                             std::function<std::chrono::system_clock::time_point()> now,
                             ClipboardThumbnailCache* thumbnails) {
    thumbnails_ = thumbnails != nullptr ? thumbnails : &ClipboardImageThumbnail::cache();
    // Dismissing hides without giving the focus back: the base panel's hide, after emptying the
    // previews as this class's own hide does.
    clipboardView_ = std::make_unique<ClipboardView>(
        store, menuModel_, navigationState, std::move(onPaste), self_.bind([](ClipboardPanel& self) {
            self.emptyPreviews();
            self.FloatingPanel::hide(false);
        }),
        ClipboardView::Services{services().focus.scheduler, services().notifications, imageCodec,
                                std::move(now), thumbnails_});
    onCommandK = self_.bind([](ClipboardPanel& self) { self.menuModel_.toggle(); });
    // Not bound through self_: the key handler answers whether the key was taken.
    onMenuKey = [weak = self_.weak()](std::uint32_t keysym) {
        auto self = weak.lock();
        return self ? (*self)->menuModel_.handleKey(keysym) : false;
    };
}

void ClipboardPanel::emptyPreviews() {
    thumbnails_->previews.removeAll();
}

void ClipboardPanel::show(std::function<void()> afterBecomeKey) {
    // The focus request is harmless to repeat, as the fallback path of show does.
    FloatingPanel::show([this, afterBecomeKey = std::move(afterBecomeKey)] {
        focusSearchField();
        if (afterBecomeKey) afterBecomeKey();
    });
}

void ClipboardPanel::hide(bool restoreFocus) {
    emptyPreviews();
    FloatingPanel::hide(restoreFocus);
}

std::optional<platform::RunningApplication> ClipboardPanel::hideForPaste() {
    emptyPreviews();
    return FloatingPanel::hideForPaste();
}

void ClipboardPanel::focusSearchField() {
    services().focus.scheduler.post(
        self_.bind([](ClipboardPanel& self) { self.focusSearchFieldRequested.emit(); }));
}

}  // namespace quenlit
