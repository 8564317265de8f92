#include "recall_mirror/recall_echo_buffer.h"

static guint8 owed_by(const RecallEchoBuffer *buffer, guint32 index, gint32 channel)
{
    if (channel < 1 || static_cast<gsize>(channel) > buffer->channels)
        return 0;
    return owed_row(buffer, index)[channel - 1];
}

static bool find_owed(const RecallEchoBuffer *buffer, guint32 count, gint32 preset, gint32 channel,
                      guint8 echo, guint32 *index)
{
    for (guint32 i = 0; i < count; i++) {
        if (buffer->records[i].preset_number == preset && (owed_by(buffer, i, channel) & echo)) {
            *index = i;
            return true;
        }
    }
    return false;
}

RecallMatch match_recall(const RecallEchoBuffer *buffer, guint32 count, gint32 preset,
                         gint32 channel, guint32 *index)
{
    if (find_owed(buffer, count, preset, channel, OWES_RECALL, index))
        return RecallMatch::ECHO;
    // An empty buffer has no newest record, not even for preset 0.
    if (count > 0 && buffer->records[count - 1].preset_number == preset &&
        buffer->records[count - 1].channel_number == channel)
        return RecallMatch::REPEAT;
    if (find_owed(buffer, count, preset, channel, doubted(OWES_RECALL), index))
        return RecallMatch::LATE;
    return RecallMatch::NONE;
}

void take_recall_echo(RecallEchoBuffer *buffer, guint32 *count, guint32 index, gint32 channel)
{
    guint64 serial = buffer->records[index].serial;
    gsize channel_index = static_cast<gsize>(channel - 1);
    take_owed(buffer, index, channel_index, OWES_RECALL | doubted(OWES_RECALL));
    lapse_owed(buffer, count, channel_index, [&](const RecallRecord &record) {
        return static_cast<guint8>(record.serial < serial ? OWES_RECALL : 0);
    });
}

void doubt_for_recall(RecallEchoBuffer *buffer, guint32 count, gint32 channel)
{
    doubt_owed(buffer, count, static_cast<gsize>(channel - 1),
               [](const RecallRecord &) { return OWES_RECALL; });
}
