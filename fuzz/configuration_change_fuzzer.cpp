// PresetConfigurationChanged2 payloads of any type, and the echo test over their names.
#include "config_mirror/change_echo_buffer.h"
#include "config_mirror/change_filter.h"
#include "config_mirror/change_intake.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_autoptr(GVariant) payload = variant_from_fuzz_input(data, size);
    if (!payload)
        return 0;
    ConfigurationChange change{};
    if (!decode_configuration_change(payload, &change))
        return 0;
    g_autofree char *name = change.name;
    if (change.set_home != 0 && change.set_home != 1)
        __builtin_trap();
    // A recorded change must always recognise its own echoes, whatever its name: channel 2
    // owes a save by number as home and the rename after it (or, for an empty name, the save
    // by name as home alone).
    guint8 rows[MAX_BUFFER_SIGNAL_SIZE * 2] = {};
    ChangeEchoBuffer buffer{};
    buffer.owed = rows;
    buffer.channels = 2;
    guint32 count = 0;
    ChangeBufferRef all[1] = {{&buffer, &count}};
    gint32 preset_id = static_cast<gint32>(change.preset_id);
    guint8 owed = name[0] != '\0' ? OWES_NAMED | OWES_SAVED : OWES_NAMED_HOME;
    ChangeRecord &record = open_record(&buffer, count);
    owed_row(&buffer, count)[1] = owed;
    fill_change_record(record, preset_id, name, 1, 1, 1, owed == OWES_NAMED_HOME ? 1 : 2);
    keep_record(&count);
    // The echoes as the camera sends them: the save as home flagged, the rename not.
    SignalledChange plain{PRESET_UPDATED, preset_id, name, 0};
    SignalledChange flagged{PRESET_UPDATED, preset_id, name, 1};
    OwedEcho found{};
    if (record.name[RECORD_NAME_SIZE - 1] != '\0' || !g_utf8_validate(record.name, -1, nullptr) ||
        find_owed_echo(all, 1, plain, 0, false, &found))
        __builtin_trap();
    // Its owed echoes in the order the calls make them, and nothing after them.
    if (owed & OWES_SAVED) {
        if (!find_owed_echo(all, 1, flagged, 1, false, &found) || found.match != EchoMatch::SAVED)
            __builtin_trap();
        take_echo(found, all, 1, 1);
    }
    if (!find_owed_echo(all, 1, flagged, 1, false, &found) || found.match != EchoMatch::NAMED)
        __builtin_trap();
    take_echo(found, all, 1, 1);
    if (count != 0 || find_owed_echo(all, 1, plain, 1, false, &found))
        __builtin_trap();
    return 0;
}
