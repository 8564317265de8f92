// PresetConfigurationChanged2 payloads of any type, and the echo test over their names.
#include "config_mirror/change_echo_buffer.h"
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
    // A recorded change must always recognise its own echo, whatever its name.
    ChangeEchoBuffer buffer{};
    guint32 count = 0;
    gint32 preset_id = static_cast<gint32>(change.preset_id);
    EchoesOwed owed{};
    owed.named = 1;
    // A former name is never empty: it comes from a listing entry.
    owed.saved = name[0] != '\0' ? 1 : 0;
    copy_record_name(owed.saved_name, name);
    append_change(&buffer, &count, preset_id, name, 1, owed);
    const ChangeRecord &record = buffer.records[0];
    if (record.name[RECORD_NAME_SIZE - 1] != '\0' ||
        record.saved_name[RECORD_NAME_SIZE - 1] != '\0' ||
        match_oldest_change(&buffer, count, preset_id, name, 2) != EchoMatch::NAMED ||
        match_oldest_change(&buffer, count, preset_id, name, 1) != EchoMatch::NONE ||
        !g_utf8_validate(record.name, -1, nullptr) ||
        !g_utf8_validate(record.saved_name, -1, nullptr))
        __builtin_trap();
    // Its two owed echoes, and nothing after them.
    consume_oldest_change(&buffer, &count, EchoMatch::NAMED);
    if (owed.saved) {
        if (match_oldest_change(&buffer, count, preset_id, name, 2) != EchoMatch::SAVED)
            __builtin_trap();
        consume_oldest_change(&buffer, &count, EchoMatch::SAVED);
    }
    if (count != 0 || match_oldest_change(&buffer, count, preset_id, name, 2) != EchoMatch::NONE)
        __builtin_trap();
    return 0;
}
