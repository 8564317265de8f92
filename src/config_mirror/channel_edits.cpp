#include "config_mirror/channel_edits.h"

#include "client/preset_calls.h"
#include "core/service_state.h"

EchoesOwed &echoes_of_kind(MirrorOutcome *outcome, guint32 kind)
{
    return outcome->echoes[kind - PRESET_CREATED];
}

static bool save_by_number(GDBusProxy *proxy, gint32 preset_id, int set_home, guint channel)
{
    if (call_set_preset_number(proxy, preset_id, set_home))
        return true;
    g_log(nullptr, G_LOG_LEVEL_WARNING,
          "%sFailed to create preset (id %d set as Home: %s) on channel %u", LOG_PREFIX, preset_id,
          set_home ? "true" : "false", channel);
    return false;
}

// SetPresetNumber on a channel that lacks the preset: it echoes as a creation.
static bool save_new_by_number(GDBusProxy *proxy, gint32 preset_id, int set_home, guint channel,
                               MirrorOutcome *outcome)
{
    if (!save_by_number(proxy, preset_id, set_home, channel))
        return false;
    echoes_of_kind(outcome, PRESET_CREATED).saved++;
    return true;
}

bool save_again_by_number(GDBusProxy *proxy, gint32 preset_id, const char *former_name,
                          guint channel, MirrorOutcome *outcome)
{
    if (!save_by_number(proxy, preset_id, 1, channel))
        return false;
    EchoesOwed &owed = echoes_of_kind(outcome, PRESET_UPDATED);
    owed.saved++;
    if (owed.saved_name[0] == '\0')
        copy_record_name(owed.saved_name, former_name);
    return true;
}

// Counts the echo of a rename or update that succeeded, or logs the one that failed.
static bool count_named_edit(bool done, const char *failure_format, gint32 preset_id,
                             const char *name, guint channel, MirrorOutcome *outcome)
{
    if (done) {
        echoes_of_kind(outcome, PRESET_UPDATED).named++;
        return true;
    }
    g_log(nullptr, G_LOG_LEVEL_WARNING, failure_format, LOG_PREFIX, preset_id, name, channel);
    return false;
}

bool rename_on_channel(GDBusProxy *proxy, gint32 preset_id, const char *name, guint channel,
                       MirrorOutcome *outcome)
{
    return count_named_edit(call_rename_preset(proxy, preset_id, name),
                            "%sFailed to rename preset (id %d, name %s) on channel %u", preset_id,
                            name, channel, outcome);
}

bool update_on_channel(GDBusProxy *proxy, gint32 preset_id, const char *name, guint channel,
                       MirrorOutcome *outcome)
{
    bool done = call_without_result(proxy, "UpdatePreset",
                                    g_variant_new("(siis)", PRESET_ROLE, 0, preset_id, name));
    return count_named_edit(done, "%sFailed to update preset (id %d, name %s) on channel %u",
                            preset_id, name, channel, outcome);
}

bool create_by_number(GDBusProxy *proxy, gint32 preset_id, const char *name, int set_home,
                      guint channel, MirrorOutcome *outcome)
{
    if (!save_new_by_number(proxy, preset_id, set_home, channel, outcome))
        return false;
    if (is_default_name(preset_id, name))
        return true;
    return rename_on_channel(proxy, preset_id, name, channel, outcome);
}
