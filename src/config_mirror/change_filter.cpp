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

// A channel's signals of every kind come in one order, so what it owes lapses across all three.
static gsize all_change_buffers(ChangeBufferRef *all)
{
    ServiceState &s = service_state;
    all[0] = {s.created_buffer, &s.created_count};
    all[1] = {s.updated_buffer, &s.updated_count};
    all[2] = {s.removed_buffer, &s.removed_count};
    return CHANGE_KIND_COUNT;
}

// Created and updated signals are matched against the records of both kinds: a platform may
// report a save again as a creation. Removals only against removals.
static const ChangeBufferRef *echo_search(guint32 kind, const ChangeBufferRef *all, gsize *count)
{
    *count = kind == PRESET_REMOVED ? 1 : 2;
    return kind == PRESET_REMOVED ? &all[2] : &all[0];
}

// One trace line per change: what arrived, e.g. `created preset 3 "Gate" on channel 2`, then
// the decision.
static void G_GNUC_PRINTF(6, 7)
    trace_change(guint32 kind, gint32 preset_id, const char *name, gint32 source_channel,
                 int set_home, const char *decision, ...)
{
    if (!trace_enabled())
        return;
    static const char *const verbs[] = {"created", "updated", "removed"};
    char verb[sizeof "changed (kind 4294967295)"];
    if (kind >= PRESET_CREATED && kind <= PRESET_REMOVED)
        g_strlcpy(verb, verbs[kind - 1], sizeof verb);
    else
        g_snprintf(verb, sizeof verb, "changed (kind %u)", kind);
    g_autofree char *subject =
        g_strdup_printf("%s preset %d \"%s\"%s on channel %d", verb, preset_id, name,
                        set_home ? " as home" : "", source_channel);
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
    gsize channel_index = static_cast<gsize>(source_channel - 1);
    ChangeBufferRef all[CHANGE_KIND_COUNT];
    gsize all_count = all_change_buffers(all);
    gsize searched_count = 0;
    const ChangeBufferRef *searched = echo_search(kind, all, &searched_count);
    SignalledChange change{kind, preset_id, name, set_home};
    OwedEcho found{};
    if (find_owed_echo(searched, searched_count, change, channel_index, false, &found)) {
        // Echoes of our own changes are dropped here; the match takes one owed echo off.
        guint32 still_owed = take_echo(found, all, all_count, channel_index);
        trace_change(kind, preset_id, name, source_channel, set_home,
                     "echo of our own change, %u more owed", still_owed);
        return 0;
    }
    // An echo in doubt that came after all is mirrored, and puts nothing in doubt.
    bool late_echo = find_owed_echo(searched, searched_count, change, channel_index, true, &found);
    if (late_echo)
        (void)take_echo(found, all, all_count, channel_index);
    else
        doubt_for_change(all, all_count, channel_index, change);
    WalkMeter meter = start_walk();
    // The walk notes what it is owed in the row of the record it may leave: the change's own
    // buffer always has room here.
    ChangeRecord &record = open_record(selected.buffer, *selected.count);
    MirrorOutcome outcome{};
    outcome.owed = owed_row(selected.buffer, *selected.count);
    int result = selected.mirror(preset_id, name, source_channel, set_home, &outcome);
    const char *applied_name = outcome.applied_name[0] != '\0' ? outcome.applied_name : name;
    // Whatever the walk's result: the echoes of the calls that succeeded come all the same.
    if (outcome.owed_echoes > 0) {
        fill_change_record(record, preset_id, applied_name, source_channel,
                           ++service_state.walk_serial, set_home, outcome.owed_echoes);
        keep_record(selected.count);
    }
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
