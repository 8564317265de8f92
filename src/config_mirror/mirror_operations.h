#pragma once

#include <glib.h>

#include "config_mirror/change_echo_buffer.h"
#include "config_mirror/change_filter.h"

// What a mirror walk hands back besides its result: the echoes that its successful calls will
// bring back, by change kind. A walk of one kind can cause echoes of another: a creation by
// number followed by a rename also echoes as an update.
struct MirrorOutcome {
    EchoesOwed echoes[CHANGE_KIND_COUNT];
    // The name the named echoes carry, when the walk applied another than the signal's.
    char applied_name[RECORD_NAME_SIZE];
    // Why no channel was walked, when none was (for the trace).
    const char *not_mirrored;
};

// The outcome's echoes of a kind from PRESET_CREATED to PRESET_REMOVED.
EchoesOwed &echoes_of_kind(MirrorOutcome *outcome, guint32 kind);

// Each applies a change from source_channel to every other channel and returns the outcome of
// the last change it attempted (nonzero: applied); outcome (zeroed by the caller) receives the
// echoes owed, whatever the result.
int mirror_created_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome);
int mirror_updated_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome);
int mirror_removed_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome);
