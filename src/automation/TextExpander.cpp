#include "automation/TextExpander.h"

#include "automation/VirtualKeys.h"
#include "base/Log.h"
#include "base/Text.h"
#include "panel/FocusRestorer.h"

#include <mutex>
#include <utility>
#include <variant>

namespace quenlit {
namespace {

using platform::EventType;

// UTF-16 from an event as UTF-8; a lone surrogate (a pair cut at the unit limit) becomes U+FFFD.
std::string utf8FromUtf16(std::u16string_view units) {
    std::string out;
    out.reserve(units.size());
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t u = units[i];
        if (u < 0x80) {
            out.push_back(static_cast<char>(u));
        } else if (u >= 0xD800 && u <= 0xDBFF && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
                   units[i + 1] <= 0xDFFF) {
            const char32_t c =
                0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            text::appendUtf8(out, c);
            ++i;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            text::appendUtf8(out, U'\uFFFD');
        } else {
            text::appendUtf8(out, u);
        }
    }
    return out;
}

std::u16string utf16Units(char32_t c) {
    if (c < 0x10000) return std::u16string(1, static_cast<char16_t>(c));
    const char32_t v = c - 0x10000;
    return {static_cast<char16_t>(0xD800 + (v >> 10)), static_cast<char16_t>(0xDC00 + (v & 0x3FF))};
}

bool isMouseDown(EventType type) {
    return type == EventType::leftMouseDown || type == EventType::rightMouseDown ||
           type == EventType::otherMouseDown;
}

// A key press and its release, flagless and marked as ours; absent when either cannot be made.
std::optional<std::pair<platform::InputEvent, platform::InputEvent>> markedKeyPress(
    platform::EventSource& source, std::uint32_t keysym) {
    auto down = source.keyboardEvent(keysym, true);
    auto up = source.keyboardEvent(keysym, false);
    if (!down || !up) return std::nullopt;
    for (auto* event : {&*down, &*up}) {
        event->modifiers = {};
        event->userData = TextExpander::kSyntheticMarker;
    }
    return std::make_pair(std::move(*down), std::move(*up));
}

}  // namespace

bool TextExpander::isResetKeyCode(std::uint16_t keyCode) {
    namespace key = virtualKeys;
    switch (keyCode) {
        case key::returnKey:
        case key::keypadEnter:
        case key::escape:
        case key::tab:
        case key::leftArrow:
        case key::rightArrow:
        case key::upArrow:
        case key::downArrow:
        case key::home:
        case key::end:
        case key::pageUp:
        case key::pageDown:
        case key::forwardDelete:
            return true;
        default:
            return false;
    }
}

TextExpander::TextExpander(Services services)
    : services_(std::move(services)), policy_(TextExpanderPolicy::kTimeKeyword, services_.wallClock) {}

TextExpander::~TextExpander() {
    // The tap first: its callback may be running on the tap's thread until then.
    tearDownTap();
    self_.reset();
}

template <typename F>
void TextExpander::later(platform::Seconds delay, F fn) {
    services_.scheduler.postAfter(delay, self_.bind(std::move(fn)));
}

void TextExpander::clearPolicy() {
    std::lock_guard lock(keysMutex_);
    policy_.clear();
}

void TextExpander::setExpanding(bool expanding) {
    std::lock_guard lock(keysMutex_);
    isExpanding_ = expanding;
}

bool TextExpander::isExpanding() const {
    std::lock_guard lock(keysMutex_);
    return isExpanding_;
}

void TextExpander::start() {
    if (tap_) return;
    FocusRestorer::ensureTrusted(true, services_.windows);
    installAppSwitchObserver();
    installTapIfPossible();
    const bool trusted = services_.windows.isProcessTrusted(false);
    log::write(std::string("textexpander: start (ax=") + (trusted ? "1" : "0") +
               ", tap=" + (tap_ ? "1" : "0") + ")");
}

void TextExpander::stop() {
    tearDownTap();
    appObserver_.disconnect();
    clearPolicy();
    log::write("textexpander: stop");
}

void TextExpander::installAppSwitchObserver() {
    if (appObserver_.connected()) return;
    // The connection is ours, so the observer never outlives the expander.
    appObserver_ = services_.workspace.didActivateApplication.connect(
        [this](const platform::RunningApplication&) { clearPolicy(); });
}

void TextExpander::installTapIfPossible() {
    if (tap_) return;
    if (!services_.windows.isProcessTrusted(false)) {
        log::write("textexpander: tap deferred — Accessibility not trusted");
        return;
    }
    // The tap belongs to the expander and is removed before it, so the callback may use `this`.
    auto created = services_.keyboard.createTap(
        platform::TapMode::listenOnly, kEventMask,
        [this](const platform::InputEvent& e) { return textExpanderCallback(e); });
    if (!created) {
        if (created.error().kind == Failure::Kind::unsupported) {
            if (!loggedTapFailure_) {
                log::write("textexpander: failed to create event tap");
                loggedTapFailure_ = true;
            }
        } else {
            log::write("textexpander: failed to create run-loop source");
        }
        return;
    }
    tap_ = std::move(created).value();
    tap_->setEnabled(true);
    loggedTapFailure_ = false;
    log::write("textexpander: event tap active");
}

void TextExpander::tearDownTap() {
    if (!tap_) return;
    tap_->setEnabled(false);
    tap_.reset();
}

bool TextExpander::textExpanderCallback(const platform::InputEvent& event) {
    if (event.type == EventType::tapDisabledByTimeout || event.type == EventType::tapDisabledByUserInput) {
        later(platform::Seconds(0), [](TextExpander& self) {
            self.clearPolicy();
            if (self.tap_) {
                self.tap_->setEnabled(true);
                log::write("textexpander: re-enabled tap after disable");
            } else {
                self.installTapIfPossible();
            }
        });
        return true;
    }
    if (isMouseDown(event.type)) {
        clearPolicy();  // in order with the keys around it
        return true;
    }
    // Decided here, as the key arrives: the policy takes a microsecond, and keys the user types
    // after the keyword must be kept back from the moment the keyword is complete, or they reach
    // the application before the expansion.
    handleKey(KeyEvent{event.type, event.userData, services_.keyboard.isSecureEventInputEnabled(),
                       event.modifiers, virtualKeys::forKey(event.keysym, event.keycode),
                       event.text.substr(0, kMaxTextUnits)});
    return true;
}

void TextExpander::handleKey(const KeyEvent& event) {
    std::unique_lock lock(keysMutex_);
    if (isExpanding_) return;

    const bool own = event.userData == kSyntheticMarker;
    const bool reset = (event.keyCode && isResetKeyCode(*event.keyCode)) || event.secureInput ||
                       event.modifiers.super || event.modifiers.control || own;

    TextExpanderPolicy::Input input;
    if (reset) {
        input = own ? TextExpanderPolicy::Input::other() : TextExpanderPolicy::Input::reset();
    } else if (event.keyCode == virtualKeys::deleteBackward || event.type != EventType::keyDown) {
        input = event.type == EventType::keyDown ? TextExpanderPolicy::Input::backspace()
                                                 : TextExpanderPolicy::Input::other();
    } else if (!event.text.empty()) {
        input = TextExpanderPolicy::Input::typed(utf8FromUtf16(event.text));
    } else {
        input = TextExpanderPolicy::Input::reset();
    }

    auto match = policy_.process(input, services_.wallClock());
    if (!match) return;
    isExpanding_ = true;
    lock.unlock();
    services_.input.holdUserInput();
    log::write("textexpander: match keyword=" + match->keyword + " → " + match->expansion);
    expand(*match);
}

void TextExpander::expand(const TextExpanderPolicy::Match& match) {
    setExpanding(true);
    later(kDeleteDelay, [match](TextExpander& self) {
        if (match.deletionCount > 0) {
            auto source = self.services_.input.createEventSource();
            bool deleted = source != nullptr;
            for (int i = 0; deleted && i < match.deletionCount; ++i) {
                auto press = markedKeyPress(*source, platform::keysym::backSpace);
                if (!press) {
                    deleted = false;
                    break;
                }
                if (!source->post(press->first) || !source->post(press->second)) {
                    deleted = false;
                    break;
                }
            }
            if (!deleted) {
                log::write("textexpander: delete failed");
                self.setExpanding(false);
                return;
            }
        }
        self.later(kTypeDelay, [expansion = match.expansion](TextExpander& me) {
            if (typeUnicode(expansion, me.services_.input)) {
                log::write("textexpander: expanded " + expansion);
            } else {
                log::write("textexpander: type failed");
            }
            me.setExpanding(false);
        });
    });
}

bool TextExpander::typeUnicode(std::string_view text, platform::InputSynthesizer& input) {
    if (text.empty()) return true;
    auto source = input.createEventSource();
    if (!source) return false;
    for (char32_t scalar : text::decodeUtf8(text)) {
        auto press = markedKeyPress(*source, kTextKeysym);
        if (!press) return false;
        press->first.text = utf16Units(scalar);
        press->second.text = press->first.text;
        if (!source->post(press->first) || !source->post(press->second)) return false;
    }
    return true;
}

}  // namespace quenlit
