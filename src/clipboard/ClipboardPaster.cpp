#include "clipboard/ClipboardPaster.h"

#include "base/Log.h"

#include <string>

namespace quenlit::ClipboardPaster {
namespace {

std::string nameOf(const std::optional<platform::RunningApplication>& app) {
    return app && app->localizedName ? *app->localizedName : "?";
}

void postCommandV(const Context& context, const std::optional<platform::RunningApplication>& target) {
    if (target) {
        const std::optional<platform::RunningApplication> focused =
            context.workspace.keyboardFocusApplication();
        if (!focused || focused->processIdentifier != target->processIdentifier) {
            log::write("clipboard: paste skipped — " + nameOf(target) +
                       " does not have the keyboard focus (it is with " + nameOf(focused) +
                       "); the entry stays on the clipboard");
            return;
        }
    }

    // Without trust the desktop may drop the keystroke; the entry stays on the clipboard, so the
    // user can still paste by hand.
    const bool trusted = context.windows.isProcessTrusted(false);
    if (!trusted) {
        log::write("clipboard: posting ⌘V without AX trust (may be dropped; content is on pasteboard)");
    }

    const std::unique_ptr<platform::EventSource> source = context.input.createEventSource();
    if (!source) {
        log::write("clipboard: paste failed — no CGEventSource");
        return;
    }

    // The desktop's paste shortcut, Control+V (the backend knows the applications that want another).
    std::optional<platform::InputEvent> down = source->keyboardEvent('v', true);
    std::optional<platform::InputEvent> up = source->keyboardEvent('v', false);
    if (!down || !up) {
        log::write("clipboard: paste failed — could not create key events");
        return;
    }
    // Control alone: modifiers the user still holds must not turn the paste into another shortcut.
    down->modifiers = up->modifiers = platform::Modifiers{.control = true};
    if (!source->post(*down) || !source->post(*up)) {
        log::write("clipboard: paste failed — the desktop refused the key events");
        return;
    }

    const std::optional<platform::RunningApplication> front = context.workspace.frontmostApplication();
    log::write("clipboard: posted ⌘V (frontmost=" + nameOf(front) + ", ax=" + (trusted ? "1" : "0") + ")");
}

}  // namespace

platform::TaskHandle pasteCommandV(platform::Seconds delay, const Context& context,
                                   std::optional<platform::RunningApplication> target) {
    return context.scheduler.postAfter(
        delay, [context, target = std::move(target)] { postCommandV(context, target); });
}

}  // namespace quenlit::ClipboardPaster
