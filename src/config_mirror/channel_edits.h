#pragma once

#include <gio/gio.h>

#include "config_mirror/mirror_operations.h"
#include "core/other_channels.h"

// Calls that change a preset on one other channel; each logs its own failure and, on success,
// notes the echo that the channel will send.

// SetPresetNumber as home on a channel that holds the preset: it echoes flagged home, under
// "Pos<N>" or, on a platform that keeps names, the name the preset had.
bool save_again_by_number(const OtherChannel &channel, gint32 preset_id, MirrorOutcome *outcome);

bool rename_on_channel(const OtherChannel &channel, gint32 preset_id, const char *name,
                       MirrorOutcome *outcome);

bool update_on_channel(const OtherChannel &channel, gint32 preset_id, const char *name,
                       MirrorOutcome *outcome);

// A preset saved by number bears "Pos<N>"; unless that is its name, a rename gives it the name.
// Returns the outcome of the last call made, as a creation counts it.
bool create_by_number(const OtherChannel &channel, gint32 preset_id, const char *name, int set_home,
                      MirrorOutcome *outcome);
