#include <algorithm>

#include "driver.h"

namespace
{

struct Samples {
    std::vector<double> service;
    std::vector<double> floor;
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
            gint64 ns =
                run_repetition(peer.bus_name, peer.bus_name.c_str(), kind, source, rep, echoes);
            if (ns < 0)
                return false;
            if (rep >= settings.warmup)
                (service_turn ? samples.service : samples.floor).push_back(ns / 1000.0);
            pause_ms(settings.gap_ms);
        }
    }
    return true;
}

bool measure_channels(const Settings &settings, gint32 channels, GString *json, bool &first)
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
        if (!ok)
            break;
        std::vector<PlannedCall> plan = required_calls(kind, channels, 1);
        g_string_append_printf(json,
                               "%s\n    {\"kind\": \"%s\", \"channels\": %d, \"reps\": %u, "
                               "\"required_calls\": %zu, \"service_echo_calls\": %u, ",
                               first ? "" : ",", kind_name(kind), channels, settings.reps,
                               plan.size(), total_of(service_echo_calls(kind, channels)));
        first = false;
        append_percentiles(json, "service", samples.service);
        g_string_append(json, ", ");
        append_percentiles(json, "floor", samples.floor);
        g_string_append(json, "}");
    }
    ok = ok && no_stray_calls();
    stop_peer(service);
    stop_peer(floor);
    close_camera();
    return ok;
}

} // namespace

bool run_latency(const Settings &settings, GString *json)
{
    g_string_append(json, "\"latency\": [");
    bool first = true;
    bool ok = true;
    for (gint32 channels : settings.channels) {
        if (!measure_channels(settings, channels, json, first)) {
            ok = false;
            break;
        }
    }
    g_string_append(json, "\n  ]");
    return ok;
}
