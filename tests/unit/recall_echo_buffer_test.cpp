#include <gtest/gtest.h>

#include "recall_mirror/recall_echo_buffer.h"

namespace
{

constexpr gsize CHANNELS = 4;

struct RecallBufferTest : ::testing::Test {
    guint8 rows[MAX_BUFFER_SIGNAL_SIZE * CHANNELS] = {};
    RecallEchoBuffer buffer{};
    guint32 count = 0;
    guint64 serial = 0;

    void SetUp() override
    {
        buffer.owed = rows;
        buffer.channels = CHANNELS;
    }

    // A mirrored recall of preset from channel, whose gotos reached `sent`.
    void add(gint32 preset, gint32 channel, std::initializer_list<gint32> sent)
    {
        RecallRecord &record = open_record(&buffer, count);
        for (gint32 n : sent)
            owed_row(&buffer, count)[n - 1] = OWES_RECALL;
        record = RecallRecord{preset, channel, static_cast<guint32>(sent.size()), ++serial};
        keep_record(&count);
    }

    // What the handler does with a recall signal, short of mirroring it.
    RecallMatch signal(gint32 preset, gint32 channel)
    {
        guint32 index = 0;
        RecallMatch match = match_recall(&buffer, count, preset, channel, &index);
        if (match == RecallMatch::ECHO)
            take_recall_echo(&buffer, &count, index, channel);
        else if (match == RecallMatch::LATE)
            take_recall_echo(&buffer, &count, index, channel);
        else if (match == RecallMatch::NONE && channel >= 1 && channel <= 4)
            doubt_for_recall(&buffer, count, channel);
        return match;
    }
};

TEST_F(RecallBufferTest, EachChannelSentThereOwesOneEcho)
{
    add(5, 1, {2, 3, 4});
    EXPECT_EQ(signal(5, 1), RecallMatch::REPEAT);
    EXPECT_EQ(signal(5, 3), RecallMatch::ECHO);
    EXPECT_EQ(signal(5, 3), RecallMatch::NONE); // channel 3 owes nothing more
    EXPECT_EQ(signal(5, 2), RecallMatch::ECHO);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(signal(5, 4), RecallMatch::ECHO);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(signal(5, 1), RecallMatch::NONE);
}

TEST_F(RecallBufferTest, OnlyTheNewestRecallIsRepeatedAndLaterEchoesLapseEarlierOnes)
{
    add(5, 1, {2, 3});
    add(7, 1, {2, 3});
    // Recalled 5, 7 and 5 again on channel 1: the third is a recall, not a repeat.
    EXPECT_EQ(signal(5, 1), RecallMatch::NONE);
    EXPECT_EQ(signal(7, 1), RecallMatch::REPEAT);
    // Channel 2 echoes only the later goto: the earlier one's echo is not coming.
    EXPECT_EQ(signal(7, 2), RecallMatch::ECHO);
    EXPECT_EQ(signal(5, 2), RecallMatch::NONE);
    // A recall of channel 3's own puts what it owed in doubt: mirrored if it comes after all.
    EXPECT_EQ(signal(9, 3), RecallMatch::NONE);
    EXPECT_EQ(signal(7, 3), RecallMatch::LATE);
    EXPECT_EQ(count, 0u); // the echo of the older goto lapses with it
    EXPECT_EQ(signal(5, 3), RecallMatch::NONE);
    for (gsize i = 0; i < MAX_BUFFER_SIGNAL_SIZE * CHANNELS; i++)
        EXPECT_EQ(rows[i], 0) << i;
}

TEST_F(RecallBufferTest, EmptyBufferNeverMatchesPresetZeroAndClearEmptiesAllSlots)
{
    // The zero-filled first slot is no record.
    EXPECT_EQ(signal(0, 0), RecallMatch::NONE);
    EXPECT_EQ(signal(0, 2), RecallMatch::NONE);
    for (gint32 i = 1; i <= static_cast<gint32>(MAX_BUFFER_SIGNAL_SIZE); i++)
        add(i, 2, {1, 3});
    // Channels out of range owe nothing.
    EXPECT_EQ(signal(1, 9), RecallMatch::NONE);
    EXPECT_EQ(signal(1, 0), RecallMatch::NONE);
    clear_records(&buffer, &count);
    EXPECT_EQ(count, 0u);
    for (const RecallRecord &r : buffer.records) {
        EXPECT_EQ(r.preset_number, 0);
        EXPECT_EQ(r.channel_number, 0);
        EXPECT_EQ(r.owed_echoes, 0u);
    }
    for (guint8 flags : rows)
        EXPECT_EQ(flags, 0);
}

} // namespace
