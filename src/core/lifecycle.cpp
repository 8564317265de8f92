#include "core/lifecycle.h"

#include <cstdlib>

#include "core/bus_setup.h"
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
