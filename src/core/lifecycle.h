#pragma once

#include <glib.h>

// Sets up, subscribes and runs the main loop until SIGTERM; 0 when set-up succeeded, else 1.
int run_service();

// SIGTERM source: ends the main loop, or the process when no loop exists.
gboolean on_sigterm(gpointer user_data);

// Installs the SIGTERM source, and notes the signal at once on its arrival, so that the signal
// handlers can tell before the source's turn comes.
void watch_sigterm();

// Called first by every signal handler: counts the signal taken in, and says whether to handle
// it. Once SIGTERM has arrived, the signals still queued are left unhandled.
bool take_signal();
