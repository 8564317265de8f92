#include "config_mirror/change_echo_buffer.h"

#include <cstring>

static bool is_utf8_continuation(char byte)
{
    return (static_cast<unsigned char>(byte) & 0xC0) == 0x80;
}

gsize record_name_length(const char *name)
{
    gsize length = strlen(name);
    if (length < RECORD_NAME_SIZE)
        return length;
    gsize cut = RECORD_NAME_SIZE - 1;
    while (cut > 0 && is_utf8_continuation(name[cut]))
        cut--;
    return cut;
}

EchoMatch match_oldest_change(const ChangeEchoBuffer *buffer, guint32 count, gint32 preset_id,
                              const char *name, gint32 channel)
{
    if (count == 0)
        return EchoMatch::NONE;
    const ChangeRecord &oldest = buffer->records[0];
    if (oldest.preset_id != preset_id)
        return EchoMatch::NONE;
    // Long names are compared as the record keeps them.
    gsize length = record_name_length(name);
    if (strlen(oldest.name) != length || memcmp(oldest.name, name, length) != 0)
        return EchoMatch::NONE;
    return oldest.channel == channel ? EchoMatch::SAME_CHANNEL : EchoMatch::OTHER_CHANNEL;
}

void remove_oldest_change(ChangeEchoBuffer *buffer, guint32 *count)
{
    if (*count == 0)
        return;
    memmove(&buffer->records[0], &buffer->records[1], (*count - 1) * sizeof(ChangeRecord));
    (*count)--;
    buffer->records[*count] = ChangeRecord{};
}

void append_change(ChangeEchoBuffer *buffer, guint32 *count, gint32 preset_id, const char *name,
                   gint32 channel)
{
    ChangeRecord &record = buffer->records[*count];
    record = ChangeRecord{};
    record.preset_id = preset_id;
    memcpy(record.name, name, record_name_length(name));
    record.channel = channel;
    (*count)++;
}

void clear_changes(ChangeEchoBuffer *buffer, guint32 *count)
{
    for (guint32 i = 0; i < *count && i < MAX_BUFFER_SIGNAL_SIZE; i++)
        buffer->records[i] = ChangeRecord{};
    *count = 0;
}
