// The floor: a minimal client that sets up like the service and answers each signal with the
// calls the design requires, with no listing scan, no decision and no echo buffer, so that
// what it costs is what the bus costs.
#include <gio/gio.h>
#include <glib-unix.h>

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "core/bus_names.h"

static const char ROLE[] = "Operator";

struct Floor {
    GDBusConnection *connection;
    gint32 channel_count;
    GDBusProxy **coordinator_proxies;
    GDBusProxy **channel_proxies;
    guint *subscriptions;
    GMainLoop *loop;
    // Signals our own changes still owe us; they are echoes, not actions.
    guint state_echoes_due;
    guint change_echoes_due;
};

static Floor floor_state;

static GDBusProxy *new_proxy(const char *name, const char *path, const char *interface)
{
    return g_dbus_proxy_new_sync(floor_state.connection, G_DBUS_PROXY_FLAGS_NONE, nullptr, name,
                                 path, interface, nullptr, nullptr);
}

// Kept out of line, so that instruction counts can tell the calls from the rest.
G_GNUC_NO_INLINE static GVariant *call(GDBusProxy *proxy, const char *method, GVariant *parameters)
{
    return g_dbus_proxy_call_sync(proxy, method, parameters, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
                                  nullptr);
}

static void call_and_drop(GDBusProxy *proxy, const char *method, GVariant *parameters)
{
    GVariant *reply = call(proxy, method, parameters);
    if (reply)
        g_variant_unref(reply);
}

static GDBusProxy *coordinator(gint32 index)
{
    return floor_state.coordinator_proxies[index];
}

static void floor_on_preset_state(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                                  const gchar *, GVariant *parameters, gpointer)
{
    Floor &f = floor_state;
    gint32 channel = 0, preset = 0, state = 0;
    if (g_variant_is_of_type(parameters, G_VARIANT_TYPE("(iii)")))
        g_variant_get(parameters, "(iii)", &channel, &preset, &state);
    if (f.state_echoes_due > 0) {
        f.state_echoes_due--;
        return;
    }
    if (state != 1 || channel < 1 || channel > f.channel_count)
        return;
    for (gint32 i = 0; i < f.channel_count; i++) {
        if (i == channel - 1)
            continue;
        call_and_drop(coordinator(i), "GetPtzPresetState", nullptr);
        call_and_drop(coordinator(i), "GotoPresetNumber",
                      g_variant_new("(siii)", ROLE, 0, preset, 0));
        f.state_echoes_due++;
    }
}

static gsize preset_count(gint32 source)
{
    g_autoptr(GVariant) reply =
        call(floor_state.channel_proxies[source - 1], "GetPresets", nullptr);
    if (!reply)
        return 0;
    g_autoptr(GVariant) presets = g_variant_get_child_value(reply, 1);
    return g_variant_n_children(presets);
}

static void query(gint32 index, gboolean with_positions)
{
    call_and_drop(coordinator(index), "QueryPresets",
                  g_variant_new("(sib)", ROLE, 0, with_positions));
}

static void change(gint32 index, const char *method, GVariant *parameters)
{
    call_and_drop(coordinator(index), method, parameters);
    floor_state.change_echoes_due++;
}

static void create(gint32 source, gint32 number, const char *name)
{
    gsize count = preset_count(source);
    g_autofree char *default_name = g_strdup_printf("Pos%d", number);
    for (gint32 i = 0; i < floor_state.channel_count; i++) {
        if (i == source - 1)
            continue;
        query(i, FALSE);
        if (number >= 0 && static_cast<gsize>(number) == count) {
            change(i, "SetPresetName", g_variant_new("(sisb)", ROLE, 0, name, FALSE));
            continue;
        }
        change(i, "SetPresetNumber", g_variant_new("(siib)", ROLE, 0, number, FALSE));
        if (strcmp(name, default_name) != 0)
            change(i, "RenamePreset", g_variant_new("(siis)", ROLE, 0, number, name));
    }
}

static void update(gint32 source, gint32 number, const char *name)
{
    query(source - 1, TRUE);
    for (gint32 i = 0; i < floor_state.channel_count; i++) {
        if (i == source - 1)
            continue;
        query(i, TRUE);
        change(i, "UpdatePreset", g_variant_new("(siis)", ROLE, 0, number, name));
    }
}

static void remove_everywhere(gint32 source, const char *name)
{
    for (gint32 i = 0; i < floor_state.channel_count; i++) {
        if (i == source - 1)
            continue;
        query(i, FALSE);
        change(i, "RemovePresetName", g_variant_new("(sis)", ROLE, 0, name));
    }
}

static void floor_on_change(GDBusConnection *, const gchar *, const gchar *object_path,
                            const gchar *, const gchar *, GVariant *parameters, gpointer)
{
    Floor &f = floor_state;
    if (f.change_echoes_due > 0) {
        f.change_echoes_due--;
        return;
    }
    if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(usua{sb}a{sv})")))
        return;
    guint32 number = 0, kind = 0;
    const char *name = nullptr;
    g_variant_get(parameters, "(u&su@a{sb}@a{sv})", &number, &name, &kind, nullptr, nullptr);
    gint32 source = atoi(strrchr(object_path, '/') + 1);
    if (source < 1 || source > f.channel_count)
        return;
    if (kind == 1)
        create(source, static_cast<gint32>(number), name);
    else if (kind == 2)
        update(source, static_cast<gint32>(number), name);
    else if (kind == 3)
        remove_everywhere(source, name);
}

static void floor_on_preset_speed(GDBusConnection *, const gchar *, const gchar *, const gchar *,
                                  const gchar *, GVariant *, gpointer)
{
}

static bool set_up()
{
    Floor &f = floor_state;
    f.connection = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, nullptr);
    if (!f.connection)
        return false;
    GDBusProxy *root = new_proxy(COORDINATOR_NAME, COORDINATOR_PATH, COORDINATOR_INTERFACE);
    g_autoptr(GVariant) reply = root ? call(root, "GetNumberOfChannels", nullptr) : nullptr;
    g_clear_object(&root);
    if (!reply)
        return false;
    g_variant_get(reply, "(i)", &f.channel_count);
    gsize channels = static_cast<gsize>(MAX(f.channel_count, 0));
    f.coordinator_proxies = g_new0(GDBusProxy *, channels);
    f.channel_proxies = g_new0(GDBusProxy *, channels);
    f.subscriptions = g_new0(guint, channels * 3);
    for (gint32 n = 1; n <= f.channel_count; n++) {
        g_autofree char *channel_path = channel_object_path(CHANNEL_PATH_PREFIX, n);
        g_autofree char *coordinator_path = channel_object_path(COORDINATOR_PATH, n);
        f.channel_proxies[n - 1] = new_proxy(CHANNEL_SERVICE_NAME, channel_path, CHANNEL_INTERFACE);
        f.coordinator_proxies[n - 1] =
            new_proxy(COORDINATOR_NAME, coordinator_path, COORDINATOR_INTERFACE);
    }
    for (gint32 n = 1; n <= f.channel_count; n++) {
        g_autofree char *channel_path = channel_object_path(CHANNEL_PATH_PREFIX, n);
        g_autofree char *coordinator_path = channel_object_path(COORDINATOR_PATH, n);
        guint *s = &f.subscriptions[(n - 1) * 3];
        s[0] = g_dbus_connection_signal_subscribe(
            f.connection, nullptr, CHANNEL_SIGNAL_INTERFACE, "PresetConfigurationChanged2",
            channel_path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, floor_on_change, nullptr, nullptr);
        s[1] = g_dbus_connection_signal_subscribe(
            f.connection, nullptr, COORDINATOR_INTERFACE, "PtzPresetState", coordinator_path,
            nullptr, G_DBUS_SIGNAL_FLAGS_NONE, floor_on_preset_state, nullptr, nullptr);
        s[2] = g_dbus_connection_signal_subscribe(
            f.connection, nullptr, COORDINATOR_INTERFACE, "PresetSpeed", coordinator_path, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE, floor_on_preset_speed, nullptr, nullptr);
    }
    return true;
}

static void tear_down()
{
    Floor &f = floor_state;
    for (gint32 i = 0; f.subscriptions && i < f.channel_count * 3; i++)
        g_dbus_connection_signal_unsubscribe(f.connection, f.subscriptions[i]);
    for (gint32 i = 0; f.coordinator_proxies && i < f.channel_count; i++) {
        g_clear_object(&f.coordinator_proxies[i]);
        g_clear_object(&f.channel_proxies[i]);
    }
    g_clear_pointer(&f.subscriptions, g_free);
    g_clear_pointer(&f.coordinator_proxies, g_free);
    g_clear_pointer(&f.channel_proxies, g_free);
    g_clear_object(&f.connection);
}

static gboolean on_sigterm(gpointer)
{
    g_main_loop_quit(floor_state.loop);
    return G_SOURCE_CONTINUE;
}

int main()
{
    floor_state.loop = g_main_loop_new(nullptr, FALSE);
    g_unix_signal_add(SIGTERM, on_sigterm, nullptr);
    int status = set_up() ? 0 : 1;
    if (status == 0)
        g_main_loop_run(floor_state.loop);
    tear_down();
    g_main_loop_unref(floor_state.loop);
    return status;
}
