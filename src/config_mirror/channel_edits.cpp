#include "config_mirror/channel_edits.h"

#include "client/preset_calls.h"
#include "core/log_messages.h"

void owe_echo(MirrorOutcome *outcome, const OtherChannel &channel, guint8 echo)
{
    guint8 &owed = outcome->owed[channel.index];
    if (!(owed & echo))
        outcome->owed_echoes++;
    owed = static_cast<guint8>(owed | echo);
}

static bool save_by_number(const OtherChannel &channel, gint32 preset_id, int set_home)
{
    if (call_set_preset_number(channel.coordinator, preset_id, set_home))
        return true;
    log_warning("Failed to create preset (id %d set as Home: %s) on channel %u", preset_id,
                set_home ? "true" : "false", channel.number);
    return false;
}

bool save_again_by_number(const OtherChannel &channel, gint32 preset_id, MirrorOutcome *outcome)
{
    if (!save_by_number(channel, preset_id, 1))
        return false;
    owe_echo(outcome, channel, OWES_SAVED);
    return true;
}

// Counts the echo of a rename or update that succeeded, or logs the one that failed.
static bool G_GNUC_PRINTF(2, 0)
    count_named_edit(bool done, const char *failure_format, gint32 preset_id, const char *name,
                     const OtherChannel &channel, MirrorOutcome *outcome)
{
    if (done) {
        owe_echo(outcome, channel, OWES_NAMED);
        return true;
    }
    log_warning(failure_format, preset_id, name, channel.number);
    return false;
}

bool rename_on_channel(const OtherChannel &channel, gint32 preset_id, const char *name,
                       MirrorOutcome *outcome)
{
    return count_named_edit(call_rename_preset(channel.coordinator, preset_id, name),
                            "Failed to rename preset (id %d, name %s) on channel %u", preset_id,
                            name, channel, outcome);
}

bool update_on_channel(const OtherChannel &channel, gint32 preset_id, const char *name,
                       MirrorOutcome *outcome)
{
    bool done = call_without_result(channel.coordinator, "UpdatePreset",
                                    g_variant_new("(siis)", PRESET_ROLE, 0, preset_id, name));
    return count_named_edit(done, "Failed to update preset (id %d, name %s) on channel %u",
                            preset_id, name, channel, outcome);
}

bool create_by_number(const OtherChannel &channel, gint32 preset_id, const char *name, int set_home,
                      MirrorOutcome *outcome)
{
    if (!save_by_number(channel, preset_id, set_home))
        return false;
    owe_echo(outcome, channel, OWES_SAVED);
    if (is_default_name(preset_id, name))
        return true;
    return rename_on_channel(channel, preset_id, name, outcome);
}
