#pragma once

#include <glib.h>

// What an update does on one other channel, by whether the preset is found there, whether
// it has the signal's name there, and whether the update makes it home.
enum class UpdateCase {
    MISSING,         // not found, not home: left alone
    MISSING_HOME,    // not found, home: saved by number, then renamed
    SAME_NAME_HOME,  // SetPresetName, position not compared
    SAME_NAME,       // UpdatePreset when moved
    OTHER_NAME,      // UpdatePreset when moved, else RenamePreset
    OTHER_NAME_HOME, // SetPresetNumber, then UpdatePreset or RenamePreset
};

UpdateCase decide_update_case(bool found, bool same_name, int set_home);

// Moved by 2.0 or more in pan or in tilt, in single precision; NaN never counts as moved.
bool position_moved(float source_pan, float source_tilt, float pan, float tilt);
