#include "config_mirror/change_filter.h"

#include <cstdarg>

#include "config_mirror/change_echo_buffer.h"
#include "config_mirror/mirror_operations.h"
#include "core/log_messages.h"
#include "core/service_state.h"
#include "core/trace.h"

using MirrorOperation = int (*)(gint32, const char *, gint32, int, MirrorOutcome *);

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

// One record per kind in which the walk's calls owe echoes, whatever the walk's result: the
// echoes of the calls that succeeded come all the same. The change's own kind always has room;
// another kind whose buffer is full keeps no record, and those echoes pass as changes.
static void record_echoes_owed(gint32 preset_id, const char *name, gint32 source_channel,
                               MirrorOutcome *outcome)
{
    for (guint32 kind = PRESET_CREATED; kind <= PRESET_REMOVED; kind++) {
        const EchoesOwed &owed = echoes_of_kind(outcome, kind);
        ChangeKind selected;
        if ((owed.named == 0 && owed.saved == 0) || !select_kind(kind, &selected) ||
            !selected.buffer || *selected.count >= MAX_BUFFER_SIGNAL_SIZE)
            continue;
        append_change(selected.buffer, selected.count, preset_id, name, source_channel, owed);
    }
}

// One trace line per change: what arrived, e.g. `created preset 3 "Gate" on channel 2`, then
// the decision.
static void G_GNUC_PRINTF(6, 7) trace_change(guint32 kind, gint32 preset_id, const char *name,
                                             gint32 source_channel, int set_home,
                                             const char *decision, ...)
{
    if (!trace_enabled())
        return;
    static const char *const verbs[] = {"created", "updated", "removed"};
    char verb[sizeof "changed (kind 4294967295)"];
    if (kind >= PRESET_CREATED && kind <= PRESET_REMOVED)
        g_strlcpy(verb, verbs[kind - 1], sizeof verb);
    else
        g_snprintf(verb, sizeof verb, "changed (kind %u)", kind);
    g_autofree char *subject = g_strdup_printf("%s preset %d \"%s\"%s on channel %d", verb,
                                               preset_id, name, set_home ? " as home" : "",
                                               source_channel);
    va_list args;
    va_start(args, decision);
    trace_vline(subject, decision, args);
    va_end(args);
}

int filter_and_dispatch_change(guint32 kind, gint32 preset_id, const char *name,
                               gint32 source_channel, int set_home)
{
    ChangeKind selected;
    if (!select_kind(kind, &selected) || !selected.buffer || preset_id == 0 ||
        source_channel <= 0 || source_channel > service_state.channel_count) {
        trace_change(kind, preset_id, name, source_channel, set_home, "ignored, invalid");
        return 0;
    }
    if (*selected.count >= MAX_BUFFER_SIGNAL_SIZE) {
        log_warning("Received configuration_changed signals exceed MAX_BUFFER_SIGNAL_SIZE");
        clear_records(selected.buffer, selected.count);
        trace_change(kind, preset_id, name, source_channel, set_home,
                     "dropped, full buffer emptied");
        return 0;
    }
    EchoMatch match = match_oldest_change(selected.buffer, *selected.count, preset_id, name,
                                          source_channel, set_home);
    if (match != EchoMatch::NONE) {
        // Echoes of our own changes are dropped here; the match takes one owed echo off.
        const ChangeRecord *oldest = oldest_record(selected.buffer, *selected.count);
        guint32 still_owed = oldest->echoes_owed + oldest->saves_owed - 1;
        consume_oldest_change(selected.buffer, selected.count, match);
        trace_change(kind, preset_id, name, source_channel, set_home,
                     "echo of our own change, %u more owed", still_owed);
        return 0;
    }
    WalkMeter meter = start_walk();
    MirrorOutcome outcome{};
    int result = selected.mirror(preset_id, name, source_channel, set_home, &outcome);
    const char *applied_name = outcome.applied_name[0] != '\0' ? outcome.applied_name : name;
    record_echoes_owed(preset_id, applied_name, source_channel, &outcome);
    if (outcome.not_mirrored)
        trace_change(kind, preset_id, name, source_channel, set_home, "not mirrored, %s, %s",
                     outcome.not_mirrored, walk_summary(meter).text);
    else if (applied_name != name)
        trace_change(kind, preset_id, name, source_channel, set_home, "mirrored as \"%s\", %s",
                     applied_name, walk_summary(meter).text);
    else
        trace_change(kind, preset_id, name, source_channel, set_home, "mirrored, %s",
                     walk_summary(meter).text);
    return result;
}
