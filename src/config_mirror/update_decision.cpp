#include "config_mirror/update_decision.h"

#include <cmath>

static const float MOVE_THRESHOLD = 2.0f;

UpdateCase decide_update_case(bool found, bool same_name, int set_home)
{
    if (!found)
        return set_home ? UpdateCase::MISSING_HOME : UpdateCase::MISSING;
    if (same_name)
        return set_home ? UpdateCase::SAME_NAME_HOME : UpdateCase::SAME_NAME;
    return set_home ? UpdateCase::OTHER_NAME_HOME : UpdateCase::OTHER_NAME;
}

bool position_moved(float source_pan, float source_tilt, float pan, float tilt)
{
    float pan_difference = std::fabs(source_pan - pan);
    float tilt_difference = std::fabs(source_tilt - tilt);
    return pan_difference >= MOVE_THRESHOLD || tilt_difference >= MOVE_THRESHOLD;
}
