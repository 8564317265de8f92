#include "recall_mirror/recall_echo_buffer.h"

RecallMatch match_oldest_recall(const RecallEchoBuffer *buffer, guint32 count, gint32 preset,
                                gint32 channel)
{
    // An empty buffer has no oldest record, not even for preset 0.
    const RecallRecord *oldest = oldest_record(buffer, count);
    if (!oldest || oldest->preset_number != preset)
        return RecallMatch::NONE;
    return oldest->channel_number == channel ? RecallMatch::SAME_CHANNEL
                                             : RecallMatch::OTHER_CHANNEL;
}

void append_recall(RecallEchoBuffer *buffer, guint32 *count, gint32 preset, gint32 channel)
{
    push_record(buffer, count) = RecallRecord{preset, channel};
}
