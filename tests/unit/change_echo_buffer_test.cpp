#include <initializer_list>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "config_mirror/change_echo_buffer.h"

namespace
{

constexpr gsize CHANNELS = 4;
constexpr guint8 BOTH = OWES_NAMED | OWES_SAVED;

// How the service takes a change signal: a change of the channel's own, an owed echo, or an echo
// in doubt that came after all (mirrored).
enum class Seen { CHANGE, NAMED, SAVED, LATE };

// The three change buffers (created, updated, removed) of a four-channel camera.
struct ChangeBufferTest : ::testing::Test {
    guint8 rows[3][MAX_BUFFER_SIGNAL_SIZE * CHANNELS] = {};
    ChangeEchoBuffer buffers[3] = {};
    guint32 counts[3] = {};
    ChangeBufferRef all[3];
    guint64 serial = 0;

    void SetUp() override
    {
        for (int b = 0; b < 3; b++) {
            buffers[b].owed = rows[b];
            buffers[b].channels = CHANNELS;
            all[b] = {&buffers[b], &counts[b]};
        }
    }

    // A walk's record in buffer b, owed by (channel number, flags).
    void add(int b, gint32 preset, const char *name,
             std::initializer_list<std::pair<gint32, guint8>> owed, int home = 0)
    {
        ChangeRecord &record = open_record(&buffers[b], counts[b]);
        guint32 echoes = 0;
        for (auto [channel, flags] : owed) {
            owed_row(&buffers[b], counts[b])[channel - 1] = flags;
            echoes += static_cast<guint32>(__builtin_popcount(flags));
        }
        fill_change_record(record, preset, name, 1, ++serial, home, echoes);
        keep_record(&counts[b]);
    }

    // A created or updated signal (kind 3: removed) from channel, as the service takes it.
    Seen signal(gint32 preset, const char *name, gint32 channel, int set_home = 0, guint32 kind = 2)
    {
        ChangeBufferRef searched[2] = {all[0], all[1]};
        if (kind == 3)
            searched[0] = all[2];
        gsize searched_count = kind == 3 ? 1 : 2;
        SignalledChange change{kind, preset, name, set_home};
        OwedEcho found{};
        gsize index = static_cast<gsize>(channel - 1);
        if (find_owed_echo(searched, searched_count, change, index, false, &found)) {
            take_echo(found, all, 3, index);
            return found.match == EchoMatch::NAMED ? Seen::NAMED : Seen::SAVED;
        }
        if (find_owed_echo(searched, searched_count, change, index, true, &found)) {
            take_echo(found, all, 3, index);
            return Seen::LATE;
        }
        doubt_for_change(all, 3, index, change);
        return Seen::CHANGE;
    }

    bool slots_from_count_are_empty(int b) const
    {
        for (guint32 i = counts[b]; i < MAX_BUFFER_SIGNAL_SIZE; i++) {
            const ChangeRecord &r = buffers[b].records[i];
            for (gsize c = 0; c < CHANNELS; c++)
                if (owed_row(&buffers[b], i)[c] != 0)
                    return false;
            if (r.preset_id != 0 || r.name[0] != '\0' || r.channel != 0 || r.owed_echoes != 0 ||
                r.home != 0 || r.serial != 0)
                return false;
        }
        return true;
    }
};

TEST_F(ChangeBufferTest, RecordTakesOnlyTheEchoesEachChannelOwes)
{
    // Preset 5 made home as Gate from channel 1: saved by number and renamed on channels 2 and
    // 3 (3 held it as Door, which a platform that keeps names echoes), made home by name on 4.
    add(1, 5, "Gate", {{2, BOTH}, {3, BOTH}, {4, OWES_NAMED_HOME}}, 1);
    struct Step {
        gint32 preset_id;
        const char *name;
        gint32 channel;
        int set_home;
        Seen expected;
    };
    const Step steps[] = {
        {5, "Gate", 1, 1, Seen::CHANGE}, // the source channel never echoes us
        {6, "Gate", 2, 0, Seen::CHANGE}, // another preset, not made home
        {5, "Pos5", 2, 1, Seen::SAVED},  // a save as home under the default name
        {5, "Gate", 2, 0, Seen::NAMED},
        {5, "Gate", 2, 0, Seen::CHANGE}, // channel 2 owes nothing more
        {5, "Door", 3, 1, Seen::SAVED},  // under the name it kept, flagged home
        {5, "Gate", 4, 1, Seen::NAMED},  // the save by name as home
        {5, "Pos5", 4, 1, Seen::CHANGE}, // channel 4 was not saved by number
        {5, "gate", 3, 0, Seen::CHANGE}, // another name: channel 3's own change
        {5, "Gate", 3, 0, Seen::NAMED},
    };
    for (const Step &step : steps)
        EXPECT_EQ(signal(step.preset_id, step.name, step.channel, step.set_home), step.expected)
            << step.preset_id << " " << step.name << " from " << step.channel;
    EXPECT_EQ(counts[1], 0u);
    EXPECT_TRUE(slots_from_count_are_empty(1));
}

TEST_F(ChangeBufferTest, ALaterEchoLapsesWhatTheChannelOwedBefore)
{
    // Channels 2 and 3 owe two home walks of 5, saved by name; channel 2 then a creation by
    // number of 7.
    add(1, 5, "Gate", {{2, OWES_NAMED_HOME}, {3, OWES_NAMED_HOME}}, 1);
    add(1, 5, "Gate", {{2, OWES_NAMED_HOME}, {3, OWES_NAMED_HOME}}, 1);
    add(0, 7, "Door", {{2, BOTH}});
    // The oldest owed echo that fits is taken: the first home walk's.
    EXPECT_EQ(signal(5, "Gate", 2, 1), Seen::NAMED);
    EXPECT_EQ(signal(5, "Gate", 3, 1), Seen::NAMED);
    EXPECT_EQ(counts[1], 1u);
    // The second home walk's calls changed nothing and a platform sent nothing for them. On
    // channel 3 the user's own save of 5, not flagged home, is not taken for that echo...
    EXPECT_EQ(signal(5, "Gate", 3, 0), Seen::CHANGE);
    // ...and on channel 2 the echo of the rename after it lapses it, and the save before it.
    EXPECT_EQ(signal(7, "Door", 2, 0, 2), Seen::NAMED);
    EXPECT_EQ(counts[0], 0u);
    EXPECT_EQ(counts[1], 1u);
    // So the user's own home change on channel 2 is not taken for it either.
    EXPECT_EQ(signal(5, "Gate", 2, 1), Seen::CHANGE);
    // Channel 3's own save repeated the name we set: its echo is still owed.
    EXPECT_EQ(signal(5, "Gate", 3, 1), Seen::NAMED);
    for (int b = 0; b < 3; b++) {
        EXPECT_EQ(counts[b], 0u);
        EXPECT_TRUE(slots_from_count_are_empty(b));
    }
}

TEST_F(ChangeBufferTest, SavesAreRecognisedWhicheverKindTheyAreReportedAs)
{
    // A save again by number, recorded among the updates, reported as a creation.
    add(1, 3, "Door", {{2, BOTH}}, 1);
    EXPECT_EQ(signal(3, "Pos3", 2, 1, 1), Seen::SAVED);
    EXPECT_EQ(signal(3, "Door", 2, 0, 2), Seen::NAMED);
    EXPECT_EQ(counts[1], 0u);
    // A removal under the same name as a rename owed is matched against removals only.
    add(1, 3, "Door", {{3, OWES_NAMED}});
    EXPECT_EQ(signal(3, "Door", 3, 0, 3), Seen::CHANGE);
    EXPECT_EQ(signal(3, "Door", 3, 0, 2), Seen::NAMED);
    // A creation by number, not as home, owes a save under the default name and no other.
    add(0, 4, "Lamp", {{3, OWES_SAVED}, {4, OWES_SAVED}});
    EXPECT_EQ(signal(4, "Pos4", 3, 0, 1), Seen::SAVED);
    EXPECT_EQ(signal(4, "Pos4", 4, 0, 2), Seen::CHANGE); // a report of it, not its creation
    EXPECT_EQ(signal(4, "Pos4", 4, 0, 1), Seen::SAVED);
    for (int b = 0; b < 3; b++)
        EXPECT_EQ(counts[b], 0u);
}

TEST_F(ChangeBufferTest, AHomeChangeOfTheChannelsOwnPutsItsHomeEchoesInDoubt)
{
    add(1, 6, "Yard", {{2, OWES_NAMED}});
    add(1, 5, "Gate", {{2, OWES_NAMED_HOME}, {3, OWES_NAMED_HOME}}, 1);
    add(2, 8, "Roof", {{2, OWES_NAMED}});
    // Another preset, or the same one renamed, not made home: nothing in doubt.
    EXPECT_EQ(signal(9, "Lift", 2), Seen::CHANGE);
    EXPECT_EQ(signal(8, "Dock", 2), Seen::CHANGE);
    EXPECT_EQ(signal(6, "Yard", 2), Seen::NAMED);
    // Another preset made home on channel 2: what it owed for the home walk of 5 is in doubt.
    EXPECT_EQ(signal(9, "Lift", 2, 1), Seen::CHANGE);
    EXPECT_EQ(signal(5, "Gate", 2, 1), Seen::LATE);
    EXPECT_EQ(signal(5, "Gate", 3, 1), Seen::NAMED);
    EXPECT_EQ(signal(8, "Roof", 2, 0, 3), Seen::NAMED);
    for (int b = 0; b < 3; b++) {
        EXPECT_EQ(counts[b], 0u);
        EXPECT_TRUE(slots_from_count_are_empty(b));
    }
}

TEST_F(ChangeBufferTest, SettledRecordsGoAndTheRestKeepTheirOrder)
{
    for (gint32 i = 1; i <= static_cast<gint32>(MAX_BUFFER_SIGNAL_SIZE); i++)
        add(0, i, ("P" + std::to_string(i)).c_str(), {{2, OWES_NAMED}, {3, OWES_NAMED}});
    EXPECT_EQ(signal(1, "P1", 2, 0, 1), Seen::NAMED);
    EXPECT_EQ(signal(1, "P1", 3, 0, 1), Seen::NAMED);
    EXPECT_EQ(counts[0], MAX_BUFFER_SIGNAL_SIZE - 1);
    EXPECT_EQ(buffers[0].records[0].preset_id, 2);
    EXPECT_STREQ(buffers[0].records[30].name, "P32");
    EXPECT_EQ(owed_row(&buffers[0], 30)[2], OWES_NAMED);
    EXPECT_TRUE(slots_from_count_are_empty(0));
    clear_records(&buffers[0], &counts[0]);
    EXPECT_EQ(counts[0], 0u);
    EXPECT_TRUE(slots_from_count_are_empty(0));
    // An empty buffer has nothing owed, not even for preset 0.
    EXPECT_EQ(signal(0, "", 2, 1, 1), Seen::CHANGE);
}

TEST_F(ChangeBufferTest, LongNamesAreKeptCutAndStillMatchTheirEcho)
{
    std::string long_name(200, 'a');
    add(1, 9, long_name.c_str(), {{3, OWES_NAMED}, {4, BOTH}});
    EXPECT_EQ(std::string(buffers[1].records[0].name), std::string(95, 'a'));
    EXPECT_EQ(signal(9, std::string(94, 'a').c_str(), 4), Seen::CHANGE);
    // A name that differs only beyond what the record keeps reads as the same.
    std::string other_tail = std::string(95, 'a') + "b";
    EXPECT_EQ(signal(9, other_tail.c_str(), 3), Seen::NAMED);
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
    add(1, 4, name.c_str(), {{2, OWES_NAMED}});
    EXPECT_EQ(std::string(buffers[1].records[0].name), std::string(94, 'x'));
    EXPECT_EQ(signal(4, name.c_str(), 2), Seen::NAMED);
}

} // namespace
