#include <string>

#include "driver.h"

void append_figures(GString *json, const char *label, const MemoryFigures &m)
{
    g_string_append_printf(json,
                           "\"%s\": {\"private_dirty_kib\": %ld, \"rss_kib\": %ld, "
                           "\"hwm_kib\": %ld, \"heap_kib\": %ld, \"anonymous_kib\": %ld, "
                           "\"stack_kib\": %ld, \"files_kib\": %ld}",
                           label, m.private_dirty, m.rss, m.hwm, m.heap, m.anonymous, m.stack,
                           m.files);
}

bool measure(const Peer &peer, MemoryFigures *figures)
{
    if (read_memory(peer.pid, figures))
        return true;
    record_failure("cannot read the memory of " + peer.label);
    return false;
}

namespace
{

const guint SIGNALS_PER_ROUND = 100;
const MirrorKind ROUND_KINDS[] = {MirrorKind::RECALL, MirrorKind::CREATE_BY_NAME,
                                  MirrorKind::UPDATE_MOVED, MirrorKind::CREATE_BY_NUMBER,
                                  MirrorKind::REMOVE};

bool measure_idle(const Settings &settings, gint32 channels, GString *json)
{
    if (!open_camera(channels, EchoRoute::CALLER))
        return false;
    Peer service{"the service", settings.service};
    Peer floor{"the floor client", settings.floor};
    MemoryFigures service_figures, floor_figures;
    bool ok = start_peer(service) && start_peer(floor);
    pause_ms(500);
    ok = ok && measure(service, &service_figures) && measure(floor, &floor_figures);
    stop_peer(service);
    stop_peer(floor);
    close_camera();
    if (!ok)
        return false;
    g_string_append_printf(json, "\n      {\"channels\": %d, ", channels);
    append_figures(json, "service", service_figures);
    g_string_append(json, ", ");
    append_figures(json, "floor", floor_figures);
    g_string_append(json, "}");
    return true;
}

// Signals the service takes in and drops without a call: speeds, states other than a recall,
// unknown change kinds, preset 0 and payloads of the wrong type.
void emit_noise(guint index, gint32 channels)
{
    StandIn *s = driver.stand_in;
    gint32 channel = 1 + static_cast<gint32>(index % static_cast<guint>(channels));
    gint32 preset = 1 + static_cast<gint32>(index % LISTED_PRESETS);
    switch (index % 6) {
    case 0:
        stand_in_emit(s, nullptr, {SignalKind::PRESET_SPEED, channel, 0, preset, "", false});
        break;
    case 1:
        stand_in_emit(s, nullptr, {SignalKind::PRESET_STATE, channel, 0, preset, "", false});
        break;
    case 2:
        stand_in_emit(s, nullptr,
                      {SignalKind::CONFIGURATION_CHANGED, channel, 4, preset, "Noise", false});
        break;
    case 3:
        stand_in_emit(s, nullptr, {SignalKind::PRESET_STATE, channel, 2, preset, "", false});
        break;
    case 4:
        stand_in_emit(
            s, nullptr,
            {SignalKind::CONFIGURATION_CHANGED, channel, CHANGE_CREATED, 0, "Zero", false});
        break;
    default: {
        g_autofree char *path = g_strdup_printf("/com/orvo/PTZ/Coordinator/%d", channel);
        g_dbus_connection_emit_signal(s->connection, nullptr, path, "com.orvo.PTZ.Coordinator",
                                      "PtzPresetState", g_variant_new("(s)", "malformed"), nullptr);
        break;
    }
    }
}

guint changes_in(MirrorKind kind, gint32 channels)
{
    guint changes = 0;
    for (const PlannedCall &call : required_calls(kind, channels, 1)) {
        if (call.method != Method::QUERY_PRESETS && call.method != Method::GET_PRESETS &&
            call.method != Method::GET_PTZ_PRESET_STATE)
            changes++;
    }
    return changes;
}

// One round: noise, then one mirrored action whose calls show that all before it was taken.
bool run_round(const Peer &service, gint32 channels, guint round, guint *handled)
{
    MirrorKind kind = ROUND_KINDS[round % G_N_ELEMENTS(ROUND_KINDS)];
    guint echoes = changes_in(kind, channels);
    guint noise = SIGNALS_PER_ROUND - 1 - echoes;
    for (guint i = 0; i < noise; i++)
        emit_noise(round * SIGNALS_PER_ROUND + i, channels);
    gint32 source = 1 + static_cast<gint32>(round % static_cast<guint>(channels));
    if (run_repetition(service.bus_name, nullptr, kind, source, round,
                       service_echo_calls(kind, channels)) < 0)
        return false;
    *handled += noise + 1 + echoes;
    return true;
}

// Emits count signals the service drops, with no round trip between them, then a recall to know
// they were taken, and reads the memory after the pause in which the service's loop idles and
// gives back what they freed. These signals are not counted as handled.
bool measure_after_dropped(const Settings &settings, const Peer &service, gint32 channels,
                           guint count, MemoryFigures *figures)
{
    for (guint i = 0; i < count; i++)
        emit_noise(i, channels);
    bool ok = run_repetition(service.bus_name, nullptr, MirrorKind::RECALL, 1, 0,
                             service_echo_calls(MirrorKind::RECALL, channels)) >= 0;
    pause_ms(settings.idle_pause_ms);
    return ok && measure(service, figures);
}

// Reads the memory at rest: the service gives freed memory back once its loop idles after 256
// signals, so a reading between two of those trims holds whatever the signals since the last
// one freed; enough dropped signals for a trim come first.
const guint REST_SIGNALS = 256;

bool measure_at_rest(const Settings &settings, const Peer &service, gint32 channels,
                     MemoryFigures *figures)
{
    return measure_after_dropped(settings, service, channels, REST_SIGNALS, figures);
}

bool measure_growth(const Settings &settings, GString *json, const char *label,
                    const std::vector<std::string> &command, guint signals)
{
    gint32 channels = settings.growth_channels;
    guint checkpoint = MIN(settings.growth_checkpoint, signals);
    if (!open_camera(channels, EchoRoute::BROADCAST))
        return false;
    Peer service{"the service", command};
    MemoryFigures idle, warm, at_checkpoint, end, burst;
    bool ok = start_peer(service);
    pause_ms(300);
    ok = ok && measure(service, &idle);
    g_printerr("bench: memory growth over %u signals, %d channels, %s\n", signals, channels, label);
    GString *samples = g_string_new("");
    guint handled = 0, round = 0;
    guint next_sample = settings.warm_signals;
    long peak = idle.private_dirty;
    gint64 start = monotonic_ns(), checkpoint_ns = 0;
    while (ok && handled < signals) {
        ok = run_round(service, channels, round++, &handled);
        if (!ok || handled < next_sample)
            continue;
        MemoryFigures now;
        ok = measure(service, &now);
        if (next_sample == settings.warm_signals)
            ok = ok && measure_at_rest(settings, service, channels, &warm);
        if (next_sample == checkpoint) {
            checkpoint_ns = monotonic_ns() - start;
            ok = ok && measure_at_rest(settings, service, channels, &at_checkpoint);
        }
        peak = MAX(peak, now.private_dirty);
        g_string_append_printf(samples, "%s[%u, %ld]", samples->len ? ", " : "", handled,
                               now.private_dirty);
        // Rounds are of 100 signals, so the samples fall on these counts exactly.
        next_sample = (handled / settings.growth_sample_every + 1) * settings.growth_sample_every;
        if (handled < checkpoint)
            next_sample = MIN(next_sample, checkpoint);
    }
    double seconds = (monotonic_ns() - start) / 1e9;
    ok = ok && no_stray_calls();
    ok = ok && measure_at_rest(settings, service, channels, &end);
    ok = ok && measure_after_dropped(settings, service, channels, settings.burst_signals, &burst);
    stop_peer(service);
    close_camera();
    if (ok) {
        g_string_append_printf(json,
                               "\"%s\": {\"channels\": %d, \"signals\": %u, \"actions\": %u, "
                               "\"warm_signals\": %u, \"checkpoint_signals\": %u, "
                               "\"burst_signals\": %u, \"seconds\": %.1f, "
                               "\"checkpoint_seconds\": %.1f, "
                               "\"peak_sampled_private_dirty_kib\": %ld, ",
                               label, channels, handled, round, settings.warm_signals, checkpoint,
                               settings.burst_signals, seconds, checkpoint_ns / 1e9,
                               MAX(peak, end.private_dirty));
        append_figures(json, "idle", idle);
        g_string_append(json, ", ");
        append_figures(json, "warm", warm);
        g_string_append(json, ", ");
        append_figures(json, "checkpoint", at_checkpoint);
        g_string_append(json, ", ");
        append_figures(json, "end", end);
        g_string_append(json, ", ");
        append_figures(json, "after_burst", burst);
        g_string_append_printf(json, ", \"samples\": [%s]}", samples->str);
    }
    g_string_free(samples, TRUE);
    return ok;
}

} // namespace

bool run_memory(const Settings &settings, GString *json)
{
    g_string_append(json, "\"memory\": {\n    \"idle\": [");
    bool ok = true;
    for (gsize i = 0; ok && i < settings.memory_channels.size(); i++) {
        if (i > 0)
            g_string_append(json, ",");
        ok = measure_idle(settings, settings.memory_channels[i], json);
    }
    g_string_append(json, "\n    ],\n    ");
    ok = ok && measure_growth(settings, json, "growth", settings.service, settings.growth_signals);
    // The same, shorter, with the service started the other way.
    if (!settings.compare.empty() && settings.growth_compare_signals > 0) {
        g_string_append(json, ",\n    ");
        ok = ok && measure_growth(settings, json, "growth_compare", settings.compare,
                                  settings.growth_compare_signals);
    }
    g_string_append(json, "\n  }");
    return ok;
}
