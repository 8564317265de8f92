#include "driver.h"

namespace
{

struct Runner {
    Peer peer;
    MethodCounts echo_calls;
    guint recalls = 0;
    gint64 busy_ns = 0;
};

// Recalls on channels 1 and 2 by turns, each emitted as soon as the last one has settled.
bool run_slice(Runner &runner, double seconds, guint &rep)
{
    gint64 start = monotonic_ns();
    gint64 end = start + static_cast<gint64>(seconds * 1e9);
    while (monotonic_ns() < end) {
        gint32 source = 1 + static_cast<gint32>(rep % 2);
        if (run_repetition(runner.peer.bus_name, runner.peer.bus_name.c_str(), MirrorKind::RECALL,
                           source, rep, runner.echo_calls) < 0)
            return false;
        rep++;
        runner.recalls++;
    }
    runner.busy_ns += monotonic_ns() - start;
    return true;
}

void append_rate(GString *json, const char *label, const Runner &runner, guint calls_per_recall)
{
    double seconds = runner.busy_ns / 1e9;
    g_string_append_printf(json,
                           "\"%s\": {\"recalls\": %u, \"seconds\": %.2f, \"per_second\": %.1f, "
                           "\"calls_per_recall\": %u}",
                           label, runner.recalls, seconds, runner.recalls / seconds,
                           calls_per_recall);
}

bool measure_channels(const Settings &settings, gint32 channels, GString *json)
{
    if (!open_camera(channels, EchoRoute::CALLER))
        return false;
    // The floor makes the calls a recall requires, which are now all the service makes too.
    MethodCounts echoes = service_echo_calls(MirrorKind::RECALL, channels);
    Runner runners[2] = {
        {{"the service", settings.service}, echoes},
        {{"the floor client", settings.floor}, echoes},
    };
    bool ok = true;
    for (Runner &runner : runners)
        ok = ok && start_peer(runner.peer);
    guint rep = 0;
    double slice = settings.throughput_seconds / settings.throughput_slices;
    g_printerr("bench: throughput, %d channels\n", channels);
    // Slices by turns, so that a slower spell of the machine falls on both alike.
    for (guint i = 0; ok && i < settings.throughput_slices; i++) {
        for (int turn = 0; ok && turn < 2; turn++)
            ok = run_slice(runners[(i + static_cast<guint>(turn)) % 2], slice, rep);
    }
    ok = ok && no_stray_calls();
    for (Runner &runner : runners)
        stop_peer(runner.peer);
    close_camera();
    if (!ok)
        return false;
    guint calls = static_cast<guint>(required_calls(MirrorKind::RECALL, channels, 1).size()) +
                  total_of(echoes);
    g_string_append_printf(json, "\n    {\"channels\": %d, ", channels);
    append_rate(json, "service", runners[0], calls);
    g_string_append(json, ", ");
    append_rate(json, "floor", runners[1], calls);
    g_string_append(json, "}");
    return true;
}

} // namespace

bool run_throughput(const Settings &settings, GString *json)
{
    g_string_append(json, "\"throughput\": [");
    bool ok = true;
    for (gsize i = 0; ok && i < settings.throughput_channels.size(); i++) {
        if (i > 0)
            g_string_append(json, ",");
        ok = measure_channels(settings, settings.throughput_channels[i], json);
    }
    g_string_append(json, "\n  ]");
    return ok;
}
