// PtzPresetState payloads of any type.
#include "fuzz_input.h"
#include "recall_mirror/recall_payloads.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_autoptr(GVariant) payload = variant_from_fuzz_input(data, size);
    if (!payload)
        return 0;
    PresetState state = decode_preset_state(payload);
    // Anything but "(iii)" must read as state 0, which is ignored.
    if (!g_variant_is_of_type(payload, G_VARIANT_TYPE("(iii)")) &&
        (state.state != 0 || state.channel != 0 || state.preset != 0))
        __builtin_trap();
    return 0;
}
