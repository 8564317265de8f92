#pragma once

#include <glib.h>

#include "core/service_state.h"

// Bytes of a name that a record keeps: all of it up to 95 bytes, else as many as fit
// without splitting a UTF-8 character.
gsize record_name_length(const char *name);

// The echoes that one walk's calls will bring back in one kind of change.
struct EchoesOwed {
    guint32 named; // carrying the change's own name
    guint32 saved; // of saves by number, under "Pos<N>" or the name the preset had there
    // That name, from the first save by number of a preset the channel already held.
    char saved_name[RECORD_NAME_SIZE];
};

// Which of the oldest record's owed echoes a change is.
enum class EchoMatch {
    NONE,  // no echo of the oldest record: a change of its own
    NAMED, // an echo under the change's own name
    SAVED, // the echo of a save by number
};

// Only the oldest record is compared, and never with a signal from its own source channel:
// our walks leave that channel alone, so whatever it signals is the user's. A save by number
// that made the preset home is recognised by that flag too, whatever name it kept.
EchoMatch match_oldest_change(const ChangeEchoBuffer *buffer, guint32 count, gint32 preset_id,
                              const char *name, gint32 channel, int set_home = 0);

// Takes the matched echo off the oldest record, which goes once it is owed nothing more.
void consume_oldest_change(ChangeEchoBuffer *buffer, guint32 *count, EchoMatch match);

// The caller makes sure a free slot exists.
void append_change(ChangeEchoBuffer *buffer, guint32 *count, gint32 preset_id, const char *name,
                   gint32 channel, const EchoesOwed &owed);

// True when name is "Pos<N>", the name a preset saved by number bears.
bool is_default_name(gint32 preset_id, const char *name);

// Copies name into a record's name field, cut as the record keeps it.
void copy_record_name(char (&field)[RECORD_NAME_SIZE], const char *name);
