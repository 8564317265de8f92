#pragma once

#include <glib.h>

#include "config_mirror/change_echo_buffer.h"
#include "config_mirror/change_filter.h"
#include "core/other_channels.h"

// What a mirror walk hands back besides its result: the echoes its successful calls will bring
// back, channel by channel, into the record the walk's change leaves.
struct MirrorOutcome {
    guint8 *owed; // by channel index: OWES_NAMED, OWES_SAVED, OWES_NAMED_HOME
    guint32 owed_echoes;
    // The name the named echoes carry, when the walk applied another than the signal's.
    char applied_name[RECORD_NAME_SIZE];
    // Why no channel was walked, when none was (for the trace).
    const char *not_mirrored;
};

// The channel will echo a call of ours that succeeded.
void owe_echo(MirrorOutcome *outcome, const OtherChannel &channel, guint8 echo);

// Each applies a change from source_channel to every other channel and returns the outcome of
// the last change it attempted (nonzero: applied); outcome (zeroed by the caller, its row
// cleared) receives the echoes owed, whatever the result.
int mirror_created_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome);
int mirror_updated_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome);
int mirror_removed_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          MirrorOutcome *outcome);
