#include "config_mirror/change_echo_buffer.h"

#include <cstdio>
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

void copy_record_name(char (&field)[RECORD_NAME_SIZE], const char *name)
{
    gsize length = record_name_length(name);
    memcpy(field, name, length);
    field[length] = '\0';
}

// Long names are compared as the record keeps them.
static bool same_record_name(const char *kept, const char *name)
{
    gsize length = record_name_length(name);
    return strlen(kept) == length && memcmp(kept, name, length) == 0;
}

bool is_default_name(gint32 preset_id, const char *name)
{
    char default_name[sizeof "Pos-2147483648"];
    snprintf(default_name, sizeof default_name, "Pos%d", preset_id);
    return strcmp(name, default_name) == 0;
}

EchoMatch match_oldest_change(const ChangeEchoBuffer *buffer, guint32 count, gint32 preset_id,
                              const char *name, gint32 channel, int set_home)
{
    const ChangeRecord *oldest = oldest_record(buffer, count);
    if (!oldest || oldest->preset_id != preset_id || oldest->channel == channel)
        return EchoMatch::NONE;
    if (oldest->echoes_owed > 0 && same_record_name(oldest->name, name))
        return EchoMatch::NAMED;
    // Where channels held the preset under several names, a platform that keeps names echoes
    // each of them; our saves as home are then told by their flag.
    if (oldest->saves_owed > 0 &&
        (set_home || is_default_name(preset_id, name) ||
         (oldest->saved_name[0] != '\0' && same_record_name(oldest->saved_name, name))))
        return EchoMatch::SAVED;
    return EchoMatch::NONE;
}

void consume_oldest_change(ChangeEchoBuffer *buffer, guint32 *count, EchoMatch match)
{
    if (*count == 0 || match == EchoMatch::NONE)
        return;
    ChangeRecord &oldest = buffer->records[0];
    guint32 &owed = match == EchoMatch::NAMED ? oldest.echoes_owed : oldest.saves_owed;
    if (owed > 0)
        owed--;
    if (oldest.echoes_owed == 0 && oldest.saves_owed == 0)
        drop_oldest_record(buffer, count);
}

void append_change(ChangeEchoBuffer *buffer, guint32 *count, gint32 preset_id, const char *name,
                   gint32 channel, const EchoesOwed &owed)
{
    ChangeRecord &record = push_record(buffer, count);
    record.preset_id = preset_id;
    copy_record_name(record.name, name);
    record.channel = channel;
    record.echoes_owed = owed.named;
    record.saves_owed = owed.saved;
    memcpy(record.saved_name, owed.saved_name, sizeof record.saved_name);
}
