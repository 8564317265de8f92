#include <cstring>

#include "client/preset_calls.h"
#include "client/preset_listing.h"
#include "config_mirror/channel_edits.h"
#include "config_mirror/mirror_operations.h"
#include "config_mirror/update_decision.h"
#include "config_mirror/update_walk.h"
#include "core/log_messages.h"
#include "core/other_channels.h"

namespace
{

void set_home_by_name(UpdateWalk &walk, const OtherChannel &channel)
{
    walk.result = call_set_preset_name(channel.coordinator, walk.name, 1);
    if (walk.result)
        owe_echo(walk.outcome, channel, OWES_NAMED_HOME);
    else
        log_warning("Failed to set preset (id %d, name %s, set as Home: %s) on channel %u",
                    walk.preset_id, walk.name, "true", channel.number);
}

void update_or_rename(UpdateWalk &walk, const OtherChannel &channel, bool moved)
{
    walk.result = moved ? update_on_channel(channel, walk.preset_id, walk.name, walk.outcome)
                        : rename_on_channel(channel, walk.preset_id, walk.name, walk.outcome);
}

// Whether the channel's listing already shows the preset under the walk's name, where the source
// has it.
bool holds_in_step(const UpdateWalk &walk, const OtherChannel &channel)
{
    g_autofree char *name = nullptr;
    float pan = 0.0f;
    float tilt = 0.0f;
    return lookup_preset_entry(walk.preset_id, channel.index, &name, &pan, &tilt) &&
           strcmp(walk.name, name) == 0 &&
           !position_moved(walk.source_pan, walk.source_tilt, pan, tilt);
}

// Saves the preset again by number as home, then gives it the name; false ends the walk. A
// platform may keep the name the preset had, so the name follows even when it is "Pos<N>"; but
// then the save may have given it that name already, and a platform may signal nothing for a call
// that changes nothing, leaving its echo owed for ever: the channel is looked at again first.
bool set_home_by_number(UpdateWalk &walk, const OtherChannel &channel, bool moved)
{
    walk.result = save_again_by_number(channel, walk.preset_id, walk.outcome);
    if (!walk.result)
        return false;
    if (is_default_name(walk.preset_id, walk.name) && holds_in_step(walk, channel))
        return true;
    update_or_rename(walk, channel, moved);
    return true;
}

} // namespace

bool update_channel(UpdateWalk &walk, const OtherChannel &channel)
{
    g_autofree char *name = nullptr;
    float pan = 0.0f;
    float tilt = 0.0f;
    bool found = lookup_preset_entry(walk.preset_id, channel.index, &name, &pan, &tilt);
    bool same_name = found && strcmp(walk.name, name) == 0;
    bool moved = found && position_moved(walk.source_pan, walk.source_tilt, pan, tilt);
    switch (decide_update_case(found, same_name, walk.set_home)) {
    case UpdateCase::MISSING:
        break;
    case UpdateCase::MISSING_HOME:
        // Saved by number, as a creation by number is, so that it keeps its number here.
        walk.result = create_by_number(channel, walk.preset_id, walk.name, 1, walk.outcome);
        break;
    case UpdateCase::SAME_NAME_HOME:
        set_home_by_name(walk, channel);
        break;
    case UpdateCase::SAME_NAME:
        if (moved)
            update_or_rename(walk, channel, true);
        break;
    case UpdateCase::OTHER_NAME:
        update_or_rename(walk, channel, moved);
        break;
    case UpdateCase::OTHER_NAME_HOME:
        return set_home_by_number(walk, channel, moved);
    }
    return true;
}

bool start_update_walk(UpdateWalk *walk, gint32 preset_id, const char *name, gint32 source_channel,
                       int set_home, MirrorOutcome *outcome)
{
    *walk = UpdateWalk{preset_id, name, set_home, 0.0f, 0.0f, nullptr, outcome, 0};
    // Nothing is done when the source's own listing does not show the preset.
    if (!lookup_preset_entry(preset_id, source_channel - 1, &walk->source_name, &walk->source_pan,
                             &walk->source_tilt)) {
        outcome->not_mirrored = "not listed on the source";
        return false;
    }
    // When it shows it under another name, the preset has changed there since, and that change
    // has a signal of its own: mirrored, a stale name would undo the later one (echoes whose
    // records a full buffer lost came back this way, each starting more of them). Only the
    // home is still to be made, under the name the source shows now.
    if (strcmp(walk->source_name, name) != 0) {
        if (!set_home) {
            outcome->not_mirrored = "stale, the source shows another name";
            return false;
        }
        walk->name = walk->source_name;
        copy_record_name(outcome->applied_name, walk->source_name);
    }
    return true;
}

void end_update_walk(UpdateWalk *walk)
{
    g_clear_pointer(&walk->source_name, g_free);
}

int mirror_updated_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome)
{
    UpdateWalk walk;
    if (start_update_walk(&walk, preset_id, name, source_channel, set_home, outcome))
        walk_other_channels(source_channel, [&](const OtherChannel &channel) {
            return update_channel(walk, channel);
        });
    end_update_walk(&walk);
    return walk.result;
}
