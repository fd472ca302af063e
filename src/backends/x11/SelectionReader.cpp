#include "backends/x11/SelectionReader.h"

#include "backends/x11/X11Connection.h"

#include <xcb/xfixes.h>

#include <poll.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <unordered_set>
#include <utility>

namespace quenlit::x11 {
namespace {

using Clock = std::chrono::steady_clock;
using Event = Reply<xcb_generic_event_t>;

// Each read names its own property, so the late answer of an abandoned read is not taken for the
// answer of the next one.
constexpr unsigned kPropertyRing = 8;

}  // namespace

std::unique_ptr<SelectionReader> SelectionReader::open(const char* display, std::string_view selection) {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(display, &screen);
    if (c == nullptr || xcb_connection_has_error(c) != 0) {
        if (c != nullptr) xcb_disconnect(c);
        return nullptr;
    }
    std::unique_ptr<SelectionReader> reader(new SelectionReader(c, screen, selection));
    if (display != nullptr) reader->display_ = display;
    reader->selectionName_ = std::string(selection);
    if (!reader->start()) return nullptr;
    return reader;
}

std::unique_ptr<SelectionReader> SelectionReader::openReader() const {
    return open(display_ ? display_->c_str() : nullptr, selectionName_);
}

SelectionReader::SelectionReader(xcb_connection_t* connection, int screen, std::string_view selection)
    : raw_(connection), x_(std::make_unique<X11Connection>(connection, screen)) {
    selection_ = x_->atom(selection);
}

SelectionReader::~SelectionReader() {
    x_.reset();
    xcb_disconnect(raw_);
}

bool SelectionReader::start() {
    const xcb_query_extension_reply_t* xfixes = xcb_get_extension_data(raw_, &xcb_xfixes_id);
    if (xfixes == nullptr || xfixes->present == 0) return false;
    Reply<xcb_xfixes_query_version_reply_t> version(
        xcb_xfixes_query_version_reply(raw_, xcb_xfixes_query_version(raw_, 5, 0), nullptr));
    if (!version) return false;
    xfixesEvent_ = xfixes->first_event;

    window_ = xcb_generate_id(raw_);
    const std::uint32_t events = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_create_window(raw_, XCB_COPY_FROM_PARENT, window_, x_->root(), -10, -10, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &events);
    const char* name = "quenlit clipboard reader";
    xcb_change_property(raw_, XCB_PROP_MODE_REPLACE, window_, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                        static_cast<std::uint32_t>(std::strlen(name)), name);
    xcb_xfixes_select_selection_input(raw_, window_, selection_,
                                      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
                                          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
    x_->sync();
    return xcb_connection_has_error(raw_) == 0;
}

void SelectionReader::handleEvent(xcb_generic_event_t* event) {
    const std::uint8_t type = event->response_type & 0x7f;
    if (type == static_cast<std::uint8_t>(xfixesEvent_ + XCB_XFIXES_SELECTION_NOTIFY)) {
        auto* notify = reinterpret_cast<xcb_xfixes_selection_notify_event_t*>(event);
        if (notify->selection != selection_) return;
        ++ownerChanges_;
        switch (notify->subtype) {
            case XCB_XFIXES_SELECTION_EVENT_SET_SELECTION_OWNER:
                lastOwner_ = notify->owner;
                // An owner of None is a program emptying the selection on purpose (xsel -c, a
                // password manager's timed clear).
                changes_.push_back(notify->owner == XCB_WINDOW_NONE ? platform::PasteboardChange::cleared
                                                                    : platform::PasteboardChange::newOwner);
                break;
            case XCB_XFIXES_SELECTION_EVENT_SELECTION_WINDOW_DESTROY:
            case XCB_XFIXES_SELECTION_EVENT_SELECTION_CLIENT_CLOSE:
                if (lastOwner_ != XCB_WINDOW_NONE)
                    goneOwners_.push_back(std::exchange(lastOwner_, XCB_WINDOW_NONE));
                changes_.push_back(platform::PasteboardChange::ownerGone);
                break;
            default:
                break;
        }
    }
    // Anything else is the late answer of an abandoned read, or a property change of ours.
}

long SelectionReader::ownerChanges() {
    while (Event event{xcb_poll_for_event(raw_)}) {
        handleEvent(event.get());
    }
    return ownerChanges_;
}

std::vector<platform::PasteboardChange> SelectionReader::takeChanges() {
    ownerChanges();
    return std::exchange(changes_, {});
}

int SelectionReader::fileDescriptor() const {
    return xcb_get_file_descriptor(raw_);
}

xcb_window_t SelectionReader::owner() {
    Reply<xcb_get_selection_owner_reply_t> reply(
        xcb_get_selection_owner_reply(raw_, xcb_get_selection_owner(raw_, selection_), nullptr));
    return reply ? reply->owner : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
}

xcb_generic_event_t* SelectionReader::nextEvent(Clock::time_point deadline) {
    for (;;) {
        if (xcb_generic_event_t* event = xcb_poll_for_event(raw_)) return event;
        if (xcb_connection_has_error(raw_) != 0) return nullptr;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return nullptr;
        pollfd descriptor{xcb_get_file_descriptor(raw_), POLLIN, 0};
        ::poll(&descriptor, 1, static_cast<int>(left.count()) + 1);
    }
}

std::optional<std::string> SelectionReader::takeProperty(xcb_atom_t property, xcb_atom_t& type,
                                                         std::size_t limit, bool& tooLarge) {
    // The size first, so that data beyond the limit is never transferred.
    Reply<xcb_get_property_reply_t> size(xcb_get_property_reply(
        raw_, xcb_get_property(raw_, 0, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, 0), nullptr));
    if (!size || size->type == XCB_ATOM_NONE) return std::nullopt;
    if (size->bytes_after > limit) {
        tooLarge = true;
        xcb_delete_property(raw_, window_, property);
        return std::nullopt;
    }
    const std::uint32_t longs = (size->bytes_after + 3) / 4;
    Reply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
        raw_, xcb_get_property(raw_, 1, window_, property, XCB_GET_PROPERTY_TYPE_ANY, 0, longs), nullptr));
    if (!reply) return std::nullopt;
    type = reply->type;
    // In bytes, whatever the format.
    const auto bytes = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
    return std::string(static_cast<const char*>(xcb_get_property_value(reply.get())), bytes);
}

SelectionReader::Outcome SelectionReader::read(std::string_view target, std::chrono::milliseconds bound,
                                               std::size_t limit) {
    Outcome outcome;
    const auto deadline = Clock::now() + bound;
    if (owner() == XCB_WINDOW_NONE) {
        outcome.kind = Outcome::Kind::noOwner;
        return outcome;
    }
    const xcb_atom_t targetAtom = x_->atom(target);
    const xcb_atom_t property =
        x_->atom("QUENLIT_SELECTION_" + std::to_string(readSerial_++ % kPropertyRing));
    const xcb_atom_t incr = x_->atom("INCR");
    xcb_delete_property(raw_, window_, property);
    xcb_convert_selection(raw_, window_, selection_, targetAtom, property, XCB_CURRENT_TIME);
    xcb_flush(raw_);

    const auto timedOut = [&] {
        // The owner may still write the property; what it writes later is ignored.
        xcb_delete_property(raw_, window_, property);
        xcb_flush(raw_);
        outcome.kind = Outcome::Kind::timedOut;
        return outcome;
    };

    for (;;) {
        Event event{nextEvent(deadline)};
        if (!event) return timedOut();
        if ((event->response_type & 0x7f) != XCB_SELECTION_NOTIFY) {
            handleEvent(event.get());
            continue;
        }
        auto* notify = reinterpret_cast<xcb_selection_notify_event_t*>(event.get());
        if (notify->requestor != window_ || notify->selection != selection_ || notify->target != targetAtom)
            continue;
        if (notify->property == XCB_ATOM_NONE) return outcome;  // refused
        if (notify->property == property) break;
    }

    xcb_atom_t type = XCB_ATOM_NONE;
    bool tooLarge = false;
    std::optional<std::string> data = takeProperty(property, type, limit, tooLarge);
    if (tooLarge) {
        outcome.kind = Outcome::Kind::tooLarge;
        return outcome;
    }
    if (!data) return outcome;
    if (type != incr) {
        outcome.kind = Outcome::Kind::ok;
        outcome.bytes = std::move(*data);
        outcome.type = x_->atomName(type);
        return outcome;
    }

    // Incremental transfer: taking (deleting) the property asks the owner for the next piece; an
    // empty piece ends the transfer.
    xcb_flush(raw_);
    std::string all;
    xcb_atom_t pieceType = XCB_ATOM_NONE;
    for (;;) {
        Event event{nextEvent(deadline)};
        if (!event) return timedOut();
        if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY) {
            handleEvent(event.get());
            continue;
        }
        auto* changed = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
        if (changed->window != window_ || changed->atom != property ||
            changed->state != XCB_PROPERTY_NEW_VALUE)
            continue;
        std::optional<std::string> piece = takeProperty(property, pieceType, limit - all.size(), tooLarge);
        xcb_flush(raw_);
        if (tooLarge) {
            outcome.kind = Outcome::Kind::tooLarge;
            return outcome;
        }
        if (!piece) return outcome;
        if (piece->empty()) break;
        all += *piece;
    }
    outcome.kind = Outcome::Kind::ok;
    outcome.bytes = std::move(all);
    outcome.type = x_->atomName(pieceType);
    return outcome;
}

std::optional<std::vector<std::string>> SelectionReader::targets(std::chrono::milliseconds bound,
                                                                 bool& timedOut) {
    // Lists longer than anyone offers are read (up to a megabyte) and cut below.
    Outcome outcome = read("TARGETS", bound, 1u << 20);
    timedOut = outcome.kind == Outcome::Kind::timedOut;
    if (outcome.kind != Outcome::Kind::ok) return std::nullopt;
    // Each atom once, in the owner's order, and no more than anyone offers: a list of thousands
    // would cost a name request each.
    std::vector<xcb_atom_t> atoms;
    std::unordered_set<xcb_atom_t> seen;
    const std::size_t count = outcome.bytes.size() / sizeof(xcb_atom_t);
    for (std::size_t i = 0; i < count && atoms.size() < kMaxTargets; ++i) {
        xcb_atom_t atom = XCB_ATOM_NONE;
        std::memcpy(&atom, outcome.bytes.data() + i * sizeof(xcb_atom_t), sizeof(xcb_atom_t));
        if (atom != XCB_ATOM_NONE && seen.insert(atom).second) atoms.push_back(atom);
    }
    // The name requests go out together and their replies are taken in turn.
    std::vector<xcb_get_atom_name_cookie_t> cookies;
    cookies.reserve(atoms.size());
    for (xcb_atom_t atom : atoms)
        cookies.push_back(xcb_get_atom_name(raw_, atom));
    std::vector<std::string> names;
    for (auto cookie : cookies) {
        Reply<xcb_get_atom_name_reply_t> reply(xcb_get_atom_name_reply(raw_, cookie, nullptr));
        if (!reply) continue;
        std::string name(xcb_get_atom_name_name(reply.get()),
                         static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
        names.push_back(std::move(name));
    }
    return names;
}

}  // namespace quenlit::x11
