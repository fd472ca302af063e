#include "backends/linux/GnomeSettings.h"

#include <gio/gio.h>

#include <cstdlib>
#include <filesystem>

namespace quenlit::linux_backend {
namespace {

// dconf, GSettings' usual store, keeps what the user set in one file; without it there is nothing
// to read, and opening the store would start its change watch on the session bus for nothing.
bool mayHaveUserValues() {
    const char* backend = std::getenv("GSETTINGS_BACKEND");
    if (backend != nullptr && *backend != '\0' && std::string_view(backend) != "dconf") return true;
    std::filesystem::path config;
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c != nullptr && *c == '/') {
        config = c;
    } else if (const char* home = std::getenv("HOME"); home != nullptr) {
        config = std::filesystem::path(home) / ".config";
    }
    std::error_code ec;
    return std::filesystem::exists(config / "dconf" / "user", ec);
}

}  // namespace

std::optional<std::string> gnomeInterfaceSetting(std::string_view key) {
    // g_settings_new aborts the process on a schema that is not installed, so it is looked up first.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return std::nullopt;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (schema == nullptr) return std::nullopt;
    const std::string name(key);
    std::optional<std::string> value;
    if (g_settings_schema_has_key(schema, name.c_str()) && mayHaveUserValues()) {
        GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
        if (GVariant* user = g_settings_get_user_value(settings, name.c_str())) {
            if (g_variant_is_of_type(user, G_VARIANT_TYPE_STRING))
                value = g_variant_get_string(user, nullptr);
            g_variant_unref(user);
        }
        g_object_unref(settings);
    }
    g_settings_schema_unref(schema);
    return value;
}

}  // namespace quenlit::linux_backend
