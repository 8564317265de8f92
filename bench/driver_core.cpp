#include <sys/prctl.h>
#include <sys/wait.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "driver.h"

Driver driver;

void pause_ms(guint milliseconds)
{
    wait_until([] { return false; }, milliseconds);
}

std::vector<std::string> with_argument(std::vector<std::string> argv, const char *argument)
{
    argv.emplace_back(argument);
    return argv;
}

void record_failure(const std::string &text)
{
    g_printerr("bench: %s\n", text.c_str());
    driver.failures.push_back(text);
}

bool no_stray_calls()
{
    pause_ms(100);
    if (driver.stray_calls == 0)
        return true;
    record_failure("a call came outside any repetition: " + driver.last_stray);
    return false;
}

static std::string describe(Method method, gint32 channel)
{
    return std::string(method_name(method)) + " on channel " + std::to_string(channel);
}

static void on_call(const CallReport *call, gpointer)
{
    Driver &d = driver;
    Repetition &r = d.rep;
    if (call->method == Method::GET_NUMBER_OF_CHANNELS) {
        d.newcomer = call->sender;
        return;
    }
    if (d.probed == call->sender) {
        d.probe_calls++;
        return;
    }
    if (!r.active || r.sender != call->sender) {
        d.stray_calls++;
        d.last_stray = describe(call->method, call->channel) + " from " + call->sender;
        return;
    }
    guint index = r.calls_seen++;

    if (!call->ok && r.mismatch.empty())
        r.mismatch = "call " + std::to_string(index + 1) +
                     " failed: " + describe(call->method, call->channel);
    if (index >= r.plan.size()) {
        r.echo_seen[static_cast<gsize>(call->method)]++;
        return;
    }
    const PlannedCall &planned = r.plan[index];
    if ((planned.method != call->method || planned.channel != call->channel) && r.mismatch.empty())
        r.mismatch = "call " + std::to_string(index + 1) + " was " +
                     describe(call->method, call->channel) + ", expected " +
                     describe(planned.method, planned.channel);
    if (index + 1 == r.plan.size())
        r.last_required_ns = call->time_ns;
}

bool open_camera(gint32 channels, EchoRoute route)
{
    driver.stand_in = stand_in_new(driver.connection, channels, LISTED_PRESETS, route);
    if (!driver.stand_in) {
        record_failure("the stand-in could not own its bus names");
        return false;
    }
    driver.stand_in->observer = on_call;
    driver.stray_calls = 0;
    return true;
}

void close_camera()
{
    g_clear_pointer(&driver.stand_in, stand_in_free);
}

static void on_peer_exit(GPid pid, gint status, gpointer data)
{
    auto *peer = static_cast<Peer *>(data);
    peer->running = false;
    peer->wait_status = status;
    g_spawn_close_pid(pid);
}

// A peer outlives no driver, however the driver ends.
static void die_with_parent(gpointer)
{
    prctl(PR_SET_PDEATHSIG, SIGTERM);
}

bool spawn_peer(Peer &peer)
{
    std::vector<char *> argv;
    for (std::string &arg : peer.argv)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    GError *error = nullptr;
    if (!g_spawn_async(nullptr, argv.data(), nullptr,
                       static_cast<GSpawnFlags>(G_SPAWN_DO_NOT_REAP_CHILD | G_SPAWN_SEARCH_PATH),
                       die_with_parent, nullptr, &peer.pid, &error)) {
        record_failure("cannot start " + peer.label + ": " + error->message);
        g_error_free(error);
        return false;
    }
    peer.running = true;
    g_child_watch_add(peer.pid, on_peer_exit, &peer);
    return true;
}

// A recall of the preset every channel reports: the service only reads the states, so the
// probe leaves nothing behind.
static void probe(const Peer &peer)
{
    ChannelModel &first = driver.stand_in->camera.channels[0];
    first.reported_preset = 1;
    stand_in_emit(driver.stand_in, peer.bus_name.c_str(),
                  {SignalKind::PRESET_STATE, 1, 1, first.reported_preset, "", false});
}

bool start_peer(Peer &peer)
{
    Driver &d = driver;
    d.newcomer.clear();
    if (!spawn_peer(peer))
        return false;
    const guint startup_limit_ms = 60000;
    if (!wait_until([&] { return !d.newcomer.empty() || !peer.running; }, startup_limit_ms) ||
        !peer.running) {
        record_failure(peer.label + " did not ask for the channel count");
        return false;
    }
    peer.bus_name = d.newcomer;
    d.probed = peer.bus_name;
    d.probe_calls = 0;
    // Signals reach a client only once its subscriptions exist, so probe until one does.
    gint64 limit = monotonic_ns() + gint64{startup_limit_ms} * 1000000;
    while (d.probe_calls == 0 && peer.running && monotonic_ns() < limit) {
        probe(peer);
        wait_until([&] { return d.probe_calls > 0; }, 20);
    }
    // Late probes may still be on their way: wait for a quiet spell.
    guint seen = 0;
    do {
        seen = d.probe_calls;
        pause_ms(100);
    } while (seen != d.probe_calls);
    d.probed.clear();
    d.stand_in->camera =
        make_camera(static_cast<gint32>(d.stand_in->camera.channels.size()), LISTED_PRESETS);
    if (seen == 0) {
        record_failure(peer.label + " never answered a recall");
        return false;
    }
    return true;
}

void stop_peer(Peer &peer)
{
    if (!peer.running)
        return;
    kill(peer.pid, SIGTERM);
    if (!wait_until([&] { return !peer.running; }, 60000)) {
        kill(peer.pid, SIGKILL);
        wait_until([&] { return !peer.running; }, 5000);
    }
    if (!WIFEXITED(peer.wait_status) || WEXITSTATUS(peer.wait_status) != 0)
        record_failure(peer.label + " did not exit cleanly after SIGTERM");
}

static std::string echo_difference(const Repetition &r)
{
    std::string text;
    for (int m = 0; m < METHOD_COUNT; m++) {
        if (r.echo_seen[static_cast<gsize>(m)] == r.echo_expected[static_cast<gsize>(m)])
            continue;
        text += std::string(" ") + method_name(static_cast<Method>(m)) + " " +
                std::to_string(r.echo_seen[static_cast<gsize>(m)]) + " (expected " +
                std::to_string(r.echo_expected[static_cast<gsize>(m)]) + ")";
    }
    return text;
}

gint64 run_repetition(const std::string &sender, const char *destination, MirrorKind kind,
                      gint32 source, guint rep, const MethodCounts &echo_expected)
{
    Driver &d = driver;
    CameraSignal action = prepare_repetition(d.stand_in->camera, kind, source, rep);
    gint32 channels = static_cast<gint32>(d.stand_in->camera.channels.size());
    Repetition &r = d.rep;
    r = Repetition{};
    r.sender = sender;
    r.plan = required_calls(kind, channels, source);
    r.echo_expected = echo_expected;
    r.total_expected = static_cast<guint>(r.plan.size()) + total_of(echo_expected);
    r.active = true;
    guint strays = d.stray_calls;
    gint64 start = monotonic_ns();
    stand_in_emit(d.stand_in, destination, action);
    bool settled = wait_until([&] { return r.calls_seen >= r.total_expected; }, d.timeout_ms);
    r.active = false;
    std::string where = std::string(kind_name(kind)) + ", " + std::to_string(channels) +
                        " channels, repetition " + std::to_string(rep) + ": ";
    if (!settled)
        r.mismatch = std::to_string(r.calls_seen) + " calls arrived, expected " +
                     std::to_string(r.total_expected) + ";" + echo_difference(r);
    else if (r.mismatch.empty() && r.echo_seen != r.echo_expected)
        r.mismatch = "echo handling made" + echo_difference(r);
    else if (r.mismatch.empty() && d.stray_calls != strays)
        r.mismatch = "an unexpected call arrived: " + d.last_stray;
    if (!r.mismatch.empty()) {
        record_failure(where + r.mismatch);
        return -1;
    }
    return r.last_required_ns - start;
}

gint64 begin_burst(const std::string &sender, const Burst &burst, const char *what)
{
    Driver &d = driver;
    Repetition &r = d.rep;
    r = Repetition{};
    r.sender = sender;
    r.plan = burst.calls;
    r.total_expected = static_cast<guint>(r.plan.size());
    r.active = true;
    d.burst_strays = d.stray_calls;
    gint64 start = monotonic_ns();
    for (const CameraSignal &signal : burst.signals)
        stand_in_emit(d.stand_in, nullptr, signal);
    // However long the burst takes, it fails only when no call comes for timeout_ms.
    auto done = [&] { return r.calls_seen >= r.total_expected || !r.mismatch.empty(); };
    guint seen = G_MAXUINT;
    while (!done() && seen != r.calls_seen) {
        seen = r.calls_seen;
        wait_until([&] { return done() || r.calls_seen != seen; }, d.timeout_ms);
    }
    if (r.mismatch.empty() && r.calls_seen < r.total_expected)
        r.mismatch = std::to_string(r.calls_seen) + " calls arrived, expected " +
                     std::to_string(r.total_expected);
    if (!r.mismatch.empty()) {
        r.active = false;
        record_failure(std::string(what) + ": " + r.mismatch);
        return -1;
    }
    return r.last_required_ns - start;
}

bool end_burst(const char *what, guint settle_ms)
{
    Driver &d = driver;
    Repetition &r = d.rep;
    pause_ms(settle_ms);
    r.active = false;
    if (r.mismatch.empty() && r.calls_seen != r.total_expected)
        r.mismatch = std::to_string(r.calls_seen - r.total_expected) +
                     " calls came after the last one required:" + echo_difference(r);
    else if (r.mismatch.empty() && d.stray_calls != d.burst_strays)
        r.mismatch = "an unexpected call arrived: " + d.last_stray;
    if (r.mismatch.empty())
        return true;
    record_failure(std::string(what) + ": " + r.mismatch);
    return false;
}

double percentile(const std::vector<double> &sorted, double fraction)
{
    if (sorted.empty())
        return 0.0;
    gsize rank = static_cast<gsize>(std::ceil(fraction * static_cast<double>(sorted.size())));
    return sorted[std::min(std::max<gsize>(rank, 1), sorted.size()) - 1];
}

static long field_kib(const char *line, const char *name)
{
    gsize length = strlen(name);
    if (strncmp(line, name, length) != 0)
        return -1;
    return strtol(line + length, nullptr, 10);
}

// Sums Private_Dirty per kind of mapping, from the mapping headers of smaps.
static void split_private_dirty(GPid pid, MemoryFigures *figures)
{
    g_autofree char *path = g_strdup_printf("/proc/%d/smaps", pid);
    FILE *smaps = fopen(path, "r");
    if (!smaps)
        return;
    char line[512];
    long *bucket = &figures->anonymous;
    while (fgets(line, sizeof line, smaps)) {
        long value = field_kib(line, "Private_Dirty:");
        if (value >= 0) {
            *bucket += value;
            continue;
        }
        unsigned long start = 0, end = 0;
        char name[256] = "";
        if (sscanf(line, "%lx-%lx %*s %*s %*s %*s %255s", &start, &end, name) < 2)
            continue;
        if (strcmp(name, "[heap]") == 0)
            bucket = &figures->heap;
        else if (strcmp(name, "[stack]") == 0)
            bucket = &figures->stack;
        else if (name[0] == '/')
            bucket = &figures->files;
        else
            bucket = &figures->anonymous;
    }
    fclose(smaps);
}

bool read_memory(GPid pid, MemoryFigures *figures)
{
    *figures = MemoryFigures{};
    g_autofree char *rollup_path = g_strdup_printf("/proc/%d/smaps_rollup", pid);
    g_autofree char *status_path = g_strdup_printf("/proc/%d/status", pid);
    g_autofree char *rollup = nullptr;
    g_autofree char *status = nullptr;
    if (!g_file_get_contents(rollup_path, &rollup, nullptr, nullptr) ||
        !g_file_get_contents(status_path, &status, nullptr, nullptr))
        return false;
    g_auto(GStrv) lines = g_strsplit(rollup, "\n", -1);
    for (gchar **line = lines; *line; line++) {
        long value = field_kib(*line, "Private_Dirty:");
        if (value >= 0)
            figures->private_dirty = value;
        value = field_kib(*line, "Rss:");
        if (value >= 0)
            figures->rss = value;
    }
    g_auto(GStrv) status_lines = g_strsplit(status, "\n", -1);
    for (gchar **line = status_lines; *line; line++) {
        long value = field_kib(*line, "VmHWM:");
        if (value >= 0)
            figures->hwm = value;
    }
    split_private_dirty(pid, figures);
    return true;
}
