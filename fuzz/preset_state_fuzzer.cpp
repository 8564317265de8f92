// PtzPresetState payloads of any type.
#include "fuzz_input.h"
#include "recall_mirror/recall_payloads.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_autoptr(GVariant) payload = variant_from_fuzz_input(data, size);
    if (!payload)
        return 0;
    PresetState state = decode_preset_state(payload);
    // "(iii)" reads as channel, preset and state, in that order; anything else as state 0,
    // which is ignored.
    gint32 fields[3] = {0, 0, 0};
    if (g_variant_is_of_type(payload, G_VARIANT_TYPE("(iii)")))
        g_variant_get(payload, "(iii)", &fields[0], &fields[1], &fields[2]);
    if (state.channel != fields[0] || state.preset != fields[1] || state.state != fields[2])
        __builtin_trap();
    return 0;
}
