#pragma once

#include <glib.h>

#include "core/service_state.h"

// Bytes of a name that a record keeps: all of it up to 95 bytes, else as many as fit
// without splitting a UTF-8 character.
gsize record_name_length(const char *name);

// What the oldest record says about a change.
enum class EchoMatch {
    NONE,          // not an echo of the oldest record
    SAME_CHANNEL,  // the recorded source channel repeats its own change
    OTHER_CHANNEL, // the echo that another channel gives of the recorded change
};

EchoMatch match_oldest_change(const ChangeEchoBuffer *buffer, guint32 count, gint32 preset_id,
                              const char *name, gint32 channel);

void remove_oldest_change(ChangeEchoBuffer *buffer, guint32 *count);

// The caller makes sure a free slot exists.
void append_change(ChangeEchoBuffer *buffer, guint32 *count, gint32 preset_id, const char *name,
                   gint32 channel);

void clear_changes(ChangeEchoBuffer *buffer, guint32 *count);
