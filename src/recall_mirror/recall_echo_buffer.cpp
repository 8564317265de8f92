#include "recall_mirror/recall_echo_buffer.h"

static bool owes(const RecallEchoBuffer *buffer, guint32 index, gint32 channel)
{
    return channel >= 1 && static_cast<gsize>(channel) <= buffer->channels &&
           owed_row(buffer, index)[channel - 1] != 0;
}

RecallMatch match_recall(const RecallEchoBuffer *buffer, guint32 count, gint32 preset,
                         gint32 channel, guint32 *index)
{
    for (guint32 i = 0; i < count; i++) {
        if (buffer->records[i].preset_number == preset && owes(buffer, i, channel)) {
            *index = i;
            return RecallMatch::ECHO;
        }
    }
    // An empty buffer has no newest record, not even for preset 0.
    if (count > 0 && buffer->records[count - 1].preset_number == preset &&
        buffer->records[count - 1].channel_number == channel)
        return RecallMatch::REPEAT;
    return RecallMatch::NONE;
}

void take_recall_echo(RecallEchoBuffer *buffer, guint32 *count, guint32 index, gint32 channel)
{
    guint64 serial = buffer->records[index].serial;
    take_owed(buffer, index, static_cast<gsize>(channel - 1), OWES_RECALL);
    lapse_owed(buffer, count, static_cast<gsize>(channel - 1), [&](const RecallRecord &record) {
        return static_cast<guint8>(record.serial < serial ? OWES_RECALL : 0);
    });
}

void lapse_for_recall(RecallEchoBuffer *buffer, guint32 *count, gint32 channel)
{
    lapse_owed(buffer, count, static_cast<gsize>(channel - 1),
               [](const RecallRecord &) { return OWES_RECALL; });
}
