#pragma once

// The desktop settings an XSETTINGS manager (GNOME's and Xfce's settings daemons, xsettingsd,
// KDE's) publishes to X clients: the owner of the _XSETTINGS_S<screen> selection keeps them in
// its _XSETTINGS_SETTINGS property, in a small binary format of its own byte order.

#include "backends/x11/X11Connection.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quenlit::x11 {

// The string setting `name` ("Net/IconThemeName") in the property's bytes; absent when the data
// has no such string setting or is cut short or malformed.
std::optional<std::string> xsettingsString(std::span<const std::uint8_t> data, std::string_view name);

// The same from the manager running on the connection's screen; absent when none runs.
std::optional<std::string> readXSettingsString(X11Connection& connection, std::string_view name);

}  // namespace quenlit::x11
