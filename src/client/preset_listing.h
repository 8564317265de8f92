#pragma once

#include <glib.h>

// 1 when the listing of channel index `channel` holds preset_id, else 0 (also when the
// listing could not be fetched).
int preset_exists_on_channel(gint32 preset_id, gint32 channel);

// As preset_exists_on_channel; besides, *numbers_run_below (when given) says whether the channel
// holds exactly the numbers 1 to preset_id - 1, so that a preset saved there by name takes
// preset_id whatever free number the platform picks (false when the listing cannot be read).
int preset_slot_on_channel(gint32 preset_id, gint32 channel, bool *numbers_run_below);

// 1 when the listing of channel index `channel` holds a readable entry for preset_id; only
// then are name (a new string for the caller), pan and tilt written.
int lookup_preset_entry(gint32 preset_id, gint32 channel, char **name, float *pan, float *tilt);
