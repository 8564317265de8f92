#include "config_mirror/change_filter.h"

#include "config_mirror/change_echo_buffer.h"
#include "config_mirror/mirror_operations.h"
#include "core/service_state.h"

// Channels on which the change at hand was applied; each of them will echo it once.
static guint32 applied_channels;

void replace_applied_name(char **applied_name, const char *name)
{
    g_free(*applied_name);
    *applied_name = g_strdup(name);
}

void count_applied_channel()
{
    applied_channels++;
}

using MirrorOperation = int (*)(gint32, const char *, gint32, int, char **);

struct ChangeKind {
    ChangeEchoBuffer *buffer;
    guint32 *count;
    MirrorOperation mirror;
};

static bool select_kind(guint32 kind, ChangeKind *out)
{
    ServiceState &s = service_state;
    switch (kind) {
    case PRESET_CREATED:
        *out = {s.created_buffer, &s.created_count, mirror_created_preset};
        return true;
    case PRESET_UPDATED:
        *out = {s.updated_buffer, &s.updated_count, mirror_updated_preset};
        return true;
    case PRESET_REMOVED:
        *out = {s.removed_buffer, &s.removed_count, mirror_removed_preset};
        return true;
    default:
        return false;
    }
}

int filter_and_dispatch_change(guint32 kind, gint32 preset_id, const char *name,
                               gint32 source_channel, int set_home)
{
    ChangeKind selected;
    if (!select_kind(kind, &selected) || !selected.buffer || preset_id == 0 ||
        source_channel <= 0 || source_channel > service_state.channel_count)
        return 0;
    if (*selected.count >= MAX_BUFFER_SIGNAL_SIZE) {
        g_log(nullptr, G_LOG_LEVEL_WARNING,
              "%sReceived configuration_changed signals exceed MAX_BUFFER_SIGNAL_SIZE", LOG_PREFIX);
        clear_changes(selected.buffer, selected.count);
        return 0;
    }
    switch (
        match_oldest_change(selected.buffer, *selected.count, preset_id, name, source_channel)) {
    case EchoMatch::SAME_CHANNEL:
        return 0;
    case EchoMatch::OTHER_CHANNEL:
        // Echoes of our own changes are dropped here.
        remove_oldest_change(selected.buffer, selected.count);
        return 0;
    case EchoMatch::NONE:
        break;
    }
    g_autofree char *applied_name = nullptr;
    applied_channels = 0;
    int result = selected.mirror(preset_id, name, source_channel, set_home, &applied_name);
    if (!result || !applied_name)
        return result;
    // One record per channel that will echo the change, so that every echo is recognised:
    // an echo passed on as a new change would be applied again, and a home change, which is
    // saved again on every channel each time, would go round the channels for ever.
    for (guint32 i = 0; i < applied_channels && *selected.count < MAX_BUFFER_SIGNAL_SIZE; i++)
        append_change(selected.buffer, selected.count, preset_id, applied_name, source_channel);
    return result;
}
