#pragma once

#include <gio/gio.h>

#include <string>
#include <vector>

#include "call_plan.h"
#include "stand_in.h"

// A process under test: the service or a floor client.
struct Peer {
    Peer(std::string name, std::vector<std::string> command)
        : label(std::move(name)), argv(std::move(command))
    {
    }
    std::string label;
    std::vector<std::string> argv;
    GPid pid = 0;
    std::string bus_name;
    bool running = false;
    int wait_status = 0;
};

// The calls one action is expected to cause, and what has arrived of them.
struct Repetition {
    bool active = false;
    std::string sender;
    std::vector<PlannedCall> plan;
    MethodCounts echo_expected{};
    MethodCounts echo_seen{};
    guint calls_seen = 0;
    guint total_expected = 0;
    gint64 last_required_ns = 0;
    std::string mismatch;
};

struct Driver {
    GDBusConnection *connection = nullptr;
    StandIn *stand_in = nullptr;
    Repetition rep;
    std::string newcomer; // sender of the latest GetNumberOfChannels
    std::string probed;   // a peer whose readiness is being probed
    guint probe_calls = 0;
    guint stray_calls = 0; // calls outside any repetition
    guint burst_strays = 0;
    std::string last_stray;
    std::vector<std::string> failures;
    guint timeout_ms = 5000; // the longest wait for one repetition
};

extern Driver driver;

// Runs the main context until done() holds or timeout_ms pass; false on a time-out.
template <typename Done> bool wait_until(Done done, guint timeout_ms)
{
    bool timed_out = false;
    guint source = g_timeout_add(
        timeout_ms,
        [](gpointer flag) -> gboolean {
            *static_cast<bool *>(flag) = true;
            return G_SOURCE_REMOVE;
        },
        &timed_out);
    while (!done() && !timed_out)
        g_main_context_iteration(nullptr, TRUE);
    if (!timed_out)
        g_source_remove(source);
    return done();
}

void pause_ms(guint milliseconds);

// Starts a stand-in for K channels and makes the driver its observer.
bool open_camera(gint32 channels, EchoRoute route);
void close_camera();

// Spawns the peer, learns its bus name from its first call and waits until it answers a
// recall; false when it does not.
bool start_peer(Peer &peer);
// Spawns only; the caller waits for whatever marks it ready.
bool spawn_peer(Peer &peer);
void stop_peer(Peer &peer);

// Emits the action of repetition `rep` for `kind` on `source` to `destination` (all when
// null), waits until `sender` has made every call expected and checks them. Returns the time
// from the emission to the last required call, or -1 after recording a failure.
gint64 run_repetition(const std::string &sender, const char *destination, MirrorKind kind,
                      gint32 source, guint rep, const MethodCounts &echo_expected);

// Emits every signal of the burst to all, with no round trip between them, waits until
// `sender` has made every call the burst requires, in order, then calls handled() at once,
// waits settle_ms and fails on any call beyond them. Returns the time from the first
// emission to the last required call, or -1 after recording a failure.
template <typename Handled>
gint64 run_burst(const std::string &sender, const Burst &burst, const char *what, guint settle_ms,
                 Handled handled);
gint64 begin_burst(const std::string &sender, const Burst &burst, const char *what);
bool end_burst(const char *what, guint settle_ms);

template <typename Handled>
gint64 run_burst(const std::string &sender, const Burst &burst, const char *what, guint settle_ms,
                 Handled handled)
{
    gint64 ns = begin_burst(sender, burst, what);
    if (ns < 0)
        return -1;
    handled();
    return end_burst(what, settle_ms) ? ns : -1;
}

void record_failure(const std::string &text);

// Waits a moment and fails when any call came outside a repetition since the camera opened.
bool no_stray_calls();

// Percentile by nearest rank of values sorted ascending.
double percentile(const std::vector<double> &sorted, double fraction);

// Private_Dirty and friends of a process, in KiB.
struct MemoryFigures {
    long private_dirty = 0;
    long rss = 0;
    long hwm = 0;
    long heap = 0;      // [heap]: the main thread's allocations
    long anonymous = 0; // unnamed mappings: other threads' allocator arenas, thread stacks
    long stack = 0;
    long files = 0; // relocated and written pages of the binary and its libraries
};
bool read_memory(GPid pid, MemoryFigures *figures);

// Each stage appends its JSON object to `json`; false when a check failed.
struct Settings {
    std::vector<gint32> channels{2, 4, 8, 16};
    std::vector<MirrorKind> kinds;
    guint reps = 1000;
    guint warmup = 50;
    guint gap_ms = 1;
    // Recalls alone at high channel counts, the calls each one cost counted.
    std::vector<gint32> recall_channels{16, 64, 72};
    guint recall_reps = 500;
    guint recall_warmup = 20;
    std::vector<gint32> throughput_channels{4, 16};
    double throughput_seconds = 10.0;
    guint throughput_slices = 10;
    std::vector<gint32> memory_channels{4, 16};
    gint32 growth_channels = 4;
    guint growth_checkpoint = 1000000; // the growth goal's span, from the warmed-up point
    guint growth_signals = 10000000;
    guint growth_sample_every = 50000;
    guint growth_compare_signals = 1000000; // the comparison's growth run; 0: none
    guint warm_signals = 10000;
    guint burst_signals = 20000; // noise after the growth rounds
    std::vector<gint32> burst_channels{4, 16};
    guint bursts = 3;          // of each kind
    guint burst_size = 10000;  // signals per burst
    guint idle_pause_ms = 500; // after a burst, for the low-priority trim to have run

    gint32 startup_channels = 16;
    guint startup_runs = 30;
    std::vector<std::string> service; // command lines
    std::vector<std::string> floor;
    // The service started another way (without the environment its unit gives it), for one
    // burst of each kind and a shorter growth run beside the main figures; empty: none.
    std::vector<std::string> compare;
};

std::vector<std::string> with_argument(std::vector<std::string> argv, const char *argument);

bool run_latency(const Settings &settings, GString *json);
bool run_recall_scale(const Settings &settings, GString *json);
bool run_throughput(const Settings &settings, GString *json);
bool run_memory(const Settings &settings, GString *json);
bool run_startup(const Settings &settings, GString *json);
bool run_bursts(const Settings &settings, GString *json);

// Appends "label": {private_dirty_kib, ...}.
void append_figures(GString *json, const char *label, const MemoryFigures &m);
bool measure(const Peer &peer, MemoryFigures *figures);
