#include "client/preset_calls.h"
#include "client/preset_listing.h"
#include "config_mirror/channel_edits.h"
#include "config_mirror/mirror_operations.h"
#include "core/service_state.h"

// Number of presets the source channel reports, 0 when it cannot be read.
static gsize source_preset_count(gint32 source_channel)
{
    g_autoptr(GVariant) reply = call_preset_method(
        service_state.channel_proxies[source_channel - 1], "GetPresets", nullptr, "(ua(us))");
    if (!reply) {
        g_log(nullptr, G_LOG_LEVEL_WARNING, "%sFailed to get number of existing presets",
              LOG_PREFIX);
        return 0;
    }
    g_autoptr(GVariant) presets = g_variant_get_child_value(reply, 1);
    return g_variant_n_children(presets);
}

static int create_by_name(GDBusProxy *proxy, gint32 preset_id, const char *name, int set_home,
                          guint channel, MirrorOutcome *outcome)
{
    if (call_set_preset_name(proxy, name, set_home)) {
        echoes_of_kind(outcome, PRESET_CREATED).named++;
        return 1;
    }
    g_log(nullptr, G_LOG_LEVEL_WARNING,
          "%sFailed to create preset (id %d, name %s set_home %s) on channel %u", LOG_PREFIX,
          preset_id, name, set_home ? "true" : "false", channel);
    return 0;
}

int mirror_created_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome)
{
    gsize preset_count = source_preset_count(source_channel);
    bool source_numbers_run = preset_id >= 0 && static_cast<gsize>(preset_id) == preset_count;
    int result = 0;
    for (gint32 i = 0; i < service_state.channel_count; i++) {
        bool numbers_run_below = false;
        if (i == source_channel - 1 ||
            preset_slot_on_channel(preset_id, i, source_numbers_run ? &numbers_run_below : nullptr))
            continue;
        GDBusProxy *proxy = service_state.coordinator_proxies[i];
        guint channel = static_cast<guint>(i + 1);
        // By name only where any free number the platform picks is this one; by number, the
        // preset keeps its number whatever gaps the channel has.
        if (numbers_run_below)
            result = create_by_name(proxy, preset_id, name, set_home, channel, outcome);
        else
            result = create_by_number(proxy, preset_id, name, set_home, channel, outcome);
    }
    return result;
}
