#pragma once

#include <glib.h>

// Capacity of every echo buffer.
constexpr guint32 MAX_BUFFER_SIGNAL_SIZE = 32;
// A name field of a record or a listing entry: 95 bytes of name and the terminator.
constexpr gsize RECORD_NAME_SIZE = 96;
