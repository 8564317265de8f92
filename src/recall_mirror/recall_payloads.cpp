#include "recall_mirror/recall_payloads.h"

bool carries_three_ints(GVariant *parameters)
{
    return parameters && g_variant_is_of_type(parameters, G_VARIANT_TYPE("(iii)"));
}

PresetState decode_preset_state(GVariant *parameters)
{
    PresetState decoded{0, 0, 0};
    if (carries_three_ints(parameters))
        g_variant_get(parameters, "(iii)", &decoded.channel, &decoded.preset, &decoded.state);
    return decoded;
}

PresetSpeed decode_preset_speed(GVariant *parameters)
{
    PresetSpeed decoded{0, 0};
    if (carries_three_ints(parameters))
        g_variant_get(parameters, "(iii)", nullptr, &decoded.speed, &decoded.space);
    return decoded;
}
