#pragma once

#include <gio/gio.h>

#include "core/service_state.h"

// One channel a change or a recall is applied to.
struct OtherChannel {
    gint32 index; // into the per-channel tables
    guint number; // as logs name it, from 1
    GDBusProxy *coordinator;
};

// Calls visit(const OtherChannel &) for every channel but source_channel (a number from 1), in
// order, until it returns false.
template <typename Visit> void walk_other_channels(gint32 source_channel, Visit visit)
{
    for (gint32 index = 0; index < service_state.channel_count; index++) {
        if (index == source_channel - 1)
            continue;
        OtherChannel channel{index, static_cast<guint>(index + 1),
                             service_state.coordinator_proxies[index]};
        if (!visit(channel))
            return;
    }
}
