// Latency: one action at a time, service and floor by turns; and the recalls at high channel
// counts, with the calls each one cost.
#include <algorithm>

#include "driver.h"

namespace
{

struct Samples {
    std::vector<double> service;
    std::vector<double> floor;
    // Calls each repetition cost, those after the last required one included.
    std::vector<guint> service_calls;
    std::vector<guint> floor_calls;
};

void append_percentiles(GString *json, const char *label, std::vector<double> &values)
{
    std::sort(values.begin(), values.end());
    double sum = 0.0;
    for (double v : values)
        sum += v;
    g_string_append_printf(json,
                           "\"%s\": {\"p50_us\": %.1f, \"p90_us\": %.1f, \"p99_us\": %.1f, "
                           "\"mean_us\": %.1f, \"max_us\": %.1f}",
                           label, percentile(values, 0.50), percentile(values, 0.90),
                           percentile(values, 0.99), values.empty() ? 0.0 : sum / values.size(),
                           values.empty() ? 0.0 : values.back());
}

void append_call_range(GString *json, const char *label, const std::vector<guint> &calls)
{
    auto range = std::minmax_element(calls.begin(), calls.end());
    g_string_append_printf(json, "\"%s\": {\"min\": %u, \"max\": %u}", label,
                           calls.empty() ? 0 : *range.first, calls.empty() ? 0 : *range.second);
}

// Service and floor take turns, each repetition with the same action, the first turn
// alternating.
bool measure_kind(const Settings &settings, MirrorKind kind, gint32 channels, Peer &service,
                  Peer &floor, Samples &samples)
{
    MethodCounts echoes = service_echo_calls(kind, channels);
    for (guint rep = 0; rep < settings.warmup + settings.reps; rep++) {
        gint32 source = 1 + static_cast<gint32>(rep % static_cast<guint>(channels));
        for (int turn = 0; turn < 2; turn++) {
            bool service_turn = (turn == 0) == (rep % 2 == 0);
            Peer &peer = service_turn ? service : floor;
            guint strays = driver.stray_calls;
            gint64 ns =
                run_repetition(peer.bus_name, peer.bus_name.c_str(), kind, source, rep, echoes);
            if (ns < 0)
                return false;
            pause_ms(settings.gap_ms);
            // A call after the repetition settled counts as a stray, which fails the run at
            // the end; it is counted here too.
            guint calls = driver.rep.calls_seen + (driver.stray_calls - strays);
            if (rep >= settings.warmup) {
                (service_turn ? samples.service : samples.floor).push_back(ns / 1000.0);
                (service_turn ? samples.service_calls : samples.floor_calls).push_back(calls);
            }
        }
    }
    return true;
}

// Starts the service and the floor on K channels and measures each kind of settings.kinds;
// row(kind, samples) appends its figures.
template <typename Row> bool measure_channels(const Settings &settings, gint32 channels, Row row)
{
    if (!open_camera(channels, EchoRoute::CALLER))
        return false;
    Peer service{"the service", settings.service};
    Peer floor{"the floor client", settings.floor};
    bool ok = start_peer(service) && start_peer(floor);
    for (MirrorKind kind : settings.kinds) {
        if (!ok)
            break;
        Samples samples;
        g_printerr("bench: latency, %s, %d channels\n", kind_name(kind), channels);
        ok = measure_kind(settings, kind, channels, service, floor, samples);
        if (ok)
            row(kind, samples);
    }
    ok = ok && no_stray_calls();
    stop_peer(service);
    stop_peer(floor);
    close_camera();
    return ok;
}

} // namespace

// Service's and floor's percentiles, closing the row.
static void append_both_percentiles(GString *json, Samples &samples)
{
    append_percentiles(json, "service", samples.service);
    g_string_append(json, ", ");
    append_percentiles(json, "floor", samples.floor);
    g_string_append(json, "}");
}

bool run_latency(const Settings &settings, GString *json)
{
    g_string_append(json, "\"latency\": [");
    bool first = true;
    bool ok = true;
    for (gsize i = 0; ok && i < settings.channels.size(); i++) {
        gint32 channels = settings.channels[i];
        ok = measure_channels(settings, channels, [&](MirrorKind kind, Samples &samples) {
            g_string_append_printf(json,
                                   "%s\n    {\"kind\": \"%s\", \"channels\": %d, \"reps\": %u, "
                                   "\"required_calls\": %zu, \"service_echo_calls\": %u, ",
                                   first ? "" : ",", kind_name(kind), channels, settings.reps,
                                   required_calls(kind, channels, 1).size(),
                                   total_of(service_echo_calls(kind, channels)));
            first = false;
            append_both_percentiles(json, samples);
        });
    }
    g_string_append(json, "\n  ]");
    return ok;
}

bool run_recall_scale(const Settings &settings, GString *json)
{
    Settings recalls = settings;
    recalls.kinds = {MirrorKind::RECALL};
    recalls.reps = settings.recall_reps;
    recalls.warmup = settings.recall_warmup;
    g_string_append(json, "\"recalls\": [");
    bool ok = true;
    for (gsize i = 0; ok && i < settings.recall_channels.size(); i++) {
        gint32 channels = settings.recall_channels[i];
        ok = measure_channels(recalls, channels, [&](MirrorKind kind, Samples &samples) {
            g_string_append_printf(json,
                                   "%s\n    {\"channels\": %d, \"reps\": %u, "
                                   "\"required_calls\": %zu, \"calls_per_recall\": {",
                                   i ? "," : "", channels, recalls.reps,
                                   required_calls(kind, channels, 1).size());
            append_call_range(json, "service", samples.service_calls);
            g_string_append(json, ", ");
            append_call_range(json, "floor", samples.floor_calls);
            g_string_append(json, "}, ");
            append_both_percentiles(json, samples);
        });
    }
    g_string_append(json, "\n  ]");
    return ok;
}
