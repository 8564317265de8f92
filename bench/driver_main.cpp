// Drives the service and the floor client against the stand-in on the bus that
// DBUS_SYSTEM_BUS_ADDRESS names, and writes the figures as JSON.
//
//   bench-driver --service CMD --floor CMD --out FILE [--smoke] [--stages LIST]
//   bench-driver ops --service CMD --kind KIND --channels K --count N
//
// "ops" only runs N actions of one kind against one peer, as the instruction counts need.
#include <cstdio>
#include <cstring>

#include "driver.h"

namespace
{

struct Options {
    Settings settings;
    std::string out;
    std::string stages = "latency,recalls,throughput,memory,bursts,startup";
    bool ops = false;
    MirrorKind ops_kind = MirrorKind::RECALL;
    gint32 ops_channels = 2;
    guint ops_count = 100;
    int reps = 0;
    int bursts = 0;
    int signals = 0;
    int burst_size = 0;
    bool ops_channels_given = false;
};

void use_smoke_settings(Settings &s)
{
    s.channels = {2};
    s.reps = 200;
    s.warmup = 20;
    s.recall_channels = {2};
    s.recall_reps = 100;
    s.recall_warmup = 10;
    s.throughput_channels = {2};
    s.throughput_seconds = 1.0;
    s.throughput_slices = 2;
    s.memory_channels = {2};
    s.growth_checkpoint = 10000;
    s.growth_signals = 20000;
    s.growth_sample_every = 5000;
    s.growth_compare_signals = 0;
    s.warm_signals = 5000;
    s.burst_signals = 2000;
    s.burst_channels = {2};
    s.bursts = 1;
    s.burst_size = 300;
    s.startup_channels = 2;
    s.startup_runs = 3;
}

std::vector<std::string> command_line(const char *text)
{
    std::vector<std::string> argv;
    gchar **parts = nullptr;
    if (g_shell_parse_argv(text, nullptr, &parts, nullptr)) {
        for (gchar **part = parts; *part; part++)
            argv.emplace_back(*part);
        g_strfreev(parts);
    }
    return argv;
}

bool parse(int argc, char **argv, Options &o)
{
    bool smoke = false;
    int i = 1;
    if (argc > 1 && strcmp(argv[1], "ops") == 0) {
        o.ops = true;
        i = 2;
    }
    for (; i < argc; i++) {
        const char *option = argv[i];
        const char *value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (strcmp(option, "--smoke") == 0) {
            smoke = true;
            continue;
        }
        if (!value)
            return false;
        i++;
        if (strcmp(option, "--service") == 0)
            o.settings.service = command_line(value);
        else if (strcmp(option, "--floor") == 0)
            o.settings.floor = command_line(value);
        else if (strcmp(option, "--compare") == 0)
            o.settings.compare = command_line(value);
        else if (strcmp(option, "--out") == 0)
            o.out = value;
        else if (strcmp(option, "--stages") == 0)
            o.stages = value;
        else if (strcmp(option, "--kind") == 0) {
            if (!kind_from_name(value, &o.ops_kind))
                return false;
        } else if (strcmp(option, "--channels") == 0) {
            o.ops_channels = atoi(value);
            o.ops_channels_given = true;
        } else if (strcmp(option, "--reps") == 0)
            o.reps = atoi(value);
        else if (strcmp(option, "--timeout") == 0)
            driver.timeout_ms = static_cast<guint>(atoi(value));
        else if (strcmp(option, "--signals") == 0)
            o.signals = atoi(value);
        else if (strcmp(option, "--bursts") == 0)
            o.bursts = atoi(value);
        else if (strcmp(option, "--burst-size") == 0)
            o.burst_size = atoi(value);
        else if (strcmp(option, "--pause") == 0)
            o.settings.idle_pause_ms = static_cast<guint>(atoi(value));
        else if (strcmp(option, "--gap") == 0)
            o.settings.gap_ms = static_cast<guint>(atoi(value));
        else if (strcmp(option, "--count") == 0)
            o.ops_count = static_cast<guint>(atoi(value));
        else
            return false;
    }
    if (smoke)
        use_smoke_settings(o.settings);
    // --channels, --reps, --signals, --bursts and --burst-size narrow a run down, as when
    // looking into one figure.
    if (!o.ops && o.ops_channels_given) {
        o.settings.channels = {o.ops_channels};
        o.settings.burst_channels = {o.ops_channels};
        o.settings.recall_channels = {o.ops_channels};
    }
    if (o.reps > 0) {
        o.settings.reps = static_cast<guint>(o.reps);
        o.settings.recall_reps = o.settings.reps;
    }
    if (o.signals > 0) {
        o.settings.growth_signals = static_cast<guint>(o.signals);
        o.settings.growth_checkpoint = MIN(o.settings.growth_checkpoint, o.settings.growth_signals);
    }
    if (o.bursts > 0)
        o.settings.bursts = static_cast<guint>(o.bursts);
    if (o.burst_size > 0)
        o.settings.burst_size = static_cast<guint>(o.burst_size);
    for (int k = 0; k < MIRROR_KIND_COUNT; k++)
        o.settings.kinds.push_back(static_cast<MirrorKind>(k));
    return !o.settings.service.empty() && (o.ops || (!o.settings.floor.empty() && !o.out.empty()));
}

bool stage_wanted(const Options &o, const char *stage)
{
    g_auto(GStrv) stages = g_strsplit(o.stages.c_str(), ",", -1);
    return g_strv_contains(stages, stage);
}

// N actions against one peer with every call checked; the peer's exit writes its profile.
bool run_ops(const Options &o)
{
    if (!open_camera(o.ops_channels, EchoRoute::BROADCAST))
        return false;
    Peer peer{"the profiled peer", o.settings.service};
    bool ok = start_peer(peer);
    MethodCounts echoes = service_echo_calls(o.ops_kind, o.ops_channels);
    for (guint rep = 0; ok && rep < o.ops_count; rep++) {
        gint32 source = 1 + static_cast<gint32>(rep % static_cast<guint>(o.ops_channels));
        ok = run_repetition(peer.bus_name, nullptr, o.ops_kind, source, rep, echoes) >= 0;
    }
    ok = ok && no_stray_calls();
    stop_peer(peer);
    close_camera();
    return ok && driver.failures.empty();
}

bool run_stages(const Options &o)
{
    using Stage = bool (*)(const Settings &, GString *);
    const std::pair<const char *, Stage> stages[] = {
        {"latency", run_latency}, {"recalls", run_recall_scale}, {"throughput", run_throughput},
        {"memory", run_memory},   {"bursts", run_bursts},        {"startup", run_startup},
    };
    GString *json = g_string_new("{\n  \"commands\": {");
    const std::pair<const char *, const std::vector<std::string> *> commands[] = {
        {"service", &o.settings.service},
        {"floor", &o.settings.floor},
        {"compare", &o.settings.compare},
    };
    for (const auto &command : commands) {
        std::string line;
        for (const std::string &arg : *command.second)
            line += (line.empty() ? "" : " ") + arg;
        g_autofree char *escaped = g_strescape(line.c_str(), nullptr);
        g_string_append_printf(json, "%s\"%s\": \"%s\"",
                               command.second == &o.settings.service ? "" : ", ", command.first,
                               escaped);
    }
    g_string_append(json, "}");
    bool ok = true;
    for (const auto &stage : stages) {
        if (!ok || !stage_wanted(o, stage.first))
            continue;
        g_string_append(json, json->len > 1 ? ",\n  " : "\n  ");
        ok = stage.second(o.settings, json);
    }
    g_string_append(json, json->len > 1 ? ",\n  \"failures\": [" : "\n  \"failures\": [");
    for (gsize i = 0; i < driver.failures.size(); i++) {
        g_autofree char *escaped = g_strescape(driver.failures[i].c_str(), nullptr);
        g_string_append_printf(json, "%s\"%s\"", i ? ", " : "", escaped);
    }
    g_string_append(json, "]\n}\n");
    GError *error = nullptr;
    if (!g_file_set_contents(o.out.c_str(), json->str, static_cast<gssize>(json->len), &error)) {
        g_printerr("bench: cannot write %s: %s\n", o.out.c_str(), error->message);
        g_error_free(error);
        ok = false;
    }
    g_string_free(json, TRUE);
    return ok && driver.failures.empty();
}

} // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!parse(argc, argv, options)) {
        g_printerr("usage: bench-driver --service CMD --floor CMD --out FILE [--smoke] "
                   "[--stages latency,recalls,throughput,memory,bursts,startup]\n"
                   "       bench-driver ops --service CMD --kind KIND --channels K --count N\n");
        return 2;
    }
    GError *error = nullptr;
    driver.connection = g_bus_get_sync(G_BUS_TYPE_SYSTEM, nullptr, &error);
    if (!driver.connection) {
        g_printerr("bench: no system bus: %s\n", error->message);
        g_error_free(error);
        return 1;
    }
    bool ok = options.ops ? run_ops(options) : run_stages(options);
    g_object_unref(driver.connection);
    return ok ? 0 : 1;
}
