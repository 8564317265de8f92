#pragma once

#include <glib.h>

// Each applies a change from source_channel to every other channel. Nonzero when the change
// counts as applied; applied_name (null on entry, the caller's afterwards) then holds the
// name its echoes are expected to carry.
int mirror_created_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          char **applied_name);
int mirror_updated_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          char **applied_name);
int mirror_removed_preset(gint32 preset_id, const char *name, gint32 source_channel, int set_home,
                          char **applied_name);

// Called once for each channel on which a call that the channel will echo succeeded.
void count_applied_channel();

// Replaces the caller's applied name with a copy of name.
void replace_applied_name(char **applied_name, const char *name);
