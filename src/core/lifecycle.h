#pragma once

#include <glib.h>

// Sets up, subscribes and runs the main loop until SIGTERM; 0 when set-up succeeded, else 1.
int run_service();

// SIGTERM source: ends the main loop, or the process when no loop exists.
gboolean on_sigterm(gpointer user_data);
