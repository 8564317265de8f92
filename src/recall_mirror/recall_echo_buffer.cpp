#include "recall_mirror/recall_echo_buffer.h"

#include <cstring>

RecallMatch match_oldest_recall(const RecallEchoBuffer *buffer, guint32 count, gint32 preset,
                                gint32 channel)
{
    // An empty buffer has no oldest record, not even for preset 0.
    if (count == 0 || buffer->records[0].preset_number != preset)
        return RecallMatch::NONE;
    return buffer->records[0].channel_number == channel ? RecallMatch::SAME_CHANNEL
                                                        : RecallMatch::OTHER_CHANNEL;
}

void remove_oldest_recall(RecallEchoBuffer *buffer, guint32 *count)
{
    if (*count == 0)
        return;
    memmove(&buffer->records[0], &buffer->records[1], (*count - 1) * sizeof(RecallRecord));
    (*count)--;
    buffer->records[*count] = RecallRecord{};
}

void append_recall(RecallEchoBuffer *buffer, guint32 *count, gint32 preset, gint32 channel)
{
    buffer->records[*count] = RecallRecord{preset, channel};
    (*count)++;
}

void clear_recalls(RecallEchoBuffer *buffer, guint32 *count)
{
    *buffer = RecallEchoBuffer{};
    *count = 0;
}
