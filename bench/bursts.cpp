// Bursts: signals queued as fast as the bus takes them, every call they cost checked, and the
// service's memory once the burst has been handled and again once the loop has gone idle.
#include <string>

#include "driver.h"

namespace
{

bool run_kind(const Settings &settings, guint bursts, Peer &service, gint32 channels, bool recalls,
              GString *json, bool &first)
{
    BurstPattern pattern;
    pattern.recalls = recalls;
    pattern.channels = channels;
    const char *kind = recalls ? "recalls" : "changes";
    for (guint b = 1; b <= bursts; b++) {
        Burst burst = next_burst(pattern, settings.burst_size);
        g_autofree char *what = g_strdup_printf("burst %u of %s, %d channels", b, kind, channels);
        g_printerr("bench: %s\n", what);
        MemoryFigures handled, once_idle;
        bool measured = false;
        gint64 ns = run_burst(service.bus_name, burst, what, settings.idle_pause_ms,
                              [&] { measured = measure(service, &handled); });
        if (ns < 0 || !measured || !measure(service, &once_idle))
            return false;
        g_string_append_printf(json,
                               "%s\n        {\"kind\": \"%s\", \"burst\": %u, \"signals\": %zu, "
                               "\"calls\": %zu, \"seconds\": %.2f, ",
                               first ? "" : ",", kind, b, burst.signals.size(), burst.calls.size(),
                               ns / 1e9);
        first = false;
        append_figures(json, "handled", handled);
        g_string_append(json, ", ");
        append_figures(json, "once_idle", once_idle);
        g_string_append(json, "}");
    }
    return true;
}

bool measure_channels(const Settings &settings, const std::vector<std::string> &command,
                      guint bursts, gint32 channels, GString *json)
{
    // Echoes go nowhere: the camera changes only through the service's calls.
    if (!open_camera(channels, EchoRoute::NONE))
        return false;
    Peer service{"the service", command};
    bool ok = start_peer(service);
    driver.stand_in->camera = make_camera(channels, BURST_PRESETS);
    MemoryFigures idle;
    pause_ms(settings.idle_pause_ms);
    ok = ok && measure(service, &idle);
    g_string_append_printf(json, "\n      {\"channels\": %d, ", channels);
    append_figures(json, "idle", idle);
    g_string_append(json, ", \"runs\": [");
    bool first = true;
    ok = ok && run_kind(settings, bursts, service, channels, true, json, first) &&
         run_kind(settings, bursts, service, channels, false, json, first) && no_stray_calls();
    stop_peer(service);
    close_camera();
    g_string_append(json, "\n      ]}");
    return ok;
}

} // namespace

bool run_bursts(const Settings &settings, GString *json)
{
    g_string_append_printf(json,
                           "\"bursts\": {\"size\": %u, \"bursts\": %u, \"pause_ms\": %u, "
                           "\"channels\": [",
                           settings.burst_size, settings.bursts, settings.idle_pause_ms);
    bool ok = true;
    for (gsize i = 0; ok && i < settings.burst_channels.size(); i++) {
        if (i > 0)
            g_string_append(json, ",");
        ok = measure_channels(settings, settings.service, settings.bursts,
                              settings.burst_channels[i], json);
    }
    g_string_append(json, "\n    ]");
    // One burst of each kind again with the service started the other way, which tells what
    // its environment does to the memory kept.
    if (ok && !settings.compare.empty() && !settings.burst_channels.empty()) {
        g_string_append(json, ",\n    \"compare\": {\"channels\": [");
        ok = measure_channels(settings, settings.compare, 1, settings.burst_channels.front(), json);
        g_string_append(json, "\n    ]}");
    }
    g_string_append(json, "}");
    return ok;
}
