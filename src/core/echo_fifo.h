#pragma once

#include <cstring>
#include <glib.h>

#include "core/limits.h"

// The records of one echo buffer, oldest first; how many are held is kept beside it. Both kinds
// of record, changes and recalls, go through these few operations.
template <typename Record> struct EchoBuffer {
    Record records[MAX_BUFFER_SIGNAL_SIZE];
};

// The oldest record, or null when the buffer is empty.
template <typename Record>
const Record *oldest_record(const EchoBuffer<Record> *buffer, guint32 count)
{
    return count == 0 ? nullptr : &buffer->records[0];
}

// A cleared slot after the newest record, now counted; the caller makes sure one is free.
template <typename Record> Record &push_record(EchoBuffer<Record> *buffer, guint32 *count)
{
    Record &slot = buffer->records[*count];
    slot = Record{};
    (*count)++;
    return slot;
}

template <typename Record> void drop_oldest_record(EchoBuffer<Record> *buffer, guint32 *count)
{
    if (*count == 0)
        return;
    memmove(&buffer->records[0], &buffer->records[1], (*count - 1) * sizeof(Record));
    (*count)--;
    buffer->records[*count] = Record{};
}

template <typename Record> void clear_records(EchoBuffer<Record> *buffer, guint32 *count)
{
    for (guint32 i = 0; i < *count && i < MAX_BUFFER_SIGNAL_SIZE; i++)
        buffer->records[i] = Record{};
    *count = 0;
}
