#include "backends/x11/X11Screens.h"

#include "backends/linux/QtScreenScale.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>

namespace quenlit::x11 {
namespace {

bool inside(const XRect& inner, const XRect& outer) {
    return inner.width > 0 && inner.height > 0 && inner.x >= outer.x && inner.y >= outer.y &&
           inner.x + inner.width <= outer.x + outer.width && inner.y + inner.height <= outer.y + outer.height;
}

std::optional<XRect> intersection(const XRect& a, const XRect& b) {
    const int left = std::max(a.x, b.x);
    const int top = std::max(a.y, b.y);
    const int right = std::min(a.x + a.width, b.x + b.width);
    const int bottom = std::min(a.y + a.height, b.y + b.height);
    if (right <= left || bottom <= top) return std::nullopt;
    return XRect{left, top, right - left, bottom - top};
}

std::vector<XRect> rects(const std::vector<std::uint32_t>& values) {
    std::vector<XRect> out;
    for (std::size_t i = 0; i + 3 < values.size(); i += 4) {
        out.push_back({static_cast<int>(static_cast<std::int32_t>(values[i])),
                       static_cast<int>(static_cast<std::int32_t>(values[i + 1])),
                       static_cast<int>(values[i + 2]), static_cast<int>(values[i + 3])});
    }
    return out;
}

}  // namespace

std::vector<platform::Screen> screensFrom(const std::vector<Monitor>& monitors,
                                          const std::vector<XRect>& perMonitorWorkAreas,
                                          std::optional<XRect> desktopWorkArea) {
    if (monitors.empty()) return {};
    std::size_t primary = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (monitors[i].primary) {
            primary = i;
            break;
        }
    }
    const double h0 = monitors[primary].rect.height;
    auto convert = [h0](const XRect& r) {
        return platform::Rect{static_cast<double>(r.x), h0 - (static_cast<double>(r.y) + r.height),
                              static_cast<double>(r.width), static_cast<double>(r.height)};
    };
    auto screenAt = [&](std::size_t index) {
        const XRect& frame = monitors[index].rect;
        std::optional<XRect> visible;
        // Window managers publish the per-monitor areas in their own monitor order, which need not
        // be the server's: an area only counts for a monitor it lies in.
        if (index < perMonitorWorkAreas.size() && inside(perMonitorWorkAreas[index], frame)) {
            visible = perMonitorWorkAreas[index];
        } else {
            for (const XRect& area : perMonitorWorkAreas) {
                if (inside(area, frame)) {
                    visible = area;
                    break;
                }
            }
        }
        if (!visible && desktopWorkArea) visible = intersection(frame, *desktopWorkArea);
        return platform::Screen{convert(frame), convert(visible.value_or(frame)), monitors[index].scale};
    };
    std::vector<platform::Screen> out;
    out.push_back(screenAt(primary));
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        if (i != primary) out.push_back(screenAt(i));
    }
    return out;
}

std::optional<std::size_t> activeMonitor(const std::vector<Monitor>& monitors,
                                         std::optional<XRect> focusedWindow, std::optional<XPoint> pointer) {
    if (focusedWindow) {
        std::optional<std::size_t> best;
        long long bestArea = 0;
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            if (auto common = intersection(monitors[i].rect, *focusedWindow)) {
                const long long area = static_cast<long long>(common->width) * common->height;
                if (area > bestArea) {
                    bestArea = area;
                    best = i;
                }
            }
        }
        if (best) return best;
    }
    if (pointer) {
        for (std::size_t i = 0; i < monitors.size(); ++i) {
            const XRect& r = monitors[i].rect;
            if (pointer->x >= r.x && pointer->x < r.x + r.width && pointer->y >= r.y &&
                pointer->y < r.y + r.height)
                return i;
        }
    }
    return std::nullopt;
}

X11Screens::X11Screens(X11Connection& connection) : connection_(connection) {
    xcb_connection_t* c = connection_.raw();
    const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_randr_id);
    if (extension == nullptr || !extension->present) return;
    Reply<xcb_randr_query_version_reply_t> version(
        xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr));
    hasMonitors_ = version && (version->major_version > 1 || version->minor_version >= 5);
}

std::vector<Monitor> X11Screens::monitors() {
    std::vector<Monitor> out;
    if (hasMonitors_) {
        xcb_connection_t* c = connection_.raw();
        xcb_generic_error_t* error = nullptr;
        Reply<xcb_randr_get_monitors_reply_t> reply(
            xcb_randr_get_monitors_reply(c, xcb_randr_get_monitors(c, connection_.root(), 1), &error));
        std::free(error);
        if (reply) {
            for (auto it = xcb_randr_get_monitors_monitors_iterator(reply.get()); it.rem > 0;
                 xcb_randr_monitor_info_next(&it)) {
                const xcb_randr_monitor_info_t& m = *it.data;
                if (m.width == 0 || m.height == 0) continue;
                out.push_back({{m.x, m.y, m.width, m.height}, m.primary != 0, 1});
            }
        }
    }
    // Without RandR 1.5 (or with every output off) the whole root window is the one monitor.
    if (out.empty()) {
        const xcb_screen_t* screen = connection_.screen();
        out.push_back({{0, 0, screen->width_in_pixels, screen->height_in_pixels}, true, 1});
    }
    for (Monitor& monitor : out) {
        monitor.scale = linux_backend::qtScaleOf(
            {static_cast<double>(monitor.rect.x), static_cast<double>(monitor.rect.y),
             static_cast<double>(monitor.rect.width), static_cast<double>(monitor.rect.height)});
    }
    return out;
}

std::vector<XRect> X11Screens::perMonitorWorkAreas(std::uint32_t desktop) {
    // _GTK_WORKAREAS_D<n> is the same list under the name GNOME's window manager publishes.
    for (const char* prefix : {"_NET_WORKAREAS_D", "_GTK_WORKAREAS_D"}) {
        if (auto values = connection_.cardinals(connection_.root(), prefix + std::to_string(desktop))) {
            return rects(*values);
        }
    }
    return {};
}

std::vector<platform::Screen> X11Screens::screensOf(const std::vector<Monitor>& monitors) {
    const xcb_window_t root = connection_.root();
    const std::uint32_t desktop = connection_.cardinal(root, "_NET_CURRENT_DESKTOP").value_or(0);
    std::optional<XRect> desktopArea;
    if (auto values = connection_.cardinals(root, "_NET_WORKAREA")) {
        const auto areas = rects(*values);
        if (desktop < areas.size()) desktopArea = areas[desktop];
    }
    return screensFrom(monitors, perMonitorWorkAreas(desktop), desktopArea);
}

std::vector<platform::Screen> X11Screens::screens() {
    return screensOf(monitors());
}

std::optional<platform::Screen> X11Screens::mainScreen() {
    auto all = screens();
    if (all.empty()) return std::nullopt;
    return all.front();
}

double X11Screens::primaryHeight() {
    const std::vector<Monitor> all = monitors();
    for (const Monitor& monitor : all) {
        if (monitor.primary) return monitor.rect.height;
    }
    return all.empty() ? 0 : all.front().rect.height;
}

std::optional<XRect> X11Screens::focusedWindowFrame() {
    const auto active = connection_.activeWindow();
    if (!active || *active == XCB_NONE || *active == connection_.root()) return std::nullopt;
    const auto place = connection_.placement(*active);
    if (!place || place->width == 0 || place->height == 0) return std::nullopt;
    // The client area alone: the frame around it adds a few pixels on every side, which cannot
    // move most of the window to another monitor.
    return XRect{place->x, place->y, place->width, place->height};
}

std::optional<XPoint> X11Screens::pointer() {
    xcb_connection_t* c = connection_.raw();
    xcb_generic_error_t* error = nullptr;
    Reply<xcb_query_pointer_reply_t> reply(
        xcb_query_pointer_reply(c, xcb_query_pointer(c, connection_.root()), &error));
    std::free(error);
    if (!reply || reply->same_screen == 0) return std::nullopt;
    return XPoint{reply->root_x, reply->root_y};
}

std::optional<platform::Screen> X11Screens::activeScreen() {
    const std::vector<Monitor> all = monitors();
    const auto screens = screensOf(all);
    if (screens.empty()) return std::nullopt;
    const auto index = activeMonitor(all, focusedWindowFrame(), pointer());
    if (!index) return screens.front();
    // The screens list the primary monitor first, the others in the monitors' order.
    std::size_t primary = 0;
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].primary) {
            primary = i;
            break;
        }
    }
    if (*index == primary) return screens.front();
    return screens[*index < primary ? *index + 1 : *index];
}

}  // namespace quenlit::x11
