#include "backends/x11/X11KeyboardEvents.h"

#include "backends/x11/X11GrabTap.h"
#include "backends/x11/X11RawTap.h"

#include <xcb/xinput.h>

namespace quenlit::x11 {

X11KeyboardEvents::X11KeyboardEvents(Options options) : options_(std::move(options)) {}

X11KeyboardEvents::~X11KeyboardEvents() {
    if (probe_ != nullptr) xcb_disconnect(probe_);
}

void X11KeyboardEvents::setSwallowableKeys(const std::vector<std::uint32_t>& keysyms) {
    swallowable_ = keysyms;
}

Result<std::unique_ptr<platform::EventTap>> X11KeyboardEvents::createTap(platform::TapMode mode,
                                                                         std::uint64_t eventMask,
                                                                         Callback callback) {
    xcb_connection_t* c = openConnection();
    if (c == nullptr) return Failure::unsupported("no keyboard tap on this display");
    const auto xinput = xinputOpcode(c);
    const std::uint32_t raw =
        mode == platform::TapMode::swallowing
            ? 0  // the grabs bring the key presses
            // Presses only: half the wake-ups of reading every event.
            : XCB_INPUT_XI_EVENT_MASK_RAW_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_RAW_BUTTON_PRESS;
    std::unique_ptr<KeyText> text;
    if (mode == platform::TapMode::listenOnly) text = KeyText::fromServer(c);
    if (!xinput || !selectRawEvents(c, raw) || (mode == platform::TapMode::listenOnly && !text)) {
        xcb_disconnect(c);
        return Failure::unsupported("no keyboard tap on this display");
    }
    auto dispatch = std::make_shared<TapDispatch>();
    dispatch->callback = std::move(callback);
    dispatch->mask = eventMask;
    if (mode == platform::TapMode::swallowing) {
        return makeGrabTap(c, *xinput, swallowable_, std::move(dispatch), freezes_);
    }
    return makeRawTap(c, *xinput, std::move(text), std::move(dispatch), options_.ownEvents);
}

bool X11KeyboardEvents::isSecureEventInputEnabled() {
    if (tapEventSecure) return *tapEventSecure;
    if (probe_ == nullptr) {
        probe_ = openConnection();
        if (probe_ == nullptr) return false;
        probeWindow_ = unmappedWindow(probe_);
    }
    return anotherClientHoldsKeyboard(probe_, probeWindow_);
}

}  // namespace quenlit::x11
