#include <gtest/gtest.h>

#include "config_mirror/change_intake.h"

namespace
{

TEST(SourceChannel, WholeNumberAfterTheLastSlashWithinTheChannels)
{
    // path, channel count, the source channel read from it (0: none)
    struct PathCase {
        const char *path;
        gint32 channel_count;
        gint32 expected;
    };
    const PathCase cases[] = {
        {"/com/orvo/Ptz1/Channel/3", 4, 3},
        {"/com/orvo/Ptz1/Channel/1", 1, 1},
        {"/com/orvo/Ptz1/Channel/12", 12, 12}, // not channel 2
        {"/com/orvo/Ptz1/Channel/10", 12, 10}, // not channel 0
        {"/com/orvo/Ptz1/Channel/2", 12, 2},
        {"/com/orvo/Ptz1/Channel/0", 4, 0},
        {"/com/orvo/Ptz1/Channel/5", 4, 0},
        {"/com/orvo/Ptz1/Channel/13", 12, 0},
        {"/com/orvo/Ptz1/Channel/1", 0, 0},
        {"/com/orvo/Ptz1/Channel/x", 4, 0},
        {"/com/orvo/Ptz1/Channel/1x", 4, 0},
        {"/com/orvo/Ptz1/Channel/-1", 4, 0},
        {"/com/orvo/Ptz1/Channel/+1", 4, 0},
        {"/com/orvo/Ptz1/Channel/ 1", 4, 0},
        {"/com/orvo/Ptz1/Channel/", 4, 0},
        {"/com/orvo/Ptz1/Channel", 4, 0},
        {"/com/orvo/Ptz1/Channel/99999999999999999999", 4, 0},
        {"/", 4, 0},
        {"", 4, 0},
    };
    for (const PathCase &c : cases)
        EXPECT_EQ(read_source_channel(c.path, c.channel_count), c.expected) << c.path;
    EXPECT_EQ(read_source_channel(nullptr, 4), 0);
}

} // namespace
