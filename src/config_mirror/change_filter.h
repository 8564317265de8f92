#pragma once

#include <glib.h>

// Change kinds of PresetConfigurationChanged2.
constexpr guint32 PRESET_CREATED = 1;
constexpr guint32 PRESET_UPDATED = 2;
constexpr guint32 PRESET_REMOVED = 3;
constexpr guint32 CHANGE_KIND_COUNT = 3;

// Drops invalid changes and echoes of our own, mirrors the rest and records what was applied.
// Returns the mirror operation's result, 0 when nothing was dispatched.
int filter_and_dispatch_change(guint32 kind, gint32 preset_id, const char *name,
                               gint32 source_channel, int set_home);
