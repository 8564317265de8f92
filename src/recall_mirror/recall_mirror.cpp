#include "recall_mirror/recall_mirror.h"

#include <cstdarg>

#include "client/preset_calls.h"
#include "core/lifecycle.h"
#include "core/log_messages.h"
#include "core/other_channels.h"
#include "core/service_state.h"
#include "core/trace.h"
#include "recall_mirror/recall_echo_buffer.h"
#include "recall_mirror/recall_payloads.h"

static const gint32 STATE_RECALLED = 1;

static bool goto_preset(const OtherChannel &channel, gint32 preset_number)
{
    if (call_without_result(channel.coordinator, "GotoPresetNumber",
                            g_variant_new("(siii)", PRESET_ROLE, 0, preset_number,
                                          service_state.preset_speeds[channel.index])))
        return true;
    log_warning("Failed to go to preset (id %d) on channel %u", preset_number, channel.number);
    return false;
}

guint32 mirror_recall(gint32 preset_number, gint32 source_channel, guint8 *owed)
{
    ServiceState &s = service_state;
    guint32 sent = 0;
    walk_other_channels(source_channel, [&](const OtherChannel &channel) {
        g_autoptr(GVariant) state =
            call_preset_method(channel.coordinator, "GetPtzPresetState", nullptr, "(ii)");
        if (!state) {
            log_warning("Failed to get PresetStatus on channel %d",
                        static_cast<gint32>(channel.number));
            return true;
        }
        gint32 reported = 0;
        g_variant_get(state, "(ii)", &reported, nullptr);
        // A channel still on its way reports no preset: it is sent there once per recall.
        if (reported != preset_number && goto_preset(channel, preset_number)) {
            owed[channel.index] = OWES_RECALL;
            sent++;
        }
        return true;
    });
    // Only this recall's own walk may ask for a record, owed by the channels it sent there.
    s.recall_echo_expected = sent > 0;
    return sent;
}

// One trace line per preset state: what arrived, e.g. `recall of preset 5 on channel 1`, then
// the decision.
static void G_GNUC_PRINTF(3, 4)
    trace_state(GVariant *parameters, const PresetState &signal, const char *decision, ...)
{
    if (!trace_enabled())
        return;
    g_autofree char *subject = nullptr;
    if (!carries_three_ints(parameters))
        subject = g_strdup_printf("preset state of type %s", payload_type(parameters));
    else if (signal.state == STATE_RECALLED)
        subject =
            g_strdup_printf("recall of preset %d on channel %d", signal.preset, signal.channel);
    else
        subject = g_strdup_printf("state %d of preset %d on channel %d", signal.state,
                                  signal.preset, signal.channel);
    va_list args;
    va_start(args, decision);
    trace_vline(subject, decision, args);
    va_end(args);
}

void on_ptz_preset_state(GDBusConnection *connection, const gchar *sender_name,
                         const gchar *object_path, const gchar *interface_name,
                         const gchar *signal_name, GVariant *parameters, gpointer user_data)
{
    (void)connection, (void)sender_name, (void)object_path, (void)interface_name, (void)signal_name,
        (void)user_data;
    ServiceState &s = service_state;
    if (!take_signal())
        return;
    PresetState signal = decode_preset_state(parameters);
    gint32 channel = signal.channel;
    gint32 preset = signal.preset;
    if (signal.state != STATE_RECALLED || !s.recall_echo_buffer) {
        trace_state(parameters, signal,
                    carries_three_ints(parameters) ? "ignored, not a recall"
                                                   : "ignored, wrong type");
        return;
    }
    if (s.recall_echo_count >= MAX_BUFFER_SIGNAL_SIZE) {
        // A full buffer is emptied silently and this signal is lost.
        clear_records(s.recall_echo_buffer, &s.recall_echo_count);
        trace_state(parameters, signal, "dropped, full buffer emptied");
        return;
    }
    guint32 index = 0;
    RecallMatch match =
        match_recall(s.recall_echo_buffer, s.recall_echo_count, preset, channel, &index);
    switch (match) {
    case RecallMatch::ECHO:
        // Echoes of our own recalls are dropped here.
        take_recall_echo(s.recall_echo_buffer, &s.recall_echo_count, index, channel);
        trace_state(parameters, signal, "echo of our own recall");
        return;
    case RecallMatch::REPEAT:
        trace_state(parameters, signal, "repeat, dropped");
        return;
    case RecallMatch::LATE:
    case RecallMatch::NONE:
        break;
    }
    if (preset == 0 || channel < 1 || channel > s.channel_count) {
        trace_state(parameters, signal, "ignored, invalid");
        return;
    }
    // An echo in doubt that came after all is mirrored, and puts nothing in doubt.
    if (match == RecallMatch::LATE)
        take_recall_echo(s.recall_echo_buffer, &s.recall_echo_count, index, channel);
    else
        doubt_for_recall(s.recall_echo_buffer, s.recall_echo_count, channel);
    WalkMeter meter = start_walk();
    RecallRecord &record = open_record(s.recall_echo_buffer, s.recall_echo_count);
    guint32 owed =
        mirror_recall(preset, channel, owed_row(s.recall_echo_buffer, s.recall_echo_count));
    if (owed > 0) {
        record = RecallRecord{preset, channel, owed, ++s.walk_serial};
        keep_record(&s.recall_echo_count);
    }
    trace_state(parameters, signal, "mirrored, %s", walk_summary(meter).text);
}
