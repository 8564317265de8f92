#pragma once

#include <glib.h>

#include "config_mirror/mirror_operations.h"
#include "core/other_channels.h"

// One update on its way through the other channels.
struct UpdateWalk {
    gint32 preset_id;
    const char *name; // the signal's, or the name the source shows now
    int set_home;
    float source_pan;
    float source_tilt;
    char *source_name; // owned, from the source's listing
    MirrorOutcome *outcome;
    int result;
};

// Reads the preset's entry on the source. False when there is nothing to bring the other channels
// in step with: the source does not show the preset, or shows it under another name and the
// change does not make it home (outcome->not_mirrored says which).
bool start_update_walk(UpdateWalk *walk, gint32 preset_id, const char *name, gint32 source_channel,
                       int set_home, MirrorOutcome *outcome);

void end_update_walk(UpdateWalk *walk);

// Brings one other channel in step with the source's entry; false when the walk must stop.
bool update_channel(UpdateWalk &walk, const OtherChannel &channel);
