#pragma once

#include <glib.h>

#include "core/service_state.h"

// What the oldest recall record says about a recall of preset on channel.
enum class RecallMatch {
    NONE,          // a new recall
    SAME_CHANNEL,  // the recall repeated where it began
    OTHER_CHANNEL, // the echo of our own recall from another channel
};

RecallMatch match_oldest_recall(const RecallEchoBuffer *buffer, guint32 count, gint32 preset,
                                gint32 channel);
// The caller makes sure a free slot exists.
void append_recall(RecallEchoBuffer *buffer, guint32 *count, gint32 preset, gint32 channel);
