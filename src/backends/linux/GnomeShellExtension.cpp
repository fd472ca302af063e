#include "backends/linux/GnomeShellExtension.h"

#include <gio/gio.h>

#include <algorithm>
#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

namespace quenlit::linux_backend {
namespace {

std::optional<std::string> readFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool writeFile(const std::filesystem::path& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    return static_cast<bool>(out);
}

std::vector<std::string> strings(GSettings* settings, const char* key) {
    std::vector<std::string> out;
    gchar** values = g_settings_get_strv(settings, key);
    for (gchar** v = values; v != nullptr && *v != nullptr; ++v)
        out.emplace_back(*v);
    g_strfreev(values);
    return out;
}

void setStrings(GSettings* settings, const char* key, const std::vector<std::string>& values) {
    std::vector<const char*> raw;
    for (const std::string& v : values)
        raw.push_back(v.c_str());
    raw.push_back(nullptr);
    g_settings_set_strv(settings, key, raw.data());
}

}  // namespace

std::optional<int> gnomeShellMajorVersion(std::string_view versionLine) {
    constexpr std::string_view prefix = "GNOME Shell ";
    const auto at = versionLine.find(prefix);
    if (at == std::string_view::npos) return std::nullopt;
    std::string_view rest = versionLine.substr(at + prefix.size());
    int major = 0;
    const auto [end, error] = std::from_chars(rest.data(), rest.data() + rest.size(), major);
    if (error != std::errc() || end == rest.data() || major <= 0) return std::nullopt;
    return major;
}

std::optional<int> installedGnomeShellMajorVersion() {
    gchar* argv[] = {const_cast<gchar*>("gnome-shell"), const_cast<gchar*>("--version"), nullptr};
    gchar* output = nullptr;
    gint status = 0;
    const bool ran = g_spawn_sync(nullptr, argv, nullptr,
                                  static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                                  nullptr, nullptr, &output, nullptr, &status, nullptr);
    std::optional<int> major;
    if (ran && g_spawn_check_wait_status(status, nullptr) && output != nullptr)
        major = gnomeShellMajorVersion(output);
    g_free(output);
    return major;
}

std::optional<std::filesystem::path> shippedGnomeExtension(const std::filesystem::path& program) {
    const std::filesystem::path prefix = program.parent_path().parent_path();
    const std::filesystem::path folder = prefix / "share" / "quenlit" / "gnome-shell" / kGnomeExtensionUuid;
    std::error_code ec;
    if (std::filesystem::is_regular_file(folder / "core.js", ec)) return folder;
    return std::nullopt;
}

Result<std::filesystem::path> writeGnomeExtension(const std::filesystem::path& shipped,
                                                  const std::filesystem::path& extensionsFolder, int major) {
    if (major < kOldestGnomeShell)
        return Failure::unsupported("GNOME Shell " + std::to_string(major) +
                                    " is older than the oldest release the "
                                    "extension supports (" +
                                    std::to_string(kOldestGnomeShell) + ")");
    const bool modules = major >= 45;
    const auto core = readFile(shipped / "core.js");
    const auto entry = readFile(shipped / (modules ? "extension-45.js" : "extension-43.js"));
    const auto metadata = readFile(shipped / "metadata.json");
    const std::string schemaName = "org.gnome.shell.extensions.quenlit.gschema.xml";
    const auto schema = readFile(shipped / "schemas" / schemaName);
    if (!core || !entry || !metadata || !schema)
        return Failure{"the extension's files in " + shipped.string() + " are incomplete"};

    const std::filesystem::path target = extensionsFolder / kGnomeExtensionUuid;
    std::error_code ec;
    std::filesystem::remove_all(target, ec);
    std::filesystem::create_directories(target / "schemas", ec);
    if (ec) return Failure{"cannot make " + target.string() + ": " + ec.message()};
    const std::string coreText = modules ? *core + "\nexport {QuenlitService};\n" : *core;
    if (!writeFile(target / "core.js", coreText) || !writeFile(target / "extension.js", *entry) ||
        !writeFile(target / "metadata.json", *metadata) ||
        !writeFile(target / "schemas" / schemaName, *schema))
        return Failure{"cannot write the extension's files in " + target.string()};

    const std::string schemas = (target / "schemas").string();
    gchar* argv[] = {const_cast<gchar*>("glib-compile-schemas"), const_cast<gchar*>(schemas.c_str()),
                     nullptr};
    gint status = 0;
    GError* error = nullptr;
    gchar* errors = nullptr;
    const bool ran = g_spawn_sync(nullptr, argv, nullptr, G_SPAWN_SEARCH_PATH, nullptr, nullptr, nullptr,
                                  &errors, &status, &error);
    std::string why = error != nullptr ? error->message : (errors != nullptr ? errors : "");
    if (error != nullptr) g_error_free(error);
    g_free(errors);
    if (!ran || !g_spawn_check_wait_status(status, nullptr))
        return Failure{"glib-compile-schemas failed on " + schemas + (why.empty() ? "" : ": " + why)};
    return target;
}

Result<std::string> enableGnomeExtension() {
    GSettingsSchemaSource* source = g_settings_schema_source_get_default();
    GSettingsSchema* schema =
        source != nullptr ? g_settings_schema_source_lookup(source, "org.gnome.shell", TRUE) : nullptr;
    if (schema == nullptr)
        return Failure::unsupported("GNOME Shell's settings (org.gnome.shell) are not installed");
    GSettings* settings = g_settings_new_full(schema, nullptr, nullptr);
    g_settings_schema_unref(schema);

    std::vector<std::string> enabled = strings(settings, "enabled-extensions");
    if (std::find(enabled.begin(), enabled.end(), kGnomeExtensionUuid) == enabled.end()) {
        enabled.emplace_back(kGnomeExtensionUuid);
        setStrings(settings, "enabled-extensions", enabled);
    }
    std::vector<std::string> disabled = strings(settings, "disabled-extensions");
    if (std::erase(disabled, kGnomeExtensionUuid) > 0) setStrings(settings, "disabled-extensions", disabled);
    std::string note;
    if (g_settings_get_boolean(settings, "disable-user-extensions"))
        note = "extensions are switched off as a whole: switch them on in GNOME's Extensions application";
    g_settings_sync();
    g_object_unref(settings);
    return note;
}

bool gnomeExtensionRunning(const std::string& interfaceName) {
    GError* error = nullptr;
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (bus == nullptr) {
        g_clear_error(&error);
        return false;
    }
    // Introspection answers any caller; the interface's own methods answer only Quenlit.
    GVariant* reply = g_dbus_connection_call_sync(
        bus, "org.gnome.Shell", "/io/github/quenlit/Shell1", "org.freedesktop.DBus.Introspectable",
        "Introspect", nullptr, G_VARIANT_TYPE("(s)"), G_DBUS_CALL_FLAGS_NO_AUTO_START, 1000, nullptr, &error);
    bool running = false;
    if (reply != nullptr) {
        const gchar* xml = nullptr;
        g_variant_get(reply, "(&s)", &xml);
        running = xml != nullptr &&
                  std::string_view(xml).find("\"" + interfaceName + "\"") != std::string_view::npos;
        g_variant_unref(reply);
    }
    g_clear_error(&error);
    g_object_unref(bus);
    return running;
}

}  // namespace quenlit::linux_backend
