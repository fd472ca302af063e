#include "clipboard/ClipboardPaster.h"

#include "base/Log.h"

#include <string>

namespace quenlit::ClipboardPaster {
namespace {

void postCommandV(const Context& context) {
    // Without trust the desktop may drop the keystroke; the entry stays on the clipboard, so the
    // user can still paste by hand.
    const bool trusted = context.accessibility.isProcessTrusted(false);
    if (!trusted) {
        log::write("clipboard: posting ⌘V without AX trust (may be dropped; content is on pasteboard)");
    }

    const std::unique_ptr<platform::EventSource> source =
        context.input.createEventSource(platform::InputSynthesizer::SourceState::hidSystem);
    if (!source) {
        log::write("clipboard: paste failed — no CGEventSource");
        return;
    }
    source->permitLocalEventsDuringSuppression();

    std::optional<platform::InputEvent> down = source->keyboardEvent(platform::keyCode::ansiV, true);
    std::optional<platform::InputEvent> up = source->keyboardEvent(platform::keyCode::ansiV, false);
    if (!down || !up) {
        log::write("clipboard: paste failed — could not create key events");
        return;
    }
    // Command alone: modifiers the user still holds must not turn the paste into another shortcut.
    down->flags = platform::eventFlags::command;
    up->flags = platform::eventFlags::command;
    if (!source->post(*down) || !source->post(*up)) {
        log::write("clipboard: paste failed — the desktop refused the key events");
        return;
    }

    const std::optional<platform::RunningApplication> front = context.workspace.frontmostApplication();
    const std::string name = front && front->localizedName ? *front->localizedName : "?";
    log::write("clipboard: posted ⌘V (frontmost=" + name + ", ax=" + (trusted ? "1" : "0") + ")");
}

}  // namespace

platform::TaskHandle pasteCommandV(platform::Seconds delay, const Context& context) {
    return context.scheduler.postAfter(delay, [context] { postCommandV(context); });
}

}  // namespace quenlit::ClipboardPaster
