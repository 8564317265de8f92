#include "client/preset_calls.h"
#include "client/preset_listing.h"
#include "config_mirror/channel_edits.h"
#include "config_mirror/mirror_operations.h"
#include "config_mirror/update_walk.h"
#include "core/log_messages.h"
#include "core/other_channels.h"

// Number of presets the source channel reports, 0 when it cannot be read.
static gsize source_preset_count(gint32 source_channel)
{
    g_autoptr(GVariant) reply = call_preset_method(
        service_state.channel_proxies[source_channel - 1], "GetPresets", nullptr, "(ua(us))");
    if (!reply) {
        log_warning("Failed to get number of existing presets");
        return 0;
    }
    g_autoptr(GVariant) presets = g_variant_get_child_value(reply, 1);
    return g_variant_n_children(presets);
}

static int create_by_name(const OtherChannel &channel, gint32 preset_id, const char *name,
                          int set_home, MirrorOutcome *outcome)
{
    if (call_set_preset_name(channel.coordinator, name, set_home)) {
        owe_echo(outcome, channel, set_home ? OWES_NAMED_HOME : OWES_NAMED);
        return 1;
    }
    log_warning("Failed to create preset (id %d, name %s set_home %s) on channel %u", preset_id,
                name, set_home ? "true" : "false", channel.number);
    return 0;
}

// A channel that already holds the number is brought in step as an update of the preset would
// bring it; the source's entry is read once, at the first such channel.
struct InStepWalk {
    UpdateWalk update;
    bool started;
    bool usable;
};

static void bring_in_step(InStepWalk &walk, gint32 preset_id, const char *name,
                          gint32 source_channel, int set_home, const OtherChannel &channel,
                          MirrorOutcome *outcome, int *result)
{
    if (!walk.started) {
        walk.started = true;
        walk.usable =
            start_update_walk(&walk.update, preset_id, name, source_channel, set_home, outcome);
    }
    if (!walk.usable)
        return;
    walk.update.result = *result;
    update_channel(walk.update, channel);
    *result = walk.update.result;
}

int mirror_created_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome)
{
    gsize preset_count = source_preset_count(source_channel);
    bool source_numbers_run = preset_id >= 0 && static_cast<gsize>(preset_id) == preset_count;
    int result = 0;
    bool created = false;
    InStepWalk in_step{};
    walk_other_channels(source_channel, [&](const OtherChannel &channel) {
        bool numbers_run_below = false;
        if (preset_slot_on_channel(preset_id, channel.index,
                                   source_numbers_run ? &numbers_run_below : nullptr)) {
            bring_in_step(in_step, preset_id, name, source_channel, set_home, channel, outcome,
                          &result);
            return true;
        }
        // By name only where any free number the platform picks is this one; by number, the
        // preset keeps its number whatever gaps the channel has.
        if (numbers_run_below)
            result = create_by_name(channel, preset_id, name, set_home, outcome);
        else
            result = create_by_number(channel, preset_id, name, set_home, outcome);
        created = true;
        return true;
    });
    if (in_step.started)
        end_update_walk(&in_step.update);
    // The channels created here carry the signal's name.
    if (created) {
        outcome->applied_name[0] = '\0';
        outcome->not_mirrored = nullptr;
    }
    return result;
}
