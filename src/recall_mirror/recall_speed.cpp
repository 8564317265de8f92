#include "recall_mirror/recall_speed.h"

#include "core/service_state.h"

void on_preset_speed(GDBusConnection *connection, const gchar *sender_name,
                     const gchar *object_path, const gchar *interface_name,
                     const gchar *signal_name, GVariant *parameters, gpointer user_data)
{
    (void)connection, (void)sender_name, (void)object_path, (void)interface_name,
        (void)signal_name, (void)user_data;
    gint32 unused = 0;
    gint32 speed = 0;
    gint32 space = 0;
    // A payload that is not "(iii)" counts as speed 0 in space 0.
    if (parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(iii)")))
        g_variant_get(parameters, "(iii)", &unused, &speed, &space);
    if (space != 0) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "%sReceived unsupported space in speed signal:%d",
              LOG_PREFIX, space);
        speed = 0;
    }
    for (gint32 i = 0; i < service_state.channel_count; i++)
        service_state.preset_speeds[i] = speed;
}
