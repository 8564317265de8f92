#pragma once

#include <glib.h>

#include "core/service_state.h"

// Bytes of a name that a record keeps: all of it up to 95 bytes, else as many as fit
// without splitting a UTF-8 character.
gsize record_name_length(const char *name);

// Copies name into a record's name field, cut as the record keeps it.
void copy_record_name(char (&field)[RECORD_NAME_SIZE], const char *name);

// True when name is "Pos<N>", the name a preset saved by number bears.
bool is_default_name(gint32 preset_id, const char *name);

// Which echo a change is of what one channel owes a record.
enum class EchoMatch {
    NONE,  // none: a change of its own, as far as this record goes
    NAMED, // an echo under the change's own name
    SAVED, // the echo of a save by number: flagged home, or a creation under "Pos<N>"
};

// A change as a channel signalled it.
struct SignalledChange {
    guint32 kind;
    gint32 preset_id;
    const char *name;
    int set_home;
};

EchoMatch echo_fits(const ChangeRecord &record, guint8 owed, const SignalledChange &change);

// One change echo buffer and its count.
struct ChangeBufferRef {
    ChangeEchoBuffer *buffer;
    guint32 *count;
};

// Where an owed echo was found.
struct OwedEcho {
    ChangeBufferRef where;
    guint32 index;
    EchoMatch match;
    bool in_doubt;
};

// The oldest echo, by walk, that channel_index owes a record in `searched` and the change is;
// with in_doubt, among the echoes a change of the channel's own put in doubt.
bool find_owed_echo(const ChangeBufferRef *searched, gsize searched_count,
                    const SignalledChange &change, gsize channel_index, bool in_doubt,
                    OwedEcho *found);

// Takes the found echo off. A channel signals our calls' effects in the order we made them, so
// whatever it owed from the calls before this one is not coming: that lapses, in every buffer of
// `all`. Records owed nothing more go. Returns what the record still owes (in doubt or not).
guint32 take_echo(const OwedEcho &found, const ChangeBufferRef *all, gsize all_count,
                  gsize channel_index);

// A change of the channel's own, not an echo, that makes a preset home, after our calls there or
// before them: what the channel still owed for home changes is put in doubt. On a platform that
// sends nothing for a save that changed nothing, such an echo may never come, and would take the
// user's own making that preset home again there for its echo; no listing shows the home, so
// nothing else can tell. An echo in doubt that comes after all is mirrored, and puts nothing in
// doubt itself, so that doubted echoes cannot keep one another going. (A rename or removal has no
// such need: its walk looks at the listings, and an echo that changed nothing never came.)
void doubt_for_change(const ChangeBufferRef *all, gsize all_count, gsize channel_index,
                      const SignalledChange &change);

// Fills the record a walk opened, owed `owed_echoes` by the flags its calls left in its row.
void fill_change_record(ChangeRecord &record, gint32 preset_id, const char *name, gint32 channel,
                        guint64 serial, int home, guint32 owed_echoes);
