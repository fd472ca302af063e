#include "backends/x11/X11HotKeys.h"

#include "backends/linux/KeyPositions.h"
#include "backends/x11/KeyTranslation.h"

#include <algorithm>
#include <cstdlib>
#include <memory>

namespace quenlit::x11 {
namespace {

constexpr std::uint32_t kNumLock = 0xff7f;
constexpr std::uint32_t kScrollLock = 0xff14;
constexpr std::uint32_t kSuperL = 0xffeb;
constexpr std::uint32_t kSuperR = 0xffec;
constexpr std::uint32_t kAltL = 0xffe9;
constexpr std::uint32_t kAltR = 0xffea;

}  // namespace

X11HotKeys::X11HotKeys(X11Connection& connection, X11EventHub& events) : x_(connection), events_(events) {
    readModifierMapping();
    handlerToken_ = events_.addHandler([this](xcb_generic_event_t* e) { return onEvent(e); });
}

X11HotKeys::~X11HotKeys() {
    events_.removeHandler(handlerToken_);
    for (auto& r : registrations_)
        ungrab(r);
    x_.flush();
}

void X11HotKeys::readModifierMapping() {
    mapping_ = KeyboardMapping::read(x_.raw());
    numLockMask_ = mapping_.modifierMaskOf(kNumLock);
    scrollLockMask_ = mapping_.modifierMaskOf(kScrollLock);
    superMask_ = XCB_MOD_MASK_4;
    altMask_ = XCB_MOD_MASK_1;
    if (auto m = mapping_.modifierMaskOf(kSuperL) | mapping_.modifierMaskOf(kSuperR))
        superMask_ = static_cast<std::uint16_t>(m);
    if (auto m = mapping_.modifierMaskOf(kAltL) | mapping_.modifierMaskOf(kAltR))
        altMask_ = static_cast<std::uint16_t>(m);
}

xcb_keycode_t X11HotKeys::keycodeFor(std::uint32_t keysym) const {
    return mapping_.keycodeFor(keysym);
}

std::uint16_t X11HotKeys::maskFor(platform::Modifiers modifiers) const {
    std::uint16_t mask = 0;
    if (modifiers.super) mask |= superMask_;
    if (modifiers.shift) mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers.alt) mask |= altMask_;
    if (modifiers.control) mask |= XCB_MOD_MASK_CONTROL;
    return mask;
}

std::vector<std::uint16_t> X11HotKeys::lockCombinations() const {
    std::vector<std::uint16_t> locks{0};
    for (std::uint16_t lock :
         {static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK), numLockMask_, scrollLockMask_}) {
        if (lock == 0) continue;
        const std::size_t n = locks.size();
        for (std::size_t i = 0; i < n; ++i)
            locks.push_back(static_cast<std::uint16_t>(locks[i] | lock));
    }
    return locks;
}

std::optional<std::string> X11HotKeys::grab(Registration& r) {
    r.keycode = keycodeFor(r.keysym);
    r.mask = maskFor(r.modifiers);
    if (r.keycode == 0) return "the key is not on the keyboard";
    for (std::uint16_t lock : lockCombinations()) {
        const auto mask = static_cast<std::uint16_t>(r.mask | lock);
        xcb_void_cookie_t cookie = xcb_grab_key_checked(x_.raw(), 1, x_.root(), mask, r.keycode,
                                                        XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        if (xcb_generic_error_t* error = xcb_request_check(x_.raw(), cookie)) {
            const bool taken = error->error_code == XCB_ACCESS;
            std::free(error);
            ungrab(r);
            return taken ? "taken by another program" : "the grab was refused";
        }
        r.grabbedMasks.push_back(mask);
    }
    return std::nullopt;
}

void X11HotKeys::ungrab(Registration& r) {
    for (std::uint16_t mask : r.grabbedMasks)
        xcb_ungrab_key(x_.raw(), r.keycode, x_.root(), mask);
    r.grabbedMasks.clear();
}

Result<platform::HotKeyRef> X11HotKeys::registerHotKey(std::uint32_t id, std::uint32_t keysym,
                                                       platform::Modifiers modifiers) {
    // Which Control key does not count: a grab takes the modifier.
    modifiers = modifiers.withoutSides();
    for (const auto& r : registrations_) {
        if (r.keysym == keysym && r.modifiers == modifiers) {
            return Failure{"already registered by this program"};
        }
    }
    Registration r{nextRef_++, id, keysym, modifiers, 0, 0, {}};
    if (auto error = grab(r)) return Failure{*error};
    x_.flush();
    registrations_.push_back(r);
    return static_cast<platform::HotKeyRef>(r.ref);
}

void X11HotKeys::unregisterHotKey(platform::HotKeyRef registration) {
    const auto ref = static_cast<std::uint64_t>(registration);
    auto it = std::find_if(registrations_.begin(), registrations_.end(),
                           [ref](const auto& r) { return r.ref == ref; });
    if (it == registrations_.end()) return;
    ungrab(*it);
    x_.flush();
    registrations_.erase(it);
}

std::string X11HotKeys::describe(std::uint32_t keysym, platform::Modifiers modifiers) const {
    return linux_backend::describeHotKey(keysym, modifiers);
}

bool X11HotKeys::handleGrabbedKeyPress(xcb_keycode_t keycode, std::uint16_t state) {
    const auto locks = static_cast<std::uint16_t>(XCB_MOD_MASK_LOCK | numLockMask_ | scrollLockMask_);
    const auto relevant = static_cast<std::uint16_t>(state & ~locks & 0xff);
    for (const auto& r : registrations_) {
        if (r.keycode == keycode && r.mask == relevant) {
            pressed.emit(r.id);
            return true;
        }
    }
    return false;
}

bool X11HotKeys::onEvent(xcb_generic_event_t* event) {
    const auto type = event->response_type & 0x7f;
    if (type == XCB_KEY_PRESS) {
        auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
        if (press->event != x_.root()) return false;
        return handleGrabbedKeyPress(press->detail, press->state);
    }
    if (type == XCB_KEY_RELEASE) {
        auto* release = reinterpret_cast<xcb_key_release_event_t*>(event);
        if (release->event != x_.root()) return false;
        // The release of a grabbed combination is ours too: Qt has no window for it.
        return std::any_of(registrations_.begin(), registrations_.end(),
                           [&](const auto& r) { return r.keycode == release->detail; });
    }
    if (type == XCB_MAPPING_NOTIFY) {
        auto* mapping = reinterpret_cast<xcb_mapping_notify_event_t*>(event);
        if (mapping->request == XCB_MAPPING_KEYBOARD || mapping->request == XCB_MAPPING_MODIFIER) {
            for (auto& r : registrations_)
                ungrab(r);
            readModifierMapping();
            for (auto& r : registrations_)
                grab(r);
            x_.flush();
        }
        return false;  // Qt refreshes its own keymap from the same event
    }
    return false;
}

}  // namespace quenlit::x11
