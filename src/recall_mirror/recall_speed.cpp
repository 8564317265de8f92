#include "recall_mirror/recall_speed.h"

#include "core/lifecycle.h"
#include "core/log_messages.h"
#include "core/service_state.h"
#include "core/trace.h"
#include "recall_mirror/recall_payloads.h"

// One trace line per speed: what arrived and the speed every channel now uses.
static void trace_speed(GVariant *parameters, const PresetSpeed &announced)
{
    if (!trace_enabled())
        return;
    if (!carries_three_ints(parameters))
        trace_line("speed of type %s: wrong type, speed 0 for every channel",
                   payload_type(parameters));
    else if (announced.space != 0)
        trace_line("speed %d in space %d: unsupported space, speed 0 for every channel",
                   announced.speed, announced.space);
    else
        trace_line("speed %d in space 0: set for every channel", announced.speed);
}

void on_preset_speed(GDBusConnection *connection, const gchar *sender_name,
                     const gchar *object_path, const gchar *interface_name,
                     const gchar *signal_name, GVariant *parameters, gpointer user_data)
{
    (void)connection, (void)sender_name, (void)object_path, (void)interface_name, (void)signal_name,
        (void)user_data;
    if (!take_signal())
        return;
    PresetSpeed announced = decode_preset_speed(parameters);
    gint32 speed = announced.speed;
    if (announced.space != 0) {
        log_warning("Received unsupported space in speed signal:%d", announced.space);
        speed = 0;
    }
    for (gint32 i = 0; i < service_state.channel_count; i++)
        service_state.preset_speeds[i] = speed;
    trace_speed(parameters, announced);
}
