#pragma once

#include <glib.h>

// PtzPresetState and PresetSpeed both carry "(iii)".
struct PresetState {
    gint32 channel;
    gint32 preset;
    gint32 state;
};

struct PresetSpeed {
    gint32 speed;
    gint32 space;
};

// True when the payload is "(iii)", as both signals carry.
bool carries_three_ints(GVariant *parameters);

// A payload of another type reads as all zeros: state 0, or speed 0 in space 0.
PresetState decode_preset_state(GVariant *parameters);
PresetSpeed decode_preset_speed(GVariant *parameters);
