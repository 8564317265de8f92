#include "config_mirror/change_echo_buffer.h"

#include <cstdio>
#include <cstring>

#include "config_mirror/change_filter.h"

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

EchoMatch echo_fits(const ChangeRecord &record, guint8 owed, const SignalledChange &change)
{
    if (owed == 0 || record.preset_id != change.preset_id)
        return EchoMatch::NONE;
    // A save comes before the rename that follows it on the same channel. A save as home is told
    // by its flag, whatever name the platform left the preset (its own default, or the name it
    // had), and a platform may report it as a creation or an update; any other save by number is
    // a creation of a preset the channel lacked, under the default name.
    if ((owed & OWES_SAVED) && (record.home ? change.set_home != 0
                                            : change.kind == PRESET_CREATED &&
                                                  is_default_name(change.preset_id, change.name)))
        return EchoMatch::SAVED;
    if (!same_record_name(record.name, change.name))
        return EchoMatch::NONE;
    // A save by name as home echoes flagged: the user's own save of the preset, unflagged, is not
    // taken for an echo that a platform did not send because the save changed nothing.
    if ((owed & OWES_NAMED) || ((owed & OWES_NAMED_HOME) && change.set_home))
        return EchoMatch::NAMED;
    return EchoMatch::NONE;
}

bool find_owed_echo(const ChangeBufferRef *searched, gsize searched_count,
                    const SignalledChange &change, gsize channel_index, bool in_doubt,
                    OwedEcho *found)
{
    bool any = false;
    guint64 oldest = 0;
    for (gsize b = 0; b < searched_count; b++) {
        const ChangeBufferRef &ref = searched[b];
        for (guint32 i = 0; i < *ref.count; i++) {
            const ChangeRecord &record = ref.buffer->records[i];
            if (any && record.serial >= oldest)
                break;
            guint8 row = owed_row(ref.buffer, i)[channel_index];
            guint8 echoes =
                static_cast<guint8>((in_doubt ? row >> DOUBTED_SHIFT : row) & OWES_ANY_CHANGE);
            EchoMatch match = echo_fits(record, echoes, change);
            if (match == EchoMatch::NONE)
                continue;
            *found = OwedEcho{ref, i, match, in_doubt};
            oldest = record.serial;
            any = true;
            break;
        }
    }
    return any;
}

guint32 take_echo(const OwedEcho &found, const ChangeBufferRef *all, gsize all_count,
                  gsize channel_index)
{
    guint64 serial = found.where.buffer->records[found.index].serial;
    // On one channel a save by number precedes the rename after it.
    guint8 taken = found.match == EchoMatch::NAMED ? OWES_ANY_CHANGE | doubted(OWES_ANY_CHANGE)
                   : found.in_doubt                ? doubted(OWES_SAVED)
                                                   : OWES_SAVED;
    take_owed(found.where.buffer, found.index, channel_index, taken);
    guint32 still_owed = found.where.buffer->records[found.index].owed_echoes;
    for (gsize b = 0; b < all_count; b++)
        lapse_owed(all[b].buffer, all[b].count, channel_index, [&](const ChangeRecord &record) {
            return static_cast<guint8>(record.serial < serial ? OWES_ANY_CHANGE : 0);
        });
    return still_owed;
}

void doubt_for_change(const ChangeBufferRef *all, gsize all_count, gsize channel_index,
                      const SignalledChange &change)
{
    if (!change.set_home)
        return;
    for (gsize b = 0; b < all_count; b++)
        doubt_owed(all[b].buffer, *all[b].count, channel_index, [](const ChangeRecord &record) {
            return static_cast<guint8>(record.home ? OWES_ANY_CHANGE : 0);
        });
}

void fill_change_record(ChangeRecord &record, gint32 preset_id, const char *name, gint32 channel,
                        guint64 serial, int home, guint32 owed_echoes)
{
    record.preset_id = preset_id;
    copy_record_name(record.name, name);
    record.channel = channel;
    record.serial = serial;
    record.home = home;
    record.owed_echoes = owed_echoes;
}
