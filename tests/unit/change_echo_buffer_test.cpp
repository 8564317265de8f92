#include <string>

#include <gtest/gtest.h>

#include "config_mirror/change_echo_buffer.h"

namespace
{

struct ChangeBufferTest : ::testing::Test {
    ChangeEchoBuffer buffer{};
    guint32 count = 0;

    bool slots_from_count_are_empty() const
    {
        for (guint32 i = count; i < MAX_BUFFER_SIGNAL_SIZE; i++) {
            const ChangeRecord &r = buffer.records[i];
            if (r.preset_id != 0 || r.name[0] != '\0' || r.channel != 0)
                return false;
        }
        return true;
    }
};

TEST_F(ChangeBufferTest, EchoFromAnotherChannelMatchesAndTheRepeatFromTheSourceToo)
{
    append_change(&buffer, &count, 5, "Gate", 1);
    EXPECT_EQ(match_oldest_change(&buffer, count, 5, "Gate", 2), EchoMatch::OTHER_CHANNEL);
    EXPECT_EQ(match_oldest_change(&buffer, count, 5, "Gate", 1), EchoMatch::SAME_CHANNEL);
    EXPECT_EQ(match_oldest_change(&buffer, count, 5, "gate", 2), EchoMatch::NONE);
    EXPECT_EQ(match_oldest_change(&buffer, count, 6, "Gate", 2), EchoMatch::NONE);
}

TEST_F(ChangeBufferTest, OnlyTheOldestRecordIsCompared)
{
    append_change(&buffer, &count, 5, "Gate", 1);
    append_change(&buffer, &count, 7, "Door", 1);
    EXPECT_EQ(match_oldest_change(&buffer, count, 7, "Door", 2), EchoMatch::NONE);
    remove_oldest_change(&buffer, &count);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(match_oldest_change(&buffer, count, 7, "Door", 2), EchoMatch::OTHER_CHANNEL);
    EXPECT_TRUE(slots_from_count_are_empty());
}

TEST_F(ChangeBufferTest, EmptyBufferNeverMatches)
{
    EXPECT_EQ(match_oldest_change(&buffer, count, 0, "", 0), EchoMatch::NONE);
    remove_oldest_change(&buffer, &count);
    EXPECT_EQ(count, 0u);
}

TEST_F(ChangeBufferTest, RemovalKeepsOrderAndEmptiesTheFreedSlot)
{
    for (gint32 i = 1; i <= static_cast<gint32>(MAX_BUFFER_SIGNAL_SIZE); i++)
        append_change(&buffer, &count, i, ("P" + std::to_string(i)).c_str(), 1);
    EXPECT_EQ(count, MAX_BUFFER_SIGNAL_SIZE);
    remove_oldest_change(&buffer, &count);
    EXPECT_EQ(count, MAX_BUFFER_SIGNAL_SIZE - 1);
    EXPECT_EQ(buffer.records[0].preset_id, 2);
    EXPECT_STREQ(buffer.records[30].name, "P32");
    EXPECT_TRUE(slots_from_count_are_empty());
    clear_changes(&buffer, &count);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(slots_from_count_are_empty());
}

TEST_F(ChangeBufferTest, LongNamesAreKeptCutAndStillMatchTheirEcho)
{
    std::string long_name(200, 'a');
    append_change(&buffer, &count, 9, long_name.c_str(), 1);
    EXPECT_EQ(std::string(buffer.records[0].name), std::string(95, 'a'));
    EXPECT_EQ(match_oldest_change(&buffer, count, 9, long_name.c_str(), 3),
              EchoMatch::OTHER_CHANNEL);
    // A name that differs only beyond what the record keeps reads as the same.
    std::string other_tail = std::string(95, 'a') + "b";
    EXPECT_EQ(match_oldest_change(&buffer, count, 9, other_tail.c_str(), 3),
              EchoMatch::OTHER_CHANNEL);
    EXPECT_EQ(match_oldest_change(&buffer, count, 9, std::string(94, 'a').c_str(), 3),
              EchoMatch::NONE);
}

TEST_F(ChangeBufferTest, CutNeverSplitsAUtf8Character)
{
    // 94 ASCII bytes then two-byte characters: byte 95 would split one.
    std::string name = std::string(94, 'x') + "\xC3\xA9\xC3\xA9";
    EXPECT_EQ(record_name_length(name.c_str()), 94u);
    std::string fits = std::string(93, 'x') + "\xC3\xA9";
    EXPECT_EQ(record_name_length(fits.c_str()), 95u);
    // Three-byte characters from byte 93 on: only whole ones are kept.
    std::string wide = std::string(93, 'x') + "\xE2\x82\xAC\xE2\x82\xAC";
    EXPECT_EQ(record_name_length(wide.c_str()), 93u);
    append_change(&buffer, &count, 4, name.c_str(), 2);
    EXPECT_EQ(std::string(buffer.records[0].name), std::string(94, 'x'));
    EXPECT_EQ(match_oldest_change(&buffer, count, 4, name.c_str(), 1), EchoMatch::OTHER_CHANNEL);
}

} // namespace
