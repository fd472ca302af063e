#include "backends/linux/FreedesktopNotifications.h"

#include "base/Log.h"
#include "base/Text.h"

#include <gio/gio.h>

namespace quenlit::linux_backend {

struct FreedesktopNotifications::Bus {
    GDBusConnection* connection = nullptr;
    ~Bus() {
        if (connection != nullptr) g_object_unref(connection);
    }
};

FreedesktopNotifications::FreedesktopNotifications(std::string applicationName)
    : applicationName_(std::move(applicationName)) {}

FreedesktopNotifications::~FreedesktopNotifications() {
    // Sends what is queued before the connection goes: the last notification may be why we stop.
    if (bus_ && bus_->connection != nullptr) g_dbus_connection_flush_sync(bus_->connection, nullptr, nullptr);
}

void FreedesktopNotifications::notify(const std::string& summary, const std::string& body) {
    if (busUnavailable_) return;
    if (!bus_) {
        GError* error = nullptr;
        GDBusConnection* connection = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
        if (connection == nullptr) {
            // Once: every later notification would fail the same way.
            log::write(std::string("notifications: no session bus — ") +
                       (error != nullptr && error->message != nullptr ? error->message : "unknown error"));
            if (error != nullptr) g_error_free(error);
            busUnavailable_ = true;
            return;
        }
        bus_ = std::make_unique<Bus>();
        bus_->connection = connection;
    }
    // D-Bus strings must be UTF-8; a file name or a GLib message may not be.
    const std::string safeSummary = text::validUtf8(summary);
    const std::string safeBody = text::validUtf8(body);
    GVariantBuilder actions;
    g_variant_builder_init(&actions, G_VARIANT_TYPE("as"));
    GVariantBuilder hints;
    g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
    g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(1));
    // Notify(app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout)
    g_dbus_connection_call(bus_->connection, "org.freedesktop.Notifications",
                           "/org/freedesktop/Notifications", "org.freedesktop.Notifications", "Notify",
                           g_variant_new("(susssasa{sv}i)", applicationName_.c_str(), 0U, "dialog-error",
                                         safeSummary.c_str(), safeBody.c_str(), &actions, &hints, -1),
                           nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr, nullptr);
}

}  // namespace quenlit::linux_backend
