#include "core/bus_setup.h"

#include "client/preset_calls.h"
#include "core/bus_names.h"
#include "core/service_state.h"

static GDBusProxy *new_proxy(const char *name, const char *path, const char *interface)
{
    GError *error = nullptr;
    GDBusProxy *proxy = g_dbus_proxy_new_sync(service_state.connection, G_DBUS_PROXY_FLAGS_NONE,
                                              nullptr, name, path, interface, nullptr, &error);
    g_clear_error(&error);
    return proxy;
}

// Reads the channel count; a negative count is taken as zero channels.
static bool read_channel_count()
{
    g_autoptr(GDBusProxy) coordinator =
        new_proxy(COORDINATOR_NAME, COORDINATOR_PATH, COORDINATOR_INTERFACE);
    if (!coordinator)
        return false;
    g_autoptr(GVariant) reply =
        call_preset_method(coordinator, "GetNumberOfChannels", nullptr, "(i)");
    if (!reply)
        return false;
    gint32 count = 0;
    g_variant_get(reply, "(i)", &count);
    service_state.channel_count = count < 0 ? 0 : count;
    return true;
}

static void allocate_buffers_and_tables()
{
    ServiceState &s = service_state;
    gsize channels = static_cast<gsize>(s.channel_count);
    if (!s.created_buffer)
        s.created_buffer = new_echo_buffer<ChangeRecord>(channels);
    if (!s.updated_buffer)
        s.updated_buffer = new_echo_buffer<ChangeRecord>(channels);
    if (!s.removed_buffer)
        s.removed_buffer = new_echo_buffer<ChangeRecord>(channels);
    if (!s.recall_echo_buffer)
        s.recall_echo_buffer = new_echo_buffer<RecallRecord>(channels);
    if (!s.coordinator_proxies)
        s.coordinator_proxies = g_new0(GDBusProxy *, channels);
    if (!s.channel_proxies)
        s.channel_proxies = g_new0(GDBusProxy *, channels);
    if (!s.preset_speeds)
        s.preset_speeds = g_new0(gint32, channels);
}

static bool create_channel_proxies()
{
    for (gint32 n = 1; n <= service_state.channel_count; n++) {
        g_autofree char *channel_path = channel_object_path(CHANNEL_PATH_PREFIX, n);
        service_state.channel_proxies[n - 1] =
            new_proxy(CHANNEL_SERVICE_NAME, channel_path, CHANNEL_INTERFACE);
        if (!service_state.channel_proxies[n - 1])
            return false;
        g_autofree char *coordinator_path = channel_object_path(COORDINATOR_PATH, n);
        service_state.coordinator_proxies[n - 1] =
            new_proxy(COORDINATOR_NAME, coordinator_path, COORDINATOR_INTERFACE);
        if (!service_state.coordinator_proxies[n - 1])
            return false;
    }
    return true;
}

bool setup_bus()
{
    ServiceState &s = service_state;
    GError *error = nullptr;
    s.connection = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!s.connection) {
        g_clear_error(&error);
        return false;
    }
    if (!read_channel_count())
        return false;
    allocate_buffers_and_tables();
    if (!create_channel_proxies())
        return false;
    gsize channels = static_cast<gsize>(s.channel_count);
    if (!s.config_changed_subscriptions)
        s.config_changed_subscriptions = g_new0(guint, channels);
    if (!s.preset_state_subscriptions)
        s.preset_state_subscriptions = g_new0(guint, channels);
    if (!s.preset_speed_subscriptions)
        s.preset_speed_subscriptions = g_new0(guint, channels);
    return true;
}

static void release_proxies(GDBusProxy **&proxies)
{
    if (!proxies)
        return;
    for (gint32 i = 0; i < service_state.channel_count; i++)
        g_clear_object(&proxies[i]);
    g_clear_pointer(&proxies, g_free);
}

void release_service_state()
{
    ServiceState &s = service_state;
    g_clear_pointer(&s.created_buffer, free_echo_buffer<ChangeRecord>);
    g_clear_pointer(&s.updated_buffer, free_echo_buffer<ChangeRecord>);
    g_clear_pointer(&s.removed_buffer, free_echo_buffer<ChangeRecord>);
    g_clear_pointer(&s.recall_echo_buffer, free_echo_buffer<RecallRecord>);
    g_clear_pointer(&s.preset_speeds, g_free);
    g_clear_pointer(&s.config_changed_subscriptions, g_free);
    g_clear_pointer(&s.preset_state_subscriptions, g_free);
    g_clear_pointer(&s.preset_speed_subscriptions, g_free);
    release_proxies(s.coordinator_proxies);
    release_proxies(s.channel_proxies);
    g_clear_object(&s.connection);
}
