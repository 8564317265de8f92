#include "core/lifecycle.h"

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <glib-unix.h>

#include "core/bus_setup.h"
#include "core/memory_return.h"
#include "core/readiness.h"
#include "core/service_state.h"
#include "core/subscriptions.h"

int run_service()
{
    ServiceState &s = service_state;
    s.main_loop = g_main_loop_new(nullptr, FALSE);
    bool ok = setup_bus();
    // A failed set-up leaves no subscription tables, so this subscribes nothing then.
    subscribe_channel_signals();
    if (ok)
        notify_ready(s.connection);
    g_main_loop_run(s.main_loop);
    int result = 1;
    if (s.connection) {
        unsubscribe_channel_signals();
        result = ok ? 0 : 1;
    }
    g_clear_pointer(&s.main_loop, g_main_loop_unref);
    return result;
}

gboolean on_sigterm(gpointer user_data)
{
    (void)user_data;
    if (!service_state.main_loop)
        exit(1);
    g_main_loop_quit(service_state.main_loop);
    return TRUE;
}

static std::atomic<bool> sigterm_arrived{false};
static struct sigaction source_action;

static_assert(std::atomic<bool>::is_always_lock_free, "the flag is set from a signal handler");

// Runs before the handler that wakes the SIGTERM source. Under a flood the main loop dispatches
// every queued signal before the source's turn; the handlers see this flag and skip them.
static void note_sigterm(int signal_number, siginfo_t *info, void *context)
{
    sigterm_arrived.store(true);
    if (source_action.sa_flags & SA_SIGINFO)
        source_action.sa_sigaction(signal_number, info, context);
    else if (source_action.sa_handler != SIG_DFL && source_action.sa_handler != SIG_IGN)
        source_action.sa_handler(signal_number);
}

void watch_sigterm()
{
    g_unix_signal_add(SIGTERM, on_sigterm, nullptr);
    struct sigaction noting {
    };
    noting.sa_sigaction = note_sigterm;
    noting.sa_flags = SA_SIGINFO | SA_RESTART;
    sigemptyset(&noting.sa_mask);
    sigaction(SIGTERM, &noting, &source_action);
}

bool take_signal()
{
    note_signal_taken();
    return !sigterm_arrived.load();
}
