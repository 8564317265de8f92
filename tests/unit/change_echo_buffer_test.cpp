#include <string>

#include <gtest/gtest.h>

#include "config_mirror/change_echo_buffer.h"

namespace
{

EchoesOwed owed(guint32 named, guint32 saved = 0, const char *saved_name = "")
{
    EchoesOwed echoes{};
    echoes.named = named;
    echoes.saved = saved;
    copy_record_name(echoes.saved_name, saved_name);
    return echoes;
}

struct ChangeBufferTest : ::testing::Test {
    ChangeEchoBuffer buffer{};
    guint32 count = 0;

    bool slots_from_count_are_empty() const
    {
        for (guint32 i = count; i < MAX_BUFFER_SIGNAL_SIZE; i++) {
            const ChangeRecord &r = buffer.records[i];
            if (r.preset_id != 0 || r.name[0] != '\0' || r.channel != 0 || r.echoes_owed != 0 ||
                r.saves_owed != 0 || r.saved_name[0] != '\0')
                return false;
        }
        return true;
    }

    // Takes the echo off when it is one; returns what it matched.
    EchoMatch echo(gint32 preset_id, const char *name, gint32 channel, int set_home = 0)
    {
        EchoMatch match = match_oldest_change(&buffer, count, preset_id, name, channel, set_home);
        consume_oldest_change(&buffer, &count, match);
        return match;
    }
};

TEST_F(ChangeBufferTest, RecordTakesExactlyTheEchoesItIsOwed)
{
    // Preset 5 made home as Gate from channel 1: saved by number as home on three channels
    // (named Pos5 after, or still Door or Lamp where the platform keeps names), renamed on three.
    append_change(&buffer, &count, 5, "Gate", 1, owed(3, 3, "Door"));
    struct Step {
        gint32 preset_id;
        const char *name;
        gint32 channel;
        int set_home;
        EchoMatch expected;
    };
    const Step steps[] = {
        {5, "Gate", 1, 0, EchoMatch::NONE},  // the source channel never echoes us
        {6, "Gate", 2, 0, EchoMatch::NONE},  // another preset
        {5, "gate", 2, 0, EchoMatch::NONE},  // another name: the user's own change
        {5, "Lamp", 2, 0, EchoMatch::NONE},  // neither a save's name nor made home
        {5, "Pos5", 2, 0, EchoMatch::SAVED}, // a save under the default name
        {5, "Gate", 2, 0, EchoMatch::NAMED},
        {5, "Door", 3, 0, EchoMatch::SAVED}, // a save that kept the former name
        {5, "Lamp", 4, 1, EchoMatch::SAVED}, // a save as home that kept another name
        {5, "Pos5", 3, 1, EchoMatch::NONE},  // no save owed any more
        {5, "Gate", 3, 0, EchoMatch::NAMED},
        {5, "Gate", 4, 1, EchoMatch::NAMED}, // the last one owed: the record goes
        {5, "Gate", 4, 0, EchoMatch::NONE},
    };
    for (const Step &step : steps)
        EXPECT_EQ(echo(step.preset_id, step.name, step.channel, step.set_home), step.expected)
            << step.preset_id << " " << step.name << " from " << step.channel;
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(slots_from_count_are_empty());
}

TEST_F(ChangeBufferTest, OnlyTheOldestRecordIsCompared)
{
    append_change(&buffer, &count, 5, "Gate", 1, owed(1));
    append_change(&buffer, &count, 7, "Door", 1, owed(2));
    EXPECT_EQ(echo(7, "Door", 2), EchoMatch::NONE);
    EXPECT_EQ(echo(5, "Gate", 2), EchoMatch::NAMED);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(echo(7, "Door", 2), EchoMatch::NAMED);
    EXPECT_EQ(echo(7, "Door", 3), EchoMatch::NAMED);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(slots_from_count_are_empty());
}

TEST_F(ChangeBufferTest, SavesWithoutAFormerNameMatchTheDefaultNameOnly)
{
    // A creation by number on two channels: both echo under Pos3, no other name will do.
    append_change(&buffer, &count, 3, "Door", 1, owed(0, 2));
    EXPECT_EQ(echo(3, "", 2), EchoMatch::NONE);
    EXPECT_EQ(echo(3, "Door", 2), EchoMatch::NONE);
    EXPECT_EQ(echo(3, "Pos03", 2), EchoMatch::NONE);
    EXPECT_EQ(echo(3, "Pos3", 2), EchoMatch::SAVED);
    EXPECT_EQ(echo(3, "Pos3", 4), EchoMatch::SAVED);
    EXPECT_EQ(count, 0u);
}

TEST_F(ChangeBufferTest, EmptyBufferNeverMatches)
{
    EXPECT_EQ(match_oldest_change(&buffer, count, 0, "", 0), EchoMatch::NONE);
    EXPECT_EQ(match_oldest_change(&buffer, count, 0, "Pos0", 1), EchoMatch::NONE);
    drop_oldest_record(&buffer, &count);
    consume_oldest_change(&buffer, &count, EchoMatch::NAMED);
    EXPECT_EQ(count, 0u);
}

TEST_F(ChangeBufferTest, RemovalKeepsOrderAndEmptiesTheFreedSlot)
{
    for (gint32 i = 1; i <= static_cast<gint32>(MAX_BUFFER_SIGNAL_SIZE); i++)
        append_change(&buffer, &count, i, ("P" + std::to_string(i)).c_str(), 1, owed(1, 1, "Q"));
    EXPECT_EQ(count, MAX_BUFFER_SIGNAL_SIZE);
    drop_oldest_record(&buffer, &count);
    EXPECT_EQ(count, MAX_BUFFER_SIGNAL_SIZE - 1);
    EXPECT_EQ(buffer.records[0].preset_id, 2);
    EXPECT_STREQ(buffer.records[30].name, "P32");
    EXPECT_TRUE(slots_from_count_are_empty());
    clear_records(&buffer, &count);
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(slots_from_count_are_empty());
}

TEST_F(ChangeBufferTest, LongNamesAreKeptCutAndStillMatchTheirEcho)
{
    std::string long_name(200, 'a');
    append_change(&buffer, &count, 9, long_name.c_str(), 1, owed(3, 1, long_name.c_str()));
    EXPECT_EQ(std::string(buffer.records[0].name), std::string(95, 'a'));
    EXPECT_EQ(std::string(buffer.records[0].saved_name), std::string(95, 'a'));
    EXPECT_EQ(match_oldest_change(&buffer, count, 9, long_name.c_str(), 3), EchoMatch::NAMED);
    // A name that differs only beyond what the record keeps reads as the same.
    std::string other_tail = std::string(95, 'a') + "b";
    EXPECT_EQ(match_oldest_change(&buffer, count, 9, other_tail.c_str(), 3), EchoMatch::NAMED);
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
    append_change(&buffer, &count, 4, name.c_str(), 2, owed(1));
    EXPECT_EQ(std::string(buffer.records[0].name), std::string(94, 'x'));
    EXPECT_EQ(match_oldest_change(&buffer, count, 4, name.c_str(), 1), EchoMatch::NAMED);
}

} // namespace
