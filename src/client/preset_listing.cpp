#include "client/preset_listing.h"

#include "client/listing_entry.h"
#include "client/preset_calls.h"
#include "core/log_messages.h"
#include "core/service_state.h"

// Fetches a channel's listing anew; null when the query failed or its reply is not "(as)".
static GVariant *query_presets(gint32 channel, gboolean with_positions)
{
    return call_preset_method(service_state.coordinator_proxies[channel], "QueryPresets",
                              g_variant_new("(sib)", PRESET_ROLE, 0, with_positions), "(as)");
}

int preset_slot_on_channel(gint32 preset_id, gint32 channel, bool *numbers_run_below)
{
    // An unreadable listing cannot show that the number follows: by name, the platform might give
    // the preset another number there, and its echo would then go round the channels.
    if (numbers_run_below)
        *numbers_run_below = false;
    g_autoptr(GVariant) listing = query_presets(channel, FALSE);
    if (!listing) {
        log_warning("Failed to query presets");
        return 0;
    }
    if (numbers_run_below)
        *numbers_run_below = preset_id > 0 && listing_numbers_run_to(listing, preset_id - 1);
    return listing_holds_number(listing, preset_id) ? 1 : 0;
}

int preset_exists_on_channel(gint32 preset_id, gint32 channel)
{
    return preset_slot_on_channel(preset_id, channel, nullptr);
}

int lookup_preset_entry(gint32 preset_id, gint32 channel, char **name, float *pan, float *tilt)
{
    g_autoptr(GVariant) listing = query_presets(channel, TRUE);
    if (!listing) {
        log_warning("Failed to query presets for preset (id: %d) on channel %d", preset_id,
                    channel + 1);
        return 0;
    }
    ListingEntry entry;
    if (!listing_find_entry(listing, preset_id, &entry))
        return 0;
    *name = g_strdup(entry.name);
    *pan = entry.pan;
    *tilt = entry.tilt;
    return 1;
}
