#include <cmath>
#include <limits>

#include <gtest/gtest.h>

#include "config_mirror/update_decision.h"

namespace
{

TEST(UpdateDecision, CaseFollowsFoundNameAndHome)
{
    EXPECT_EQ(decide_update_case(false, false, 0), UpdateCase::MISSING);
    EXPECT_EQ(decide_update_case(false, false, 1), UpdateCase::MISSING_HOME);
    EXPECT_EQ(decide_update_case(true, true, 1), UpdateCase::SAME_NAME_HOME);
    EXPECT_EQ(decide_update_case(true, true, 0), UpdateCase::SAME_NAME);
    EXPECT_EQ(decide_update_case(true, false, 0), UpdateCase::OTHER_NAME);
    EXPECT_EQ(decide_update_case(true, false, 1), UpdateCase::OTHER_NAME_HOME);
}

struct MoveCase {
    float source_pan, source_tilt, pan, tilt;
    bool moved;
};

TEST(UpdateDecision, MovedByTwoOrMoreInPanOrTilt)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const MoveCase cases[] = {
        {10.0f, 5.0f, 12.0f, 5.0f, true},  // exactly 2.0 in pan
        {10.0f, 5.0f, 8.0f, 5.0f, true},   // either direction
        {10.0f, 5.0f, 10.0f, 3.0f, true},  // exactly 2.0 in tilt
        {0.0f, 0.0f, 1.99f, 1.99f, false}, // just below in both
        {0.0f, 0.0f, 0.5f, 3.0f, true},    // one of the two is enough
        {0.0f, 0.0f, 0.0f, 0.0f, false},
        {nan, 0.0f, 50.0f, 0.0f, false}, // NaN never counts as moved
        {0.0f, 0.0f, 0.0f, nan, false},
        {nan, 0.0f, 0.0f, 9.0f, true}, // NaN in pan, tilt still decides
    };
    for (const MoveCase &c : cases)
        EXPECT_EQ(position_moved(c.source_pan, c.source_tilt, c.pan, c.tilt), c.moved)
            << c.source_pan << "," << c.source_tilt << " -> " << c.pan << "," << c.tilt;
}

} // namespace
