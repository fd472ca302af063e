#include "backends/linux/DesktopColorScheme.h"

#include "backends/linux/GnomeSettings.h"

#include <gio/gio.h>

#include <cstdlib>
#include <filesystem>
#include <string_view>
#include <utility>

namespace quenlit::linux_backend {
namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kSettingsInterface = "org.freedesktop.portal.Settings";
constexpr const char* kNamespace = "org.freedesktop.appearance";
constexpr const char* kKey = "color-scheme";
// The portal is started on demand by the bus; it answers well within this.
constexpr int kCallTimeoutMs = 3000;

bool endsWith(std::string_view text, std::string_view suffix) {
    return text.size() >= suffix.size() && text.substr(text.size() - suffix.size()) == suffix;
}

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

bool darkThemeName(const std::string& name) {
    const std::string n = lower(name);
    return endsWith(n, "-dark") || endsWith(n, ":dark") || endsWith(n, "_dark");
}

std::filesystem::path configHome() {
    if (const char* c = std::getenv("XDG_CONFIG_HOME"); c != nullptr && *c == '/') return c;
    if (const char* home = std::getenv("HOME"); home != nullptr)
        return std::filesystem::path(home) / ".config";
    return {};
}

// A value of an INI-like file (GTK's settings.ini, KDE's kdeglobals), read with GLib's key file
// parser.
std::optional<std::string> keyFileValue(const std::filesystem::path& file, const char* group,
                                        const char* key) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec)) return std::nullopt;
    GKeyFile* keys = g_key_file_new();
    std::optional<std::string> value;
    if (g_key_file_load_from_file(keys, file.c_str(), G_KEY_FILE_NONE, nullptr)) {
        if (gchar* v = g_key_file_get_value(keys, group, key, nullptr)) {
            value = v;
            g_free(v);
        }
    }
    g_key_file_free(keys);
    return value;
}

std::optional<std::uint32_t> colorSchemeOf(GVariant* value) {
    // Read answers a variant in a variant; ReadOne and SettingChanged one variant.
    GVariant* inner = value;
    while (inner != nullptr && g_variant_is_of_type(inner, G_VARIANT_TYPE_VARIANT)) {
        GVariant* next = g_variant_get_variant(inner);
        if (inner != value) g_variant_unref(inner);
        inner = next;
    }
    std::optional<std::uint32_t> out;
    if (inner != nullptr && g_variant_is_of_type(inner, G_VARIANT_TYPE_UINT32))
        out = g_variant_get_uint32(inner);
    if (inner != nullptr && inner != value) g_variant_unref(inner);
    return out;
}

}  // namespace

bool prefersDark(const ColorSchemeHints& hints) {
    if (hints.portal == 1u) return true;
    if (hints.portal == 2u) return false;
    if (hints.gtkThemeVariable && !hints.gtkThemeVariable->empty())
        return darkThemeName(*hints.gtkThemeVariable);
    if (hints.gnomeColorScheme == "prefer-dark") return true;
    if (hints.gnomeColorScheme == "prefer-light") return false;
    if (hints.gtkThemeName && darkThemeName(*hints.gtkThemeName)) return true;
    if (hints.gtkPreferDark) return *hints.gtkPreferDark;
    if (hints.kdeWindowBackground) {
        const auto& [r, g, b] = *hints.kdeWindowBackground;
        // Rec. 601 luma: a window colour darker than mid grey is a dark scheme.
        return 0.299 * r + 0.587 * g + 0.114 * b < 128;
    }
    return false;
}

ColorSchemeHints readLocalColorSchemeHints(std::optional<std::string> xsettingsThemeName) {
    ColorSchemeHints hints;
    if (const char* theme = std::getenv("GTK_THEME"); theme != nullptr && *theme != '\0')
        hints.gtkThemeVariable = theme;
    hints.gnomeColorScheme = gnomeInterfaceSetting("color-scheme");
    hints.gtkThemeName =
        xsettingsThemeName ? std::move(xsettingsThemeName) : gnomeInterfaceSetting("gtk-theme");
    const std::filesystem::path config = configHome();
    if (!config.empty()) {
        for (const char* folder : {"gtk-4.0", "gtk-3.0"}) {
            if (auto v = keyFileValue(config / folder / "settings.ini", "Settings",
                                      "gtk-application-prefer-dark-theme")) {
                hints.gtkPreferDark = *v == "1" || lower(*v) == "true";
                break;
            }
        }
        if (auto v = keyFileValue(config / "kdeglobals", "Colors:Window", "BackgroundNormal")) {
            std::array<int, 3> rgb{};
            gchar** parts = g_strsplit(v->c_str(), ",", 4);
            int n = 0;
            for (; parts[n] != nullptr && n < 3; ++n)
                rgb[static_cast<std::size_t>(n)] = static_cast<int>(g_ascii_strtoll(parts[n], nullptr, 10));
            g_strfreev(parts);
            if (n == 3) hints.kdeWindowBackground = rgb;
        }
    }
    return hints;
}

struct DesktopColorScheme::Portal {
    DesktopColorScheme* owner = nullptr;
    GDBusConnection* bus = nullptr;
    GCancellable* cancel = nullptr;
    guint subscription = 0;

    static void replied(GObject* source, GAsyncResult* result, gpointer data, bool readOne) {
        GError* error = nullptr;
        GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
        if (reply == nullptr) {
            const bool cancelled = g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
            g_error_free(error);
            if (cancelled) return;  // the owner is gone
            auto* self = static_cast<Portal*>(data);
            // Portals before version 2 have no ReadOne: ask the old way once.
            if (readOne) self->call("Read");
            return;
        }
        auto* self = static_cast<Portal*>(data);
        GVariant* value = g_variant_get_child_value(reply, 0);
        if (auto scheme = colorSchemeOf(value)) self->owner->portalSaid(*scheme);
        g_variant_unref(value);
        g_variant_unref(reply);
    }

    void call(const char* method) {
        const bool readOne = std::string_view(method) == "ReadOne";
        g_dbus_connection_call(
            bus, kPortalService, kPortalPath, kSettingsInterface, method,
            g_variant_new("(ss)", kNamespace, kKey), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
            kCallTimeoutMs, cancel,
            readOne ? +[](GObject* s, GAsyncResult* r, gpointer d) { replied(s, r, d, true); }
                    : +[](GObject* s, GAsyncResult* r, gpointer d) { replied(s, r, d, false); },
            this);
    }

    static void settingChanged(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                               GVariant* parameters, gpointer data) {
        if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(ssv)"))) return;
        const gchar* ns = nullptr;
        const gchar* key = nullptr;
        GVariant* value = nullptr;
        g_variant_get(parameters, "(&s&sv)", &ns, &key, &value);
        if (std::string_view(ns) == kNamespace && std::string_view(key) == kKey) {
            if (auto scheme = colorSchemeOf(value)) static_cast<Portal*>(data)->owner->portalSaid(*scheme);
        }
        g_variant_unref(value);
    }
};

DesktopColorScheme::DesktopColorScheme(std::optional<std::string> xsettingsThemeName,
                                       std::function<void(bool dark)> changed)
    : hints_(readLocalColorSchemeHints(std::move(xsettingsThemeName))), changed_(std::move(changed)) {
    dark_ = prefersDark(hints_);
    GDBusConnection* bus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr);
    if (bus == nullptr) return;  // no session bus: the local settings are all there is
    portal_ = std::make_unique<Portal>();
    portal_->owner = this;
    portal_->bus = bus;
    portal_->cancel = g_cancellable_new();
    portal_->subscription = g_dbus_connection_signal_subscribe(
        bus, kPortalService, kSettingsInterface, "SettingChanged", kPortalPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE, &Portal::settingChanged, portal_.get(), nullptr);
    portal_->call("ReadOne");
}

DesktopColorScheme::~DesktopColorScheme() {
    if (!portal_) return;
    g_cancellable_cancel(portal_->cancel);
    g_dbus_connection_signal_unsubscribe(portal_->bus, portal_->subscription);
    g_object_unref(portal_->cancel);
    g_object_unref(portal_->bus);
}

bool DesktopColorScheme::dark() const {
    return dark_;
}

void DesktopColorScheme::portalSaid(std::uint32_t value) {
    hints_.portal = value;
    const bool dark = prefersDark(hints_);
    if (dark == dark_) return;
    dark_ = dark;
    if (changed_) changed_(dark_);
}

}  // namespace quenlit::linux_backend
