#pragma once

#include <cstring>
#include <glib.h>

#include "core/limits.h"

// The records of one echo buffer, oldest first; how many are held is kept beside it. Beside each
// record, one row of flags per channel says which echoes that channel still owes it: a record
// takes only echoes its own calls will cause, from the channels it called. Both kinds of record,
// changes and recalls, go through these few operations; a Record has `owed_echoes`, the number of
// flags set in its row, and `serial`, the order in which the walks that made them ran.
template <typename Record> struct EchoBuffer {
    Record records[MAX_BUFFER_SIGNAL_SIZE];
    guint8 *owed; // MAX_BUFFER_SIGNAL_SIZE rows of `channels` flags
    gsize channels;
};

template <typename Record> EchoBuffer<Record> *new_echo_buffer(gsize channels)
{
    EchoBuffer<Record> *buffer = g_new0(EchoBuffer<Record>, 1);
    buffer->owed = g_new0(guint8, MAX_BUFFER_SIGNAL_SIZE * channels);
    buffer->channels = channels;
    return buffer;
}

template <typename Record> void free_echo_buffer(EchoBuffer<Record> *buffer)
{
    if (!buffer)
        return;
    g_free(buffer->owed);
    g_free(buffer);
}

// What each channel, by index, owes record `index`.
template <typename Record> guint8 *owed_row(const EchoBuffer<Record> *buffer, guint32 index)
{
    return buffer->owed + static_cast<gsize>(index) * buffer->channels;
}

// A cleared slot after the newest record, not yet counted: a walk writes what it is owed into its
// row, and keep_record counts it. The caller makes sure one is free.
template <typename Record> Record &open_record(EchoBuffer<Record> *buffer, guint32 count)
{
    Record &slot = buffer->records[count];
    slot = Record{};
    memset(owed_row(buffer, count), 0, buffer->channels);
    return slot;
}

inline void keep_record(guint32 *count)
{
    (*count)++;
}

// An owed echo that a change of the channel's own put in doubt is kept in the same row, shifted
// by this: if it comes after all, it is mirrored as the change it may be.
constexpr int DOUBTED_SHIFT = 4;

inline guint8 doubted(guint8 echoes)
{
    return static_cast<guint8>(echoes << DOUBTED_SHIFT);
}

// Takes flags (owed or doubted) off what channel_index owes record `index`.
template <typename Record>
void take_owed(EchoBuffer<Record> *buffer, guint32 index, gsize channel_index, guint8 flags)
{
    guint8 &owed = owed_row(buffer, index)[channel_index];
    guint8 taken = owed & flags;
    owed = static_cast<guint8>(owed & ~flags);
    buffer->records[index].owed_echoes -= static_cast<guint32>(__builtin_popcount(taken));
}

// Records that owe nothing more, in doubt or not, go; the rest keep their order.
template <typename Record> void drop_settled_records(EchoBuffer<Record> *buffer, guint32 *count)
{
    guint32 kept = 0;
    for (guint32 i = 0; i < *count; i++) {
        if (buffer->records[i].owed_echoes == 0)
            continue;
        if (kept != i) {
            buffer->records[kept] = buffer->records[i];
            memcpy(owed_row(buffer, kept), owed_row(buffer, i), buffer->channels);
        }
        kept++;
    }
    for (guint32 i = kept; i < *count; i++)
        open_record(buffer, i);
    *count = kept;
}

// The echoes select(record) names, owed by channel_index or in doubt, are not coming: they go.
template <typename Record, typename Select>
void lapse_owed(EchoBuffer<Record> *buffer, guint32 *count, gsize channel_index, Select select)
{
    for (guint32 i = 0; i < *count; i++) {
        guint8 echoes = select(buffer->records[i]);
        if (echoes)
            take_owed(buffer, i, channel_index, static_cast<guint8>(echoes | doubted(echoes)));
    }
    drop_settled_records(buffer, count);
}

// The echoes select(record) names, owed by channel_index, are put in doubt.
template <typename Record, typename Select>
void doubt_owed(EchoBuffer<Record> *buffer, guint32 count, gsize channel_index, Select select)
{
    for (guint32 i = 0; i < count; i++) {
        guint8 &owed = owed_row(buffer, i)[channel_index];
        guint8 moved = owed & select(buffer->records[i]) & ((1 << DOUBTED_SHIFT) - 1);
        owed = static_cast<guint8>((owed & ~moved) | doubted(moved));
    }
}

template <typename Record> void clear_records(EchoBuffer<Record> *buffer, guint32 *count)
{
    for (guint32 i = 0; i < *count && i < MAX_BUFFER_SIGNAL_SIZE; i++)
        open_record(buffer, i);
    *count = 0;
}
