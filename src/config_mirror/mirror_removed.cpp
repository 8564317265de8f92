#include "client/preset_calls.h"
#include "client/preset_listing.h"
#include "config_mirror/channel_edits.h"
#include "config_mirror/mirror_operations.h"
#include "core/service_state.h"

int mirror_removed_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome)
{
    (void)set_home;
    int result = 0;
    for (gint32 i = 0; i < service_state.channel_count; i++) {
        if (i == source_channel - 1 || !preset_exists_on_channel(preset_id, i))
            continue;
        // The number decides which channels are asked; the preset goes by its name.
        result = call_without_result(service_state.coordinator_proxies[i], "RemovePresetName",
                                     g_variant_new("(sis)", PRESET_ROLE, 0, name));
        if (result)
            echoes_of_kind(outcome, PRESET_REMOVED).named++;
        else
            g_log(nullptr, G_LOG_LEVEL_WARNING,
                  "%sFailed to remove preset (id %d,  name %s) on channel %u", LOG_PREFIX,
                  preset_id, name, static_cast<guint>(i + 1));
    }
    return result;
}
