#include "core/memory_return.h"

#include <glib.h>
#include <malloc.h>

// Signals handled since memory was last given back that make a burst.
static const guint BURST_SIGNALS = 256;

static guint taken_since_return;
static guint return_source;

void limit_allocator_arenas()
{
    mallopt(M_ARENA_MAX, 1);
}

// Runs at low priority, so only once every queued signal has been dispatched.
static gboolean give_memory_back(gpointer user_data)
{
    (void)user_data;
    malloc_trim(0);
    taken_since_return = 0;
    return_source = 0;
    return G_SOURCE_REMOVE;
}

void note_signal_taken()
{
    if (++taken_since_return < BURST_SIGNALS || return_source != 0)
        return;
    return_source = g_idle_add_full(G_PRIORITY_LOW, give_memory_back, nullptr, nullptr);
}
