#include <gtest/gtest.h>

#include "recall_mirror/recall_echo_buffer.h"

namespace
{

struct RecallBufferTest : ::testing::Test {
    RecallEchoBuffer buffer{};
    guint32 count = 0;
};

TEST_F(RecallBufferTest, OldestRecordDecidesBetweenRepeatAndEcho)
{
    append_recall(&buffer, &count, 5, 1);
    append_recall(&buffer, &count, 7, 1);
    EXPECT_EQ(match_oldest_recall(&buffer, count, 5, 1), RecallMatch::SAME_CHANNEL);
    EXPECT_EQ(match_oldest_recall(&buffer, count, 5, 2), RecallMatch::OTHER_CHANNEL);
    EXPECT_EQ(match_oldest_recall(&buffer, count, 7, 2), RecallMatch::NONE);
    drop_oldest_record(&buffer, &count);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(match_oldest_recall(&buffer, count, 7, 2), RecallMatch::OTHER_CHANNEL);
    EXPECT_EQ(buffer.records[1].preset_number, 0);
    EXPECT_EQ(buffer.records[1].channel_number, 0);
}

TEST_F(RecallBufferTest, EmptyBufferNeverMatchesPresetZero)
{
    // The zero-filled first slot is no record.
    EXPECT_EQ(match_oldest_recall(&buffer, count, 0, 0), RecallMatch::NONE);
    EXPECT_EQ(match_oldest_recall(&buffer, count, 0, 2), RecallMatch::NONE);
    drop_oldest_record(&buffer, &count);
    EXPECT_EQ(count, 0u);
}

TEST_F(RecallBufferTest, ClearEmptiesAllSlots)
{
    for (gint32 i = 1; i <= static_cast<gint32>(MAX_BUFFER_SIGNAL_SIZE); i++)
        append_recall(&buffer, &count, i, 2);
    clear_records(&buffer, &count);
    EXPECT_EQ(count, 0u);
    for (const RecallRecord &r : buffer.records) {
        EXPECT_EQ(r.preset_number, 0);
        EXPECT_EQ(r.channel_number, 0);
    }
}

} // namespace
