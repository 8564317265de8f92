#include "client/preset_calls.h"
#include "client/preset_listing.h"
#include "config_mirror/mirror_operations.h"
#include "core/log_messages.h"
#include "core/other_channels.h"

int mirror_removed_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome)
{
    (void)set_home;
    int result = 0;
    walk_other_channels(source_channel, [&](const OtherChannel &channel) {
        if (!preset_exists_on_channel(preset_id, channel.index))
            return true;
        // The number decides which channels are asked; the preset goes by its name.
        result = call_without_result(channel.coordinator, "RemovePresetName",
                                     g_variant_new("(sis)", PRESET_ROLE, 0, name));
        if (result)
            owe_echo(outcome, channel, OWES_NAMED);
        else
            log_warning("Failed to remove preset (id %d,  name %s) on channel %u", preset_id, name,
                        channel.number);
        return true;
    });
    return result;
}
