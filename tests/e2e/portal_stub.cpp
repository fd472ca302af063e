// A stand-in for the desktop portal's Settings interface, on the session bus it is started on: it
// answers org.freedesktop.appearance color-scheme with the value it holds, and each line read from
// standard input ("0", "1" or "2") becomes the new value, announced with SettingChanged, as a
// desktop does when the user switches between light and dark.
//
//   portal_stub INITIAL
//
// Prints "ready" once it owns org.freedesktop.portal.Desktop and "changed N" after each change.

#include <gio/gio.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr const char* kIntrospection = R"(<node>
  <interface name="org.freedesktop.portal.Settings">
    <method name="Read"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/></method>
    <method name="ReadOne"><arg type="s" direction="in"/><arg type="s" direction="in"/>
      <arg type="v" direction="out"/></method>
    <signal name="SettingChanged"><arg type="s"/><arg type="s"/><arg type="v"/></signal>
    <property name="version" type="u" access="read"/>
  </interface>
</node>)";

guint32 gValue = 0;
GDBusConnection* gBus = nullptr;

void onCall(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
            GVariant* parameters, GDBusMethodInvocation* invocation, gpointer) {
    const gchar* ns = nullptr;
    const gchar* key = nullptr;
    g_variant_get(parameters, "(&s&s)", &ns, &key);
    if (std::string(ns) != "org.freedesktop.appearance" || std::string(key) != "color-scheme") {
        g_dbus_method_invocation_return_dbus_error(invocation, "org.freedesktop.portal.Error.NotFound",
                                                   "Requested setting not found");
        return;
    }
    GVariant* value = g_variant_new_uint32(gValue);
    // Read wraps the value in one more variant than ReadOne.
    if (std::string(method) == "Read") value = g_variant_new_variant(value);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
}

GVariant* onProperty(GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*, GError**,
                     gpointer) {
    return g_variant_new_uint32(2);
}

gboolean onInput(GIOChannel* channel, GIOCondition, gpointer loop) {
    gchar* line = nullptr;
    if (g_io_channel_read_line(channel, &line, nullptr, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
        g_main_loop_quit(static_cast<GMainLoop*>(loop));
        return FALSE;
    }
    gValue = static_cast<guint32>(std::strtoul(line, nullptr, 10));
    g_free(line);
    g_dbus_connection_emit_signal(
        gBus, nullptr, "/org/freedesktop/portal/desktop", "org.freedesktop.portal.Settings", "SettingChanged",
        g_variant_new("(ssv)", "org.freedesktop.appearance", "color-scheme", g_variant_new_uint32(gValue)),
        nullptr);
    g_dbus_connection_flush_sync(gBus, nullptr, nullptr);
    std::printf("changed %u\n", gValue);
    std::fflush(stdout);
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) gValue = static_cast<guint32>(std::strtoul(argv[1], nullptr, 10));
    GError* error = nullptr;
    gBus = g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &error);
    if (gBus == nullptr) {
        std::fprintf(stderr, "portal_stub: no session bus: %s\n", error->message);
        return 1;
    }
    GDBusNodeInfo* node = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
    static const GDBusInterfaceVTable vtable{onCall, onProperty, nullptr, {}};
    g_dbus_connection_register_object(gBus, "/org/freedesktop/portal/desktop", node->interfaces[0], &vtable,
                                      nullptr, nullptr, nullptr);
    GVariant* reply = g_dbus_connection_call_sync(
        gBus, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus", "RequestName",
        g_variant_new("(su)", "org.freedesktop.portal.Desktop", 4u), G_VARIANT_TYPE("(u)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, &error);
    if (reply == nullptr) {
        std::fprintf(stderr, "portal_stub: %s\n", error->message);
        return 1;
    }
    g_variant_unref(reply);
    std::printf("ready\n");
    std::fflush(stdout);
    GMainLoop* loop = g_main_loop_new(nullptr, FALSE);
    GIOChannel* input = g_io_channel_unix_new(0);
    g_io_add_watch(input, static_cast<GIOCondition>(G_IO_IN | G_IO_HUP), onInput, loop);
    g_main_loop_run(loop);
    return 0;
}
