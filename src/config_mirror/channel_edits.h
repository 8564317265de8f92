#pragma once

#include <gio/gio.h>

#include "config_mirror/mirror_operations.h"

// Calls that change a preset on one other channel (1-based `channel`); each logs its own
// failure and, on success, counts the echo that the channel will send.

// SetPresetNumber on a channel that holds the preset under former_name: it echoes as an update,
// under "Pos<N>" or, on a platform that keeps names, under former_name.
bool save_again_by_number(GDBusProxy *proxy, gint32 preset_id, const char *former_name,
                          guint channel, MirrorOutcome *outcome);

bool rename_on_channel(GDBusProxy *proxy, gint32 preset_id, const char *name, guint channel,
                       MirrorOutcome *outcome);

bool update_on_channel(GDBusProxy *proxy, gint32 preset_id, const char *name, guint channel,
                       MirrorOutcome *outcome);

// A preset saved by number bears "Pos<N>"; unless that is its name, a rename gives it the name.
// Returns the outcome of the last call made, as a creation counts it.
bool create_by_number(GDBusProxy *proxy, gint32 preset_id, const char *name, int set_home,
                      guint channel, MirrorOutcome *outcome);
