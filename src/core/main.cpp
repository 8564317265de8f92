#include <cstdlib>

#include "core/bus_setup.h"
#include "core/lifecycle.h"
#include "core/log_messages.h"
#include "core/memory_return.h"
#include "core/service_state.h"
#include "ov_log.h"

int main()
{
    limit_allocator_arenas();
    ov_log_syslog();
    watch_sigterm();
    int status = run_service();
    if (status != 0)
        log_message(LOG_LEVEL_START_FAILURE,
                    "Could not start service due to failure in DBus setup!");
    release_service_state();
    ov_log_cleanup();
    exit(status);
}
