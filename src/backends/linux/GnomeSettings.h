#pragma once

// GNOME's desktop settings, read through GSettings.

#include <optional>
#include <string>
#include <string_view>

namespace quenlit::linux_backend {

// The string `key` of org.gnome.desktop.interface ("icon-theme") as the user set it; absent when
// the schema is not installed, has no such string key, or the user kept the default.
std::optional<std::string> gnomeInterfaceSetting(std::string_view key);

}  // namespace quenlit::linux_backend
