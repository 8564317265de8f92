// PresetSpeed payloads of any type.
#include "fuzz_input.h"
#include "recall_mirror/recall_payloads.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    g_autoptr(GVariant) payload = variant_from_fuzz_input(data, size);
    if (!payload)
        return 0;
    PresetSpeed speed = decode_preset_speed(payload);
    bool three_ints = g_variant_is_of_type(payload, G_VARIANT_TYPE("(iii)"));
    // Anything but "(iii)" must read as speed 0 in space 0.
    if (!three_ints && (speed.speed != 0 || speed.space != 0))
        __builtin_trap();
    // The first field is not the speed: speed and space are the fields a preset state reads
    // as its preset and state.
    PresetState state = decode_preset_state(payload);
    if (three_ints && (speed.speed != state.preset || speed.space != state.state))
        __builtin_trap();
    return 0;
}
