#include "backends/linux/GnomeSettings.h"

#include <gio/gio.h>

namespace quenlit::linux_backend {

std::optional<std::string> gnomeInterfaceSetting(std::string_view key) {
    // g_settings_new aborts the process on a schema that is not installed, so it is looked up first.
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    if (source == nullptr) return std::nullopt;
    GSettingsSchema* schema = g_settings_schema_source_lookup(source, "org.gnome.desktop.interface", TRUE);
    if (schema == nullptr) return std::nullopt;
    const std::string name(key);
    std::optional<std::string> value;
    if (g_settings_schema_has_key(schema, name.c_str())) {
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
