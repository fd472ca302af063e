#pragma once

// The paste keystroke of paste-back: once the chosen entry is on the clipboard and the previous
// application is in front again, Command-V is synthesised at the lowest level so that application
// receives an ordinary paste. The desktop backend turns Command-V into the paste key of the target
// window (Control+V, or Control+Shift+V in a terminal).
//
// Main thread only; the services must outlive the scheduled keystroke.

#include "platform/InputEvents.h"
#include "platform/Scheduler.h"
#include "platform/WindowControl.h"
#include "platform/Workspace.h"

#include <optional>

namespace quenlit::ClipboardPaster {

struct Context {
    platform::Scheduler& scheduler;
    platform::WindowControl& windows;
    platform::InputSynthesizer& input;
    platform::Workspace& workspace;
};

// Schedules Command-V on the main queue `delay` from now and returns at once. With a `target`, the
// keystroke is posted only if that application has the keyboard focus by then: keys sent anywhere
// else would type into whatever has it. The entry stays on the clipboard either way.
platform::TaskHandle pasteCommandV(platform::Seconds delay, const Context& context,
                                   std::optional<platform::RunningApplication> target = std::nullopt);

}  // namespace quenlit::ClipboardPaster
