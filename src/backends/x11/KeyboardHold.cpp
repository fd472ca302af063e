#include "backends/x11/KeyboardHold.h"

#include "backends/x11/X11Connection.h"

#include <xcb/xinput.h>

#include <cstdlib>
#include <map>
#include <string>

namespace quenlit::x11 {

KeyboardHold::~KeyboardHold() {
    if (c_ != nullptr) xcb_disconnect(c_);
}

bool KeyboardHold::connect() {
    if (c_ != nullptr) return opcode_ >= 0;
    c_ = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c_) != 0) return false;
    const xcb_query_extension_reply_t* xinput = xcb_get_extension_data(c_, &xcb_input_id);
    if (xinput == nullptr || xinput->present == 0) return false;
    Reply<xcb_input_xi_query_version_reply_t> version(
        xcb_input_xi_query_version_reply(c_, xcb_input_xi_query_version(c_, 2, 2), nullptr));
    if (!version || version->major_version < 2) return false;
    opcode_ = xinput->major_opcode;
    return true;
}

void KeyboardHold::begin() {
    if (active() || !connect()) return;
    Reply<xcb_input_xi_query_device_reply_t> devices(
        xcb_input_xi_query_device_reply(c_, xcb_input_xi_query_device(c_, XCB_INPUT_DEVICE_ALL), nullptr));
    if (!devices) return;
    std::map<int, std::string> names;
    std::vector<std::pair<int, int>> keyboards;  // (device, master)
    for (auto it = xcb_input_xi_query_device_infos_iterator(devices.get()); it.rem > 0;
         xcb_input_xi_device_info_next(&it)) {
        const std::string name(xcb_input_xi_device_info_name(it.data),
                               static_cast<std::size_t>(xcb_input_xi_device_info_name_length(it.data)));
        names[it.data->deviceid] = name;
        if (it.data->type == XCB_INPUT_DEVICE_TYPE_SLAVE_KEYBOARD)
            keyboards.emplace_back(it.data->deviceid, it.data->attachment);
    }
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const std::uint32_t mask = XCB_INPUT_XI_EVENT_MASK_KEY_PRESS | XCB_INPUT_XI_EVENT_MASK_KEY_RELEASE;
    for (const auto& [device, master] : keyboards) {
        // A master "NAME keyboard" types for XTest through its slave "NAME XTEST keyboard".
        std::string base = names[master];
        if (base.size() > 9 && base.compare(base.size() - 9, 9, " keyboard") == 0)
            base.resize(base.size() - 9);
        if (names[device] == base + " XTEST keyboard") continue;
        Reply<xcb_input_xi_grab_device_reply_t> grab(xcb_input_xi_grab_device_reply(
            c_,
            xcb_input_xi_grab_device(c_, root, XCB_CURRENT_TIME, XCB_CURSOR_NONE,
                                     static_cast<xcb_input_device_id_t>(device), XCB_INPUT_GRAB_MODE_22_ASYNC,
                                     XCB_INPUT_GRAB_MODE_22_ASYNC, 0, 1, &mask),
            nullptr));
        if (grab && grab->status == XCB_GRAB_STATUS_SUCCESS) held_.push_back(device);
    }
}

std::vector<std::pair<std::uint8_t, bool>> KeyboardHold::end() {
    std::vector<std::pair<std::uint8_t, bool>> typed;
    if (!active()) return typed;
    for (int device : held_)
        xcb_input_xi_ungrab_device(c_, XCB_CURRENT_TIME, static_cast<xcb_input_device_id_t>(device));
    held_.clear();
    // Everything typed before the keyboards were let go has arrived once this is answered.
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    while (xcb_generic_event_t* event = xcb_poll_for_event(c_)) {
        auto* key = reinterpret_cast<xcb_input_key_press_event_t*>(event);
        if ((event->response_type & 0x7f) == XCB_GE_GENERIC && key->extension == opcode_ &&
            (key->event_type == XCB_INPUT_KEY_PRESS || key->event_type == XCB_INPUT_KEY_RELEASE) &&
            key->detail <= 255) {
            typed.emplace_back(static_cast<std::uint8_t>(key->detail),
                               key->event_type == XCB_INPUT_KEY_PRESS);
        }
        std::free(event);
    }
    return typed;
}

}  // namespace quenlit::x11
