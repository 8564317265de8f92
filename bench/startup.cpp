#include <algorithm>
#include <atomic>
#include <cstring>

#include "driver.h"

namespace
{

// When the bus saw the AddMatch of the last subscription: PresetSpeed of the last channel.
struct Watch {
    std::string last_rule_path;
    std::atomic<gint64> seen_ns{0};
};

// Runs on the monitor connection's own thread; copies of calls are dropped after the look.
GDBusMessage *on_monitored(GDBusConnection *, GDBusMessage *message, gboolean incoming,
                           gpointer data)
{
    if (!incoming || g_dbus_message_get_message_type(message) != G_DBUS_MESSAGE_TYPE_METHOD_CALL)
        return message;
    auto *watch = static_cast<Watch *>(data);
    GVariant *body = g_dbus_message_get_body(message);
    if (g_strcmp0(g_dbus_message_get_member(message), "AddMatch") == 0 && body &&
        g_variant_is_of_type(body, G_VARIANT_TYPE("(s)"))) {
        const char *rule = nullptr;
        g_variant_get(body, "(&s)", &rule);
        if (strstr(rule, "member='PresetSpeed'") && strstr(rule, watch->last_rule_path.c_str())) {
            watch->seen_ns = monotonic_ns();
            g_main_context_wakeup(nullptr);
        }
    }
    g_object_unref(message);
    return nullptr;
}

GDBusConnection *open_monitor(Watch *watch)
{
    const char *address = g_getenv("DBUS_SYSTEM_BUS_ADDRESS");
    GError *error = nullptr;
    GDBusConnection *monitor = g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, &error);
    if (!monitor) {
        record_failure(std::string("cannot open a monitor connection: ") + error->message);
        g_error_free(error);
        return nullptr;
    }
    g_dbus_connection_add_filter(monitor, on_monitored, watch, nullptr);
    const char *rules[] = {"type='method_call',member='AddMatch'", nullptr};
    GVariant *reply = g_dbus_connection_call_sync(
        monitor, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus.Monitoring",
        "BecomeMonitor", g_variant_new("(^asu)", rules, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, &error);
    if (!reply) {
        record_failure(std::string("cannot become a monitor: ") + error->message);
        g_error_free(error);
        g_object_unref(monitor);
        return nullptr;
    }
    g_variant_unref(reply);
    return monitor;
}

// Milliseconds from the spawn to the last subscription, or a negative value.
double time_start(Peer &peer, Watch &watch)
{
    watch.seen_ns = 0;
    gint64 start = monotonic_ns();
    if (!spawn_peer(peer))
        return -1.0;
    bool seen = wait_until([&] { return watch.seen_ns.load() != 0 || !peer.running; }, 60000);
    double ms = (watch.seen_ns.load() - start) / 1e6;
    stop_peer(peer);
    if (!seen || watch.seen_ns.load() == 0) {
        record_failure(peer.label + " never subscribed its last signal");
        return -1.0;
    }
    return ms;
}

void append_times(GString *json, const char *label, std::vector<double> &times)
{
    std::sort(times.begin(), times.end());
    g_string_append_printf(json,
                           "\"%s\": {\"min_ms\": %.2f, \"p50_ms\": %.2f, \"p90_ms\": %.2f, "
                           "\"max_ms\": %.2f}",
                           label, times.front(), percentile(times, 0.5), percentile(times, 0.9),
                           times.back());
}

} // namespace

bool run_startup(const Settings &settings, GString *json)
{
    gint32 channels = settings.startup_channels;
    Watch watch;
    watch.last_rule_path = "path='/com/orvo/PTZ/Coordinator/" + std::to_string(channels) + "'";
    GDBusConnection *monitor = open_monitor(&watch);
    if (!monitor || !open_camera(channels, EchoRoute::CALLER)) {
        g_clear_object(&monitor);
        return false;
    }
    g_printerr("bench: start-up, %d channels\n", channels);
    std::vector<double> times[2];
    bool ok = true;
    for (guint run = 0; ok && run < settings.startup_runs; run++) {
        for (int turn = 0; ok && turn < 2; turn++) {
            int which = (turn + static_cast<int>(run)) % 2;
            Peer peer{which == 0 ? "the service" : "the floor client",
                      which == 0 ? settings.service : settings.floor};
            double ms = time_start(peer, watch);
            ok = ms >= 0.0;
            times[which].push_back(ms);
        }
    }
    close_camera();
    g_dbus_connection_close_sync(monitor, nullptr, nullptr);
    g_object_unref(monitor);
    if (!ok)
        return false;
    g_string_append_printf(json, "\"startup\": {\"channels\": %d, \"runs\": %u, ", channels,
                           settings.startup_runs);
    append_times(json, "service", times[0]);
    g_string_append(json, ", ");
    append_times(json, "floor", times[1]);
    g_string_append(json, "}");
    return true;
}
