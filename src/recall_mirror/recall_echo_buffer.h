#pragma once

#include <glib.h>

#include "core/service_state.h"

// What the recall records say about a recall of preset on channel.
enum class RecallMatch {
    NONE,   // a new recall
    ECHO,   // the echo of one of our gotos, which that channel owed a record
    REPEAT, // the newest recall repeated where it began
    LATE,   // the echo of a goto that a recall of the channel's own put in doubt: mirrored
};

// For ECHO and LATE, *index is the oldest record of preset the channel owes it.
RecallMatch match_recall(const RecallEchoBuffer *buffer, guint32 count, gint32 preset,
                         gint32 channel, guint32 *index);

// Takes the echo off record `index`; whatever the channel owed older records is not coming.
void take_recall_echo(RecallEchoBuffer *buffer, guint32 *count, guint32 index, gint32 channel);

// A recall of the channel's own, after our gotos there or before them: the echoes it still owed
// are put in doubt. Such an echo, if it comes after all, is mirrored and puts nothing in doubt.
void doubt_for_recall(RecallEchoBuffer *buffer, guint32 count, gint32 channel);
