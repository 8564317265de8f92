#include "client/preset_listing.h"

#include "client/listing_entry.h"
#include "client/preset_calls.h"
#include "core/service_state.h"

// Fetches a channel's listing anew; null when the query failed or its reply is not "(as)".
static GVariant *query_presets(gint32 channel, gboolean with_positions)
{
    return call_preset_method(service_state.coordinator_proxies[channel], "QueryPresets",
                              g_variant_new("(sib)", PRESET_ROLE, 0, with_positions), "(as)");
}

int preset_exists_on_channel(gint32 preset_id, gint32 channel)
{
    g_autoptr(GVariant) reply = query_presets(channel, FALSE);
    if (!reply) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "%sFailed to query presets", LOG_PREFIX);
        return 0;
    }
    g_autoptr(GVariantIter) entries = nullptr;
    g_variant_get(reply, "(as)", &entries);
    const char *entry = nullptr;
    while (g_variant_iter_next(entries, "&s", &entry)) {
        gint32 number = 0;
        // The first entry that carries a readable number decides.
        if (scan_entry_number(entry, &number) && number == preset_id)
            return 1;
    }
    return 0;
}

int lookup_preset_entry(gint32 preset_id, gint32 channel, char **name, float *pan, float *tilt)
{
    g_autoptr(GVariant) reply = query_presets(channel, TRUE);
    if (!reply) {
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sFailed to query presets for preset (id: %d) on channel %d", LOG_PREFIX,
              preset_id, channel + 1);
        return 0;
    }
    g_autoptr(GVariantIter) entries = nullptr;
    g_variant_get(reply, "(as)", &entries);
    const char *text = nullptr;
    while (g_variant_iter_next(entries, "&s", &text)) {
        ListingEntry entry;
        // Unreadable entries are skipped, so a later good entry of the same number is found.
        if (scan_entry_full(text, &entry) && entry.number == preset_id) {
            *name = g_strdup(entry.name);
            *pan = entry.pan;
            *tilt = entry.tilt;
            return 1;
        }
    }
    return 0;
}
