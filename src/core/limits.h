#pragma once

#include <glib.h>

// Capacity of every echo buffer.
constexpr guint32 MAX_BUFFER_SIGNAL_SIZE = 32;
// A name field of a record or a listing entry: 95 bytes of name and the terminator.
constexpr gsize RECORD_NAME_SIZE = 96;

// What one channel owes an echo record: an echo under the change's name; the echo of a save by
// number; an echo under the change's name of a save that made the preset home; the echo of a goto.
constexpr guint8 OWES_NAMED = 1;
constexpr guint8 OWES_SAVED = 2;
constexpr guint8 OWES_NAMED_HOME = 4;
constexpr guint8 OWES_ANY_CHANGE = OWES_NAMED | OWES_SAVED | OWES_NAMED_HOME;
constexpr guint8 OWES_RECALL = 1;
