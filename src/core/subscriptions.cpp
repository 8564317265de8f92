#include "core/subscriptions.h"

#include "config_mirror/change_intake.h"
#include "core/bus_names.h"
#include "core/service_state.h"
#include "recall_mirror/recall_mirror.h"
#include "recall_mirror/recall_speed.h"

static guint subscribe(const char *interface, const char *member, const char *path,
                       GDBusSignalCallback handler)
{
    return g_dbus_connection_signal_subscribe(service_state.connection, nullptr, interface, member,
                                              path, nullptr, G_DBUS_SIGNAL_FLAGS_NONE, handler,
                                              nullptr, nullptr);
}

static bool tables_exist()
{
    const ServiceState &s = service_state;
    return s.connection && s.config_changed_subscriptions && s.preset_state_subscriptions &&
           s.preset_speed_subscriptions;
}

void subscribe_channel_signals()
{
    ServiceState &s = service_state;
    if (s.channel_count <= 0 || !tables_exist())
        return;
    for (gint32 n = 1; n <= s.channel_count; n++) {
        g_autofree char *channel_path = channel_object_path(CHANNEL_PATH_PREFIX, n);
        g_autofree char *coordinator_path = channel_object_path(COORDINATOR_PATH, n);
        s.config_changed_subscriptions[n - 1] =
            subscribe(CHANNEL_SIGNAL_INTERFACE, "PresetConfigurationChanged2", channel_path,
                      on_preset_configuration_changed);
        s.preset_state_subscriptions[n - 1] = subscribe(COORDINATOR_INTERFACE, "PtzPresetState",
                                                        coordinator_path, on_ptz_preset_state);
        s.preset_speed_subscriptions[n - 1] =
            subscribe(COORDINATOR_INTERFACE, "PresetSpeed", coordinator_path, on_preset_speed);
    }
}

bool unsubscribe_channel_signals()
{
    ServiceState &s = service_state;
    if (!tables_exist())
        return true;
    for (gint32 i = 0; i < s.channel_count; i++) {
        g_dbus_connection_signal_unsubscribe(s.connection, s.config_changed_subscriptions[i]);
        g_dbus_connection_signal_unsubscribe(s.connection, s.preset_state_subscriptions[i]);
        g_dbus_connection_signal_unsubscribe(s.connection, s.preset_speed_subscriptions[i]);
    }
    return true;
}
